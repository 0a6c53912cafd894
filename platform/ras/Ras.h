// Ras.h: the Remote Access Service calls the dialer makes, over a phonebook file and two dial backends
// of our own (see README, "Dial-up networking"). The calls keep the ANSI signatures, record layouts,
// state numbers and error numbers of the service, so code written against it runs unchanged:
// records are byte buffers whose first 32-bit field says which layout the caller means, and every call
// returns 0 or an error number (600-range RAS numbers, or 6/87/122 of the operating system).
//
// Threads: every call returns at once and may be made from any thread. RasDialA dials on a thread of
// its own and calls the notifier there, never while holding a lock of ours, so a notifier may call
// RasGetConnectStatusA or RasHangUpA. Once RasHangUpA has returned, no notification for that handle
// starts any more.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace ras {

using HRASCONN = uint32_t;   // 0 is never a connection; handles are not reused within a process

// Record sizes the calls accept (the dwSize field of each record).
constexpr uint32_t kEntryNameSize = 264;     // RASENTRYNAMEA
constexpr uint32_t kDialParamsSize = 1052;   // RASDIALPARAMSA
constexpr uint32_t kConnStatusSize = 160;    // RASCONNSTATUSA
constexpr uint32_t kPppIpSize = 40;          // RASPPPIPA

constexpr uint32_t kRaspPppIp = 0x8021;        // the IP projection
constexpr uint32_t kWmRasDialEvent = 0xCCCD;   // unMsg of every notification

// Connection states (RASCONNSTATE) the backends report.
enum RasConnState : uint32_t {
    RASCS_OpenPort = 0,
    RASCS_PortOpened = 1,
    RASCS_ConnectDevice = 2,
    RASCS_DeviceConnected = 3,
    RASCS_AllDevicesConnected = 4,
    RASCS_Authenticate = 5,
    RASCS_AuthNotify = 6,
    RASCS_AuthProject = 10,
    RASCS_Authenticated = 14,
    RASCS_Projected = 18,
    RASCS_Connected = 0x2000,
    RASCS_Disconnected = 0x2001,
};

// Error numbers the calls return; their texts come from RasGetErrorStringA.
enum RasError : uint32_t {
    kRasOk = 0,
    kErrorInvalidHandle = 6,
    kErrorInvalidParameter = 87,
    kErrorInsufficientBuffer = 122,
    kErrorBufferTooSmall = 603,
    kErrorBufferInvalid = 610,
    kErrorCannotOpenPhonebook = 621,
    kErrorCannotFindPhonebookEntry = 623,
    kErrorCorruptPhonebook = 625,
    kErrorInvalidSize = 632,
    kErrorPortNotAvailable = 633,
    kErrorRequestTimeout = 638,
    kErrorFromDevice = 651,
    kErrorAuthenticationFailure = 691,
    kErrorProjectionNotComplete = 730,
    kErrorProtocolNotConfigured = 731,
    kErrorPppNoAddressAssigned = 738,
    kErrorDialAlreadyInProgress = 756,
};

// Notifier type 1: (connection, WM_RASDIALEVENT, state about to be entered, error, extended error).
// Called on the dial's own thread; with error 0 on entry to each state, and once more for the same
// state with the error when that state fails, after which no notification follows.
using RasDialFunc1 = std::function<void(HRASCONN hrasconn, uint32_t unMsg, uint32_t rascs, uint32_t dwError,
                                        uint32_t dwExtendedError)>;

// A null `phonebook` means the default one (ras::default_phonebook()); otherwise it is a file path.

// The entries as an array of 264-byte RASENTRYNAMEA records (dwSize 264 in the first). *lpcb is the
// buffer size in; the bytes needed (603 when too small) or used out; *lpcEntries the entry count.
// A missing phonebook file has no entries; one that cannot be read gives 621, a malformed one 625.
uint32_t RasEnumEntriesA(const char* reserved, const char* phonebook, void* lpRasEntryName, uint32_t* lpcb,
                         uint32_t* lpcEntries);

// Fills user name, password and domain of the entry named in the 1052-byte record (phone and callback
// number are left empty: the entry's own number is used). 623 for an unknown entry.
uint32_t RasGetEntryDialParamsA(const char* phonebook, void* lpRasDialParams, int32_t* lpfPassword);

// Starts dialling the entry named in the dial parameters and returns at once; the outcome arrives
// through the notifier. `lpRasDialExtensions` must be null and `dwNotifierType` 1. *lphRasConn must be
// 0 on entry; it receives the handle, which the caller must hang up even when the call fails.
uint32_t RasDialA(const void* lpRasDialExtensions, const char* phonebook, const void* lpRasDialParams,
                  uint32_t dwNotifierType, RasDialFunc1 lpvNotifier, HRASCONN* lphRasConn);

// Ends the connection (also mid-dial) and frees the handle: 0, or 6 for an unknown handle. Any work
// left (a down command, ending the up command) finishes in the background.
uint32_t RasHangUpA(HRASCONN hrasconn);

// State, error and device of a connection into a 160-byte RASCONNSTATUSA; 6 once the handle is
// hung up or the link has gone down.
uint32_t RasGetConnectStatusA(HRASCONN hrasconn, void* lpRasConnStatus);

// The IP projection (kRaspPppIp) into a 40-byte RASPPPIPA: 730 before the link is projected, 731 when
// the entry has no address to report.
uint32_t RasGetProjectionInfoA(HRASCONN hrasconn, uint32_t rasprojection, void* lpprojection, uint32_t* lpcb);

// The text of a RAS error number, NUL-terminated, into a buffer of cchBuf characters: 87 for a number
// that is not a RAS error, 122 when the buffer is too small.
uint32_t RasGetErrorStringA(uint32_t uErrorValue, char* lpszErrorString, uint32_t cchBuf);

// The default phonebook: $RAS_PHONEBOOK when set, else $XDG_CONFIG_HOME/record-gateway/phonebook.ini
// (XDG_CONFIG_HOME defaulting to ~/.config).
std::string default_phonebook();

// Where the stand-in reports what a caller's error number cannot say (which phonebook line is
// malformed, a phonebook with passwords that others may read, a command that failed to start). May be
// called from any thread; the sink must be thread-safe. Without a sink the messages are dropped.
void set_log_sink(std::function<void(const std::string&)> sink);

}  // namespace ras
