// General.h: the settings that every object of the client library on one thread shares, and GetNext.
// iConnection writes them; SyncSocket and iRecordSet read them at each connect and request.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

class Dispatch;

namespace tolvix {

struct Settings {
    std::string IP;                // gateway address; wins over IPServer
    int32_t Port = 0;              // below 1: 1007
    std::string IPServer;          // gateway host name
    bool Intranet = false;         // LocalInit allowed
    bool ErrorCheck = true;        // acknowledgement mode for new connections
    bool SDebug = false;           // "Sendt: " and "Got: " trace lines
    std::string Separator = "\x02";
    bool LocalMode = false;        // in-process for the rest of the thread's life
    std::shared_ptr<Dispatch> LocalConnection;   // the DBConnect of in-process mode
};

// This thread's settings, at their initial values on first use.
Settings& General();

// The token before the first `sep` (STX when `sep` is empty; the caller's `sep` is then set to it), taken
// off `iStr`; all of `iStr` when there is no separator; "\@" reads as "".
std::string GetNext(std::string& iStr, std::string& sep);

}  // namespace tolvix
