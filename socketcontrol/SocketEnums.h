// SocketEnums.h: the public enumerations of the socket control's type library. The socket core, Socket,
// TextSocket and the control all take and return these values, and so do programs that use the control.
//
// They are plain (unscoped) enumerations of 32-bit signed values because callers pass them as numbers
// (the core's CreateHandle(1), AsyncSelect(59)) and combine the flag families by addition; the family
// prefixes (WSSS_, WSSO_, WSIOF_, WSSD, WSFD, QX) keep the names apart.
#pragma once

#include <cstdint>

// The SocketType argument of the control's CreateSocket.
enum QXSocketType : int32_t {
    QXStream = 1,    // TCP
    QXDatagram = 2,  // UDP
};

// The State of a socket core, Socket and TextSocket.
enum SocketState : int32_t {
    WSSS_Idle = 0,
    WSSS_Bound = 1,
    WSSS_Listening = 2,
    WSSS_ResolvingHost = 3,
    WSSS_Connecting = 4,
    WSSS_Connected = 5,
    WSSS_Closed = 99,
    WSSS_AsyncError = 100,
};

// The OptionName argument of SocketOption: the Windows Sockets option numbers themselves, so the core can
// hand them on as they are (level SOL_SOCKET), except WSSO_NagleAlg, which the core maps to TCP_NODELAY.
enum SocketOptionName : int32_t {
    WSSO_Debug = 1,
    WSSO_AcceptConn = 2,
    WSSO_ReuseAddr = 4,
    WSSO_KeepAlive = 8,
    WSSO_DontRoute = 16,
    WSSO_Broadcast = 32,
    WSSO_UseLoopback = 64,
    WSSO_Linger = 128,
    WSSO_OOBInline = 256,
    WSSO_DontLinger = -129,  // the complement of SO_LINGER, as Windows Sockets defines SO_DONTLINGER
    WSSO_SndbufSize = 0x1001,
    WSSO_RcvbufSize = 0x1002,
    WSSO_SndLowater = 0x1003,
    WSSO_RcvLowater = 0x1004,
    WSSO_SndTimeout = 0x1005,
    WSSO_RcvTimeout = 0x1006,
    WSSO_Error = 0x1007,
    WSSO_Type = 0x1008,
    WSSO_NagleAlg = -1,
    WSSO_Max_MSG_Size = 0x2003,
};

// The IOFlags arguments of the send and receive members; values combine by addition.
enum IOFlag : int32_t {
    WSIOF_OOB = 1,
    WSIOF_Peek = 2,
    WSIOF_DontRoute = 4,
};

// The argument of Shutdown.
enum ShutdownOption : int32_t {
    WSSDReceive = 0,
    WSSDSend = 1,
    WSSDBoth = 2,
};

// The Command argument of IoctlSocket: the Windows command codes, which differ from Linux's.
enum IOCTLCommand : int32_t {
    WSFIonRead = 0x4004667F,
    WSFionbio = static_cast<int32_t>(0x8004667EU),
    WSSioCatMark = 0x40047307,
};

// The Events argument of AsyncSelect; values combine by addition. WSFDAll leaves out WSFDOOB.
enum WSEventTypes : int32_t {
    WSFDRead = 1,
    WSFDWrite = 2,
    WSFDOOB = 4,
    WSFDAccept = 8,
    WSFDConnect = 16,
    WSFDClose = 32,
    WSFDAll = 59,
};
