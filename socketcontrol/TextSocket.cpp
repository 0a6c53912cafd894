// TextSocket.cpp: the line-oriented connection: lines in, lines out, escaping, accepting, lifetime.
#include "socketcontrol/TextSocket.h"

#include <algorithm>
#include <array>
#include <climits>
#include <new>
#include <string>
#include <utility>

#include "common/ComError.h"
#include "common/Cp1252.h"
#include "socketcontrol/LineEscaping.h"
#include "socketcontrol/SocketRegistry.h"
#include "socketcontrol/WSocket.h"

namespace {

constexpr MemberInfo kMembers[] = {
    {"AppendLineTerminator", 0x6003000E, "Add a new character sequence to the Line Terminators collection."},
    {"Connect", 0x6003000F, "Connects to a remote system."},
    {"Escape", 0x6803000D,
     "When TRUE any line terminator characters in the data are escaped. When FALSE character escaping is not "
     "used."},
    {"HostName", 0x6803000C, "Domain name of the remote host to be connected to."},
    {"LastLineTerminator", 0x6803000B, "Returns the Line Terminator of the last line of text."},
    {"LineTerminator", 0x6803000A, "The default (first one) text line terminator (default CR/LF)"},
    {"Listen", 0x60030012, "Starts a server socket listening for incoming connections."},
    {"LocalIpAddress", 0x68030009, "Local IP address to be used OR being used."},
    {"LocalPort", 0x68030008, "Local Port to be used OR being used."},
    {"ReceiveBufferSize", 0x68030007, "Number of bytes in the receive buffer."},
    {"RemoteIPAddress", 0x68030006, "IP address of the peer to be connected to OR currently connected to."},
    {"RemotePort", 0x68030005, "Port number of the peer to be connected to OR currently connected to."},
    {"ResolveHost", 0x68030004,
     "Indicates whether the HostName property is to be resolved to an IP Address before a Connect is "
     "attempted."},
    {"SendBufferSize", 0x68030003, "Number of byte in the send buffer."},
    {"SendLine", 0x60030014,
     "Sends a line of text to the remote peer. A CR/LF is automatically add to the end of the line of text."},
    {"SendRaw", 0x60030015, "Send data to the remote peer without adding a CR/LF."},
    {"State", 0x68030001, "Current state of the connection."},
    {"Timeout", 0x68030000, "Inactivity Timeout value in 1/10s of a second"},
};

constexpr MemberInfo kEvents[] = {
    {"Closed", 1, "Raised when the remote peer gracefully closes the connection."},
    {"Connected", 2, "Raised when a connection is established to a remote system."},
    {"Error", 3, "Raised when an error is detected within an asynchronous process."},
    {"LineArrived", 4, "Raised when a line of text arrives from the remote host."},
    {"NewConnection", 5, "Raised when a new client connects to a server socket."},
    {"ReadyToSend", 6, "Raised when the socket can be written to."},
    {"TimedOut", 7, "Fires when the socket times out."},
};

const std::string kCrLf = "\r\n";
constexpr const char* kSource = "TextSocket";

// Prefixes of the Error event for failures while handling the core's events ("processsing" is the
// system's own spelling; owners may compare the text).
constexpr const char* kDataArrivedFailed = "Failure processing DataArrived event in TextSocket. Source: ";
constexpr const char* kAcceptFailed = "Failure accepting new TextSocket connection. Source: ";
constexpr const char* kReadyToSendFailed = "Failure processsing TextSocket ReadyToSend event. Source: ";

// Bytes one read of an arrival may take: what a busy peer sends between two passes of the pump.
constexpr int32_t kArrivalChunk = 64 * 1024;

// A drained send buffer keeps its storage for the next lines, unless a burst made it this large.
constexpr size_t kKeptSendCapacity = size_t{1} << 20;

}  // namespace

// Passes the core's events to the text socket's handlers. It holds the text socket weakly (the text
// socket owns it) and pins it for the length of each event: that pin is the only reference the
// handlers take, so orphaned() can tell when the owner has let go inside a handler.
class TextSocket::CoreEvents final : public WSocketEvents {
public:
    explicit CoreEvents(std::weak_ptr<TextSocket> socket) : socket_(std::move(socket)) {}

    void Closed() override {
        if (auto self = socket_.lock()) self->core_closed();
    }
    void Connected() override {
        pass([](TextSocketEvents& s) { s.Connected(); });
    }
    void DataArrived(int32_t ByteCount) override {
        if (auto self = socket_.lock()) self->core_data_arrived(ByteCount);
    }
    void Error(int32_t ErrorCode, const std::string& ErrorDesc) override {
        pass([&](TextSocketEvents& s) { s.Error(ErrorCode, ErrorDesc); });
    }
    // A text socket looks names up only for Connect, whose successful lookup goes on to connect without
    // this event; what arrives here is a failed lookup, which the owner hears of as an error.
    void HostNameResolved(int32_t Status, const std::string& Result) override {
        pass([&](TextSocketEvents& s) { s.Error(Status, Result); });
    }
    void NewConnection() override {
        if (auto self = socket_.lock()) self->core_new_connection();
    }
    void ReadyToSend() override {
        if (auto self = socket_.lock()) self->core_ready_to_send();
    }
    void TimedOut() override {
        pass([](TextSocketEvents& s) { s.TimedOut(); });
    }

private:
    template <class F>
    void pass(F&& fn) {
        if (const auto self = socket_.lock()) self->raise(std::forward<F>(fn));
    }
    std::weak_ptr<TextSocket> socket_;
};

// ---- lifetime ----

TextSocket::TextSocket() { receive_buffer_.set_terminators({kCrLf}); }

std::shared_ptr<TextSocket> TextSocket::create() {
    std::shared_ptr<TextSocket> socket(new TextSocket());
    socket->TheSocket(WSocket::create());
    socket->core().CreateHandle(QXStream);
    socket->core().AsyncSelect(WSFDAll);
    return socket;
}

std::shared_ptr<TextSocket> TextSocket::create_on(std::shared_ptr<WSocket> core) {
    std::shared_ptr<TextSocket> socket(new TextSocket());
    socket->TheSocket(std::move(core));
    return socket;
}

TextSocket::~TextSocket() {
    if (!TheSocket_) return;
    try {
        if (SocketRegistry* registry = SocketRegistry::current_if_alive())
            registry->Remove(std::to_string(TheSocket_->SocketHandle()));
        TheSocket_->unbind_events();
        TheSocket_->CloseSocket();
    } catch (...) {
        // A socket already closed (by Windows Sockets' clean-up at thread shut-down, say) is no failure here.
    }
}

// Each arrival is read with one read of up to kArrivalChunk bytes, so the core need not ask how many
// bytes wait (a system call per arrival).
void TextSocket::TheSocket(std::shared_ptr<WSocket> core) {
    if (TheSocket_) {
        TheSocket_->unbind_events();
        TheSocket_->counts_arrivals(true);
    }
    if (!core_events_) core_events_ = std::make_shared<CoreEvents>(weak_from_this());
    TheSocket_ = std::move(core);
    if (TheSocket_) {
        TheSocket_->bind_events(core_events_);
        TheSocket_->counts_arrivals(false);
    }
}

WSocket& TextSocket::core() {
    if (!TheSocket_) throw vb_error(kErrObjectNotSet, kSource);
    return *TheSocket_;
}

std::span<const MemberInfo> TextSocket::members() { return kMembers; }
std::span<const MemberInfo> TextSocket::events() { return kEvents; }

// ---- the terminator list and escaping ----

void TextSocket::AppendLineTerminator(const std::string& nval) {
    if (Escape_) throw ComError(kUsageError, kSource, "You cannot append line terminators while the Escape property is TRUE!");
    if (nval.empty()) throw ComError(kErrInvalidCall, kSource, "You cannot append a blank line terminator");
    std::vector<std::string> list = receive_buffer_.terminators();
    list.push_back(cp1252::from_utf8(nval));
    receive_buffer_.set_terminators(std::move(list));
}

void TextSocket::LineTerminator(const std::string& nval) {
    if (Escape_) throw ComError(kUsageError, kSource, "You cannot set the line terminator while the Escape property is TRUE!");
    if (nval.empty())
        receive_buffer_.set_terminators({});
    else
        receive_buffer_.set_terminators({cp1252::from_utf8(nval)});
}

std::string TextSocket::LineTerminator() const {
    const auto& list = receive_buffer_.terminators();
    return list.empty() ? std::string() : cp1252::to_utf8(list.front());
}

std::string TextSocket::LastLineTerminator() const { return cp1252::to_utf8(last_line_terminator_); }

// While Escape is on the list is always [CR LF]: escaping protects exactly that pair.
void TextSocket::Escape(bool value) {
    if (value && !Escape_) LineTerminator(kCrLf);
    Escape_ = value;
}

void TextSocket::MaxLineLength(int32_t value) {
    if (value < 0) throw vb_error(kErrInvalidCall, kSource);
    max_line_length_ = value;
}

// ---- sending ----

int32_t TextSocket::SendBufferSize() const noexcept { return static_cast<int32_t>(send_buffer_.size() - send_start_); }

bool TextSocket::SendLine(const std::string& Data) {
    const std::string bytes = cp1252::from_utf8(Data);
    compact_send_buffer();
    if (Escape_)
        line_escaping::escape(bytes, send_buffer_);
    else
        send_buffer_ += bytes;
    const auto& list = receive_buffer_.terminators();
    if (!list.empty()) send_buffer_ += list.front();
    return flush();
}

bool TextSocket::SendRaw(const std::string& Data) {
    compact_send_buffer();
    send_buffer_ += cp1252::from_utf8(Data);
    return flush();
}

// Drops what already went out from the front, once that is at least half the buffer, so the bytes of a
// long send buffer are moved a bounded number of times however many partial sends it takes.
void TextSocket::compact_send_buffer() {
    if (send_start_ == 0 || send_start_ < send_buffer_.size() / 2) return;
    send_buffer_.erase(0, send_start_);
    send_start_ = 0;
}

// Hands the unsent part of the buffer to Windows Sockets until all of it is taken (true) or the socket
// would block (false; the rest waits for the core's ReadyToSend). The core's errors pass to the caller
// with the buffer still holding everything not taken.
bool TextSocket::flush() {
    while (send_start_ < send_buffer_.size()) {
        const size_t left = std::min<size_t>(send_buffer_.size() - send_start_, INT32_MAX);
        const int32_t taken = core().send_ansi(std::string_view(send_buffer_).substr(send_start_, left));
        if (taken <= 0) return false;  // -1: would block; 0 would otherwise loop here for ever
        send_start_ += static_cast<size_t>(taken);
    }
    send_buffer_.clear();
    send_start_ = 0;
    if (send_buffer_.capacity() > kKeptSendCapacity) std::string().swap(send_buffer_);
    return true;
}

// The core can take more: send what waits, and tell the owner once all of it has gone.
void TextSocket::core_ready_to_send() {
    if (send_buffer_.size() == send_start_) return;
    try {
        if (flush()) raise([](TextSocketEvents& s) { s.ReadyToSend(); });
    } catch (...) {
        report_failure(kReadyToSendFailed);
    }
}

// ---- receiving ----

int32_t TextSocket::ReceiveBufferSize() const noexcept { return static_cast<int32_t>(receive_buffer_.size()); }

void TextSocket::core_data_arrived(int32_t ByteCount) {
    try {
        receive(ByteCount);
    } catch (...) {
        report_failure(kDataArrivedFailed);
    }
}

// Reads one arrival into the receive buffer and delivers what it completes. The core does not count
// arrivals for a text socket (see TheSocket), so `count` is usually WSocket::kUncounted and one read of up
// to kArrivalChunk bytes takes what is there. With a count (the peer-close path), it asks for one byte
// more than announced: a read that fills its buffer makes the socket layer look again for data left
// behind, and a byte that arrived after the count was taken belongs to this arrival as well.
void TextSocket::receive(int32_t count) {
    const int32_t length = count == WSocket::kUncounted ? kArrivalChunk : (count < INT32_MAX ? count + 1 : count);
    if (length <= kArrivalChunk) {
        thread_local std::array<char, kArrivalChunk> scratch;   // one thread serves all its text sockets
        const int32_t got = core().receive_ansi(scratch.data(), length);
        if (got <= 0) return;
        receive_buffer_.append(std::string_view(scratch.data(), static_cast<size_t>(got)));
    } else {
        const std::string bytes = core().receive_ansi(length);
        if (bytes.empty()) return;
        receive_buffer_.append(bytes);
    }
    if (receive_buffer_.terminators().empty()) {  // no terminators: every arrival is one line, as it came
        std::string line = receive_buffer_.take_all();
        last_line_terminator_.clear();
        raise([&](TextSocketEvents& s) { s.LineArrived(cp1252::to_utf8(line)); });
        return;
    }
    deliver_lines();
}

// Delivers every complete line, earliest terminator first. The owner may change the terminators, send,
// or let go of this socket inside LineArrived; once nobody holds the socket any more the remaining
// lines have nobody to go to and stay undelivered until the socket is destroyed.
void TextSocket::deliver_lines() {
    std::string line;
    while (!orphaned()) {
        const size_t index = receive_buffer_.cut(line);
        if (index == LineBuffer::kNone) break;
        const std::string& terminator = receive_buffer_.terminators()[index];
        if (skipping_long_line_) {  // the end of a line already reported as too long
            skipping_long_line_ = false;
            continue;
        }
        if (too_long(line)) {
            report_line_too_long();
            continue;
        }
        last_line_terminator_ = terminator;
        deliver(std::move(line));
    }
    check_pending_length();
}

void TextSocket::deliver(std::string line) {
    if (Escape_) line = line_escaping::unescape(line);
    const std::string text = cp1252::to_utf8(line);
    raise([&](TextSocketEvents& s) { s.LineArrived(text); });
}

bool TextSocket::too_long(const std::string& line) const noexcept {
    return max_line_length_ > 0 && line.size() > static_cast<size_t>(max_line_length_);
}

// Without a terminator in sight the buffer would grow as long as the peer sends. Once what is buffered
// is longer than MaxLineLength plus a terminator's first bytes, the line is certainly too long: it is
// dropped, and so is the rest of it as it arrives, up to its terminator.
void TextSocket::check_pending_length() {
    if (max_line_length_ <= 0) return;
    const size_t longest = receive_buffer_.longest_terminator();
    const size_t tail = longest > 0 ? longest - 1 : 0;  // may be the start of the terminator
    if (receive_buffer_.size() <= static_cast<size_t>(max_line_length_) + tail) return;
    receive_buffer_.drop_keeping_tail(tail);
    if (skipping_long_line_) return;  // reported when it began
    skipping_long_line_ = true;
    report_line_too_long();
}

void TextSocket::report_line_too_long() {
    const std::string description = std::string(kDataArrivedFailed) + kSource +
                                    " Desc: Line longer than MaxLineLength (" + std::to_string(max_line_length_) +
                                    " characters); it was dropped";
    raise([&](TextSocketEvents& s) { s.Error(kLineTooLong, description); });
}

bool TextSocket::orphaned() const noexcept { return weak_from_this().use_count() <= 1; }

// The peer has closed: read what is still unread, deliver a last line that has no terminator (or report
// it once if it is too long), then raise Closed. Each read reports its own failures; failures of this
// handling itself are ignored. A round that reads nothing ends the reading, so a read that keeps failing
// cannot loop here for ever.
void TextSocket::core_closed() {
    try {
        for (int32_t available = core().BytesAvailable(); available != 0 && !orphaned();) {
            try {
                receive(available);
            } catch (...) {
                report_failure(kDataArrivedFailed);
                break;
            }
            const int32_t left = core().BytesAvailable();
            if (left >= available) break;
            available = left;
        }
        if (orphaned()) return;
        if (!receive_buffer_.empty()) {
            std::string line = receive_buffer_.take_all();
            last_line_terminator_.clear();
            // The rest of a line already reported as too long goes without a second report.
            if (!std::exchange(skipping_long_line_, false)) {
                if (too_long(line))
                    report_line_too_long();
                else
                    deliver(std::move(line));
            }
        }
        raise([](TextSocketEvents& s) { s.Closed(); });
    } catch (...) {
        // Errors of the close handling itself (and of the owner's handlers it runs) are ignored.
    }
}

// ---- accepting ----

// A connection waits on the listening socket: accept it, give it a new text socket with the defaults of
// construction (nothing of this socket's settings is copied), register its core and hand it over. If
// the owner keeps no reference, the new text socket goes when this handling ends and closes the
// connection.
void TextSocket::core_new_connection() {
    try {
        std::shared_ptr<WSocket> accepted = core().Accept();
        std::shared_ptr<TextSocket> socket = create_on(accepted);
        SocketRegistry::current().Add(accepted);
        raise([&](TextSocketEvents& s) { s.NewConnection(socket); });
    } catch (...) {
        report_failure(kAcceptFailed);
    }
}

// ---- failures while handling the core's events ----

void TextSocket::report_failure(const char* context) {
    int32_t number = kErrAutomation;
    std::string source = kSource;
    std::string description;
    try {
        throw;
    } catch (const ComError& e) {
        number = e.number();
        source = e.source();
        description = e.description();
    } catch (const std::bad_alloc&) {
        number = kErrOutOfMemory;
        description = vb_error_text(kErrOutOfMemory);
    } catch (const std::exception& e) {
        description = e.what();
    } catch (...) {
        description = vb_error_text(kErrAutomation);
    }
    const std::string text = context + source + " Desc: " + description;
    raise([&](TextSocketEvents& s) { s.Error(number, text); });
}

// ---- members passed straight to the core ----

void TextSocket::Connect() { core().Connect(); }
std::string TextSocket::HostName() { return core().HostName(); }
void TextSocket::HostName(const std::string& value) { core().HostName(value); }
void TextSocket::Listen() { core().Listen(); }
std::string TextSocket::LocalIpAddress() { return core().LocalIpAddress(); }
void TextSocket::LocalIpAddress(const std::string& value) { core().LocalIpAddress(value); }
int16_t TextSocket::LocalPort() { return core().LocalPort(); }
void TextSocket::LocalPort(int16_t value) { core().LocalPort(value); }
std::string TextSocket::RemoteIPAddress() { return core().RemoteIPAddress(); }
void TextSocket::RemoteIPAddress(const std::string& value) { core().RemoteIPAddress(value); }
int16_t TextSocket::RemotePort() { return core().RemotePort(); }
void TextSocket::RemotePort(int16_t value) { core().RemotePort(value); }
bool TextSocket::ResolveHost() { return core().ResolveHost(); }
void TextSocket::ResolveHost(bool value) { core().ResolveHost(value); }
int32_t TextSocket::State() { return core().State(); }
int32_t TextSocket::SocketOption(int32_t OptionName) { return core().SocketOption(OptionName); }
void TextSocket::SocketOption(int32_t OptionName, int32_t Value) { core().SocketOption(OptionName, Value); }
int32_t TextSocket::Timeout() { return core().GetTimeout(); }
void TextSocket::Timeout(int32_t value) { core().SetTimeout(value); }
