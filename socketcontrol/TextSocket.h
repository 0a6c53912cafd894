// TextSocket.h: the control's line-oriented TCP connection. It owns one socket core (TheSocket) and adds:
// - cutting the received stream into lines at any of a list of terminators (LineArrived per line);
// - a send buffer, so a send never blocks: what Windows Sockets cannot take now goes out on the core's
//   next ReadyToSend, and the owner hears ReadyToSend once that buffer has drained;
// - optional escaping of CR, LF and ESC inside the data (Escape), so any text fits in CR LF lines;
// - accepting: a listening text socket hands each connection to its owner as a new TextSocket.
//
// Text is UTF-8 at the interface and Windows-1252 on the wire; both buffers hold the Windows-1252
// bytes, so every count (ReceiveBufferSize, SendBufferSize, MaxLineLength) is in characters = bytes.
// There is no close member: the connection ends when the last reference goes.
#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <span>
#include <string>

#include "platform/object/EventSource.h"
#include "socketcontrol/LineBuffer.h"
#include "socketcontrol/MemberInfo.h"
#include "socketcontrol/ObjectCounts.h"
#include "socketcontrol/SocketEnums.h"

class WSocket;
class Quellox;
class TextSocket;

// Events of TextSocket (source interface __TextSocket), in dispatch id order. Empty defaults: an owner
// overrides what it handles.
class TextSocketEvents {
public:
    virtual ~TextSocketEvents() = default;
    virtual void Closed() {}
    virtual void Connected() {}
    virtual void Error(int32_t /*ErrorCode*/, const std::string& /*ErrorDesc*/) {}
    // An owner that lets go of the socket in here hears no further lines: they go with the socket.
    virtual void LineArrived(const std::string& /*Data*/) {}
    // The owner keeps NewSocket (a connected text socket) by taking a reference; if it keeps none the
    // connection is closed when the handling ends.
    virtual void NewConnection(std::shared_ptr<TextSocket>& /*NewSocket*/) {}
    virtual void ReadyToSend() {}
    virtual void TimedOut() {}
};

class TextSocket final : public std::enable_shared_from_this<TextSocket> {
public:
    // A text socket with its own stream socket and all notifications selected, but not registered, so
    // it receives no notifications; the control's CreateTextSocket and accepting give registered ones.
    static std::shared_ptr<TextSocket> create();
    // Takes the core out of the socket registry and closes it; errors are ignored.
    ~TextSocket();
    TextSocket(const TextSocket&) = delete;
    TextSocket& operator=(const TextSocket&) = delete;

    void bind_events(std::weak_ptr<TextSocketEvents> sink) { events_.bind(std::move(sink)); }
    void unbind_events() { events_.unbind(); }

    // ---- the members of _TextSocket, in slot order ----
    // Adds a terminator at the end of the list: 20001 while Escape is true, 5 for the empty text.
    void AppendLineTerminator(const std::string& nval);
    void Connect();
    bool Escape() const noexcept { return Escape_; }
    // Setting true while false first makes the list [CR LF], as LineTerminator = CR LF would.
    void Escape(bool value);
    std::string HostName();
    void HostName(const std::string& value);
    std::string LastLineTerminator() const;
    std::string LineTerminator() const;  // the first entry, or "" when the list is empty
    // The list becomes [nval], or empty for ""; 20001 while Escape is true.
    void LineTerminator(const std::string& nval);
    void Listen();
    std::string LocalIpAddress();
    void LocalIpAddress(const std::string& value);
    int16_t LocalPort();
    void LocalPort(int16_t value);
    int32_t ReceiveBufferSize() const noexcept;
    std::string RemoteIPAddress();
    void RemoteIPAddress(const std::string& value);
    int16_t RemotePort();
    void RemotePort(int16_t value);
    bool ResolveHost();
    void ResolveHost(bool value);
    int32_t SendBufferSize() const noexcept;
    // Appends Data (escaped when Escape is on) and the first terminator to the send buffer and sends as
    // much of the buffer as Windows Sockets takes; true when all of it went. Never waits.
    bool SendLine(const std::string& Data);
    // The same without escaping and without a terminator.
    bool SendRaw(const std::string& Data);
    int32_t State();
    // Inactivity time-out in tenths of a second (0: off); the getter returns the value last set.
    int32_t Timeout();
    void Timeout(int32_t value);

    // Longest line, in characters as it arrives (before unescaping), that LineArrived delivers; 0 (the
    // default) means no limit. A longer line is dropped (as far as it has arrived, and the rest of it as
    // it arrives) and reported once through Error with number kLineTooLong, so a peer that never sends a
    // terminator cannot make the receive buffer grow without bound. Not copied to accepted sockets.
    int32_t MaxLineLength() const noexcept { return max_line_length_; }
    void MaxLineLength(int32_t value);
    static constexpr int32_t kLineTooLong = 10040;  // WSAEMSGSIZE, "Message too long"

    // The core's SocketOption, for what a text socket's owner must tune itself: a server answering
    // requests switches Nagle's algorithm off (WSSO_NagleAlg, 1) so that a small reply never waits for
    // the peer's delayed acknowledgement. Errors are the core's.
    int32_t SocketOption(int32_t OptionName);
    void SocketOption(int32_t OptionName, int32_t Value);

    // Dispatch ids and help strings of the members and of the events, in the type library's order.
    static std::span<const MemberInfo> members();
    static std::span<const MemberInfo> events();

private:
    friend class Quellox;
    class CoreEvents;  // receives the core's events without keeping this socket alive

    TextSocket();
    // A text socket on `core` (the control's CreateTextSocket and accepting): the construction defaults
    // without the throw-away socket of create(), since the core is replaced at once anyway.
    static std::shared_ptr<TextSocket> create_on(std::shared_ptr<WSocket> core);
    // Internal operations of the control: read and replace the core (attaching releases the old one).
    const std::shared_ptr<WSocket>& TheSocket() const noexcept { return TheSocket_; }
    void TheSocket(std::shared_ptr<WSocket> core);
    WSocket& core();

    // Handlers of the core's events; each reports its own failures through Error.
    void core_data_arrived(int32_t ByteCount);
    void core_closed();
    void core_new_connection();
    void core_ready_to_send();
    // The receiving steps: read up to `count` bytes and deliver every complete line.
    void receive(int32_t count);
    void deliver_lines();
    void deliver(std::string line);
    bool too_long(const std::string& line) const noexcept;
    void check_pending_length();
    void report_line_too_long();
    void compact_send_buffer();
    // Sends from the send buffer until it is empty (true) or Windows Sockets would block (false).
    bool flush();
    bool orphaned() const noexcept;  // nobody but the running handler holds this socket any more
    void report_failure(const char* context);  // inside a catch: raises Error for the caught failure
    template <class F>
    void raise(F&& fn) { events_.raise(std::forward<F>(fn)); }

    std::shared_ptr<WSocket> TheSocket_;       // owned; the registry holds it too while registered
    LineBuffer receive_buffer_;                // received bytes not yet delivered, and the terminator list
    std::string send_buffer_;                  // send_buffer_[send_start_, end) waits for Windows Sockets
    size_t send_start_ = 0;                    // what went out is dropped from the front lazily
    std::string last_line_terminator_;         // Windows-1252, as the terminators are kept
    bool Escape_ = false;
    int32_t max_line_length_ = 0;
    bool skipping_long_line_ = false;          // dropping the rest of an overlong line until its terminator
    std::shared_ptr<CoreEvents> core_events_;  // the sink the core holds weakly
    EventSource<TextSocketEvents> events_;
    LiveCount counted_{&ObjectCounts::TextSocketCount};
};
