// SyncSocket.h: one conversation with the gateway over one blocking TCP connection. It connects, sends
// one request at a time, waits for the whole reply, and hides the framing and the scrambling; it also
// builds the request text of every operation iConnection and iRecordSet send, and reads their replies.
//
// Texts are UTF-8 for callers and Windows-1252 on the wire; lengths on the wire count bytes, so the
// framing works on the converted bytes only.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "client/ReplyStream.h"
#include "common/Variant.h"
#include "common/WireCodec.h"

class Socket;

namespace tolvix {

class SyncSocket final {
public:
    static constexpr int kChunk = 100;            // bytes asked of the socket per read
    static constexpr int16_t kKeyValues = 5;      // values drawn for each connection's key
    static constexpr int kDefaultPort = 1007;

    SyncSocket();
    ~SyncSocket();
    SyncSocket(const SyncSocket&) = delete;
    SyncSocket& operator=(const SyncSocket&) = delete;

    // Configures and connects a fresh blocking stream socket from this thread's settings and loads the
    // initial key. False on any failure (bad port, unknown host, refused connect); the socket is dropped.
    bool SockInit(std::shared_ptr<Socket> socket);
    // Draws `nr` new key values and returns the header that announces them, without its last separator.
    std::string InitString(int16_t nr);
    // Shuts down the sending side; the caller then drops the object.
    Variant SocketClose();

    // ---- requests ----
    void Move(const std::string& Retn);
    void Add();
    void Update();
    void Delete();
    void Cursor(const Variant& ident, const Variant& val);   // "setcursor"
    Variant Cursor(const Variant& ident);                    // "getcursor"
    bool CursorEOF();
    void OpenCursor(const std::string& sel, int32_t cursortype, int32_t locktype);
    void CloseCursor();
    void DBClose();
    double RowCount();
    int32_t Direct(const std::string& sel);
    std::string mtier(const std::string& inpStr);
    // p[0] is always sent, later names only when not empty; at most 12 names.
    std::string Buffer(const std::vector<std::string>& p);
    std::string All(const std::vector<std::string>& p);

    // What follows a request's acknowledgement: nothing, a reply only when the request succeeded, or a
    // reply in every case ("all" and "buff").
    enum class Reply { None, OnSuccess, Always };
    // Sends one request (the key header in front of the first) and, in acknowledgement mode, reads the
    // acknowledgement and raises the error it carries. A request that the key would cut short is refused
    // with 5 before anything is sent.
    void TCPSend(const std::string& iStr, Reply reply = Reply::None);
    // The next reply body, descrambled. Raises when the gateway closes the connection or sends something
    // that is not a reply.
    std::string TCPRead();

private:
    Socket& socket();                                    // 91 when the connection is gone
    std::string read_chunk();                            // one read of at most kChunk bytes, traced
    std::string bulk(const char* command, const std::vector<std::string>& p);
    void cursor_error(const std::string& text);

    std::shared_ptr<Socket> Socket_;
    ReplyStream replies_;                 // the reply framing, and the bytes read beyond the last reply
    wire::Key Key_;                       // in force for both directions
    std::vector<int16_t> NewKey_;         // drawn by InitString, in force after the first send
    bool NewKeyPending_ = false;
    bool acknowledge_ = true;             // the mode announced in the header, kept for the connection
};

}  // namespace tolvix
