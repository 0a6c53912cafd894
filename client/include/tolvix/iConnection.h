// iConnection.h: the class an application creates to use the client library. It holds the connection
// settings (shared by every object of the calling thread), runs one-shot statements (Direct) and
// middle-tier calls (mtier), and opens record sets (CrOpen). Each call goes to the gateway over TCP, or,
// after LocalInit, in-process to the database component "Skelda.DBConnect" created by ProgID.
//
// Nothing works before Start: until then every call returns 0, "", nullptr or false and sends nothing.
// Errors are raised as ComError, except an unreachable gateway, which is reported to the GatewayDown
// handler (Direct then returns 0, mtier "", CrOpen a record set whose IPOnLine is false).
//
// Everything here belongs to the calling thread: objects of one thread share their settings, objects on
// different threads never see each other's. Nothing is locked.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "tolvix/Enums.h"
#include "tolvix/iRecordSet.h"

namespace tolvix {

class iConnection final {
public:
    // Loads this thread's socket source and resets Intranet, ErrorCheck and SDebug for the whole thread
    // (not IP, IPServer, Port or the in-process mode).
    iConnection();
    ~iConnection();
    iConnection(const iConnection&) = delete;
    iConnection& operator=(const iConnection&) = delete;

    // ---- properties: this thread's settings, read at the next connect ----
    bool SDebug() const;               // trace requests and replies ("Sendt: ", "Got: ") in frmDebug
    void SDebug(bool value);
    bool ErrorCheck() const;           // acknowledgement mode announced to the gateway: errors come back
    void ErrorCheck(bool value);
    bool Intranet() const;             // allows LocalInit
    void Intranet(bool value);
    std::string IPServer() const;      // gateway host name, used when IP is empty
    void IPServer(const std::string& value);
    std::string IP() const;            // gateway address; wins over IPServer
    void IP(const std::string& value);
    int32_t Port() const;              // gateway port 1 to 65535; below 1 means 1007
    void Port(int32_t value);

    // ---- methods ----
    // Records affected by a statement that returns no rows.
    int32_t Direct(const std::string& sel);
    // The middle tier's answer to `inpStr` ("mtier", the separator and inpStr go to the gateway).
    std::string mtier(const std::string& inpStr);
    std::shared_ptr<iRecordSet> CrOpen(const std::string& sel, iCursorTypeEnum cursortype, iLockTypeEnum locktype);
    // Enables everything else; with SDebug on it also shows the trace window.
    void Start();
    // Takes the next token off `iStr` (text before the first `sep`, the separator STX when `sep` is empty);
    // the token "\@" reads as "".
    std::string GetNext(std::string& iStr, const std::string& sep = "");
    // Switches this thread to in-process mode for the rest of its life, when Start and Intranet are both
    // on: creates "Skelda.DBConnect" (the class registry's entry, or libskelda.so beside this library) and
    // opens it with these settings (0 leaves a setting at its default). False on any failure, and gateway
    // mode stays. Whether the database itself opened shows at the first statement.
    bool LocalInit(const std::string& Provider, const std::string& Connectstring, int16_t CommandTimeOut = 0,
                   int16_t ConnectionTimeout = 0, CursorLocationEnum CursorLocation = adUseServer);

    // The property iRecordSet: a record set the application keeps here; the library does not use it. Named
    // RecordSet because a member named after the class it returns would hide that class in this one.
    std::shared_ptr<tolvix::iRecordSet> RecordSet() const { return iRecordSet_; }
    void RecordSet(std::shared_ptr<tolvix::iRecordSet> value) { iRecordSet_ = std::move(value); }

    // ---- the event ----
    // Called (on this thread, inside the call) when the gateway cannot be reached. A handler may throw;
    // the exception then leaves the call that found the gateway down.
    void on_GatewayDown(std::function<void()> handler) { gateway_down_ = std::move(handler); }

private:
    void raise_GatewayDown();

    std::shared_ptr<tolvix::iRecordSet> iRecordSet_;
    bool Started_ = false;
    std::function<void()> gateway_down_;
};

}  // namespace tolvix
