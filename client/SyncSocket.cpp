// SyncSocket.cpp: connecting, the key header, sending a request and reading a reply.
//
// The client chooses each connection's key and announces it in a header in front of the first request,
// which still goes out under the initial key. A key value k turns the character of code 3 - k into the
// terminator, which would cut a request in two at the gateway; the values are therefore drawn only from
// those whose code 3 - k is a control character that no text, tab or line break holds, and a request that
// still contains such a character is refused before anything is sent.
#include "client/SyncSocket.h"

#include <algorithm>
#include <random>

#include "client/General.h"
#include "common/ComError.h"
#include "common/Conversions.h"
#include "common/Cp1252.h"
#include "socketcontrol/Socket.h"
#include "socketcontrol/SocketEnums.h"
#include "tolvix/frmDebug.h"

namespace tolvix {

namespace {

constexpr const char* kSource = "Tolvix.SyncSocket";
constexpr int32_t kConnectionClosed = 10054;   // WSAECONNRESET: the number a closed connection reads as

// Key values a client may draw: for each, the code that would become the terminator is a control
// character other than tab, line feed, carriage return and STX.
constexpr int16_t kAllowedKeyValues[] = {-9, -8, -5, -4, -3, -2, -1, 0, 2, 3};

bool allowed_key_value(int16_t v) {
    return std::find(std::begin(kAllowedKeyValues), std::end(kAllowedKeyValues), v) != std::end(kAllowedKeyValues);
}

// The generator is never seeded, so every process draws the same sequence of keys; one per thread, since
// nothing in the library is locked.
double next_random() {
    thread_local std::mt19937 generator;
    return std::generate_canonical<double, 53>(generator);
}

}  // namespace

SyncSocket::SyncSocket() : Key_(wire::initial_key()) {}
SyncSocket::~SyncSocket() = default;

Socket& SyncSocket::socket() {
    if (!Socket_) throw vb_error(kErrObjectNotSet, kSource);
    return *Socket_;
}

// IP wins over IPServer; neither means 127.0.0.1. Every failure, the socket's or a port outside 1..65535,
// ends in false with the socket dropped: the caller reports an unreachable gateway.
bool SyncSocket::SockInit(std::shared_ptr<Socket> sock) {
    try {
        Socket_ = std::move(sock);
        const Settings& s = General();
        Socket& so = socket();
        if (!s.IP.empty()) {
            so.RemoteIPAddress(s.IP);
            so.ResolveHost(false);
        } else if (!s.IPServer.empty()) {
            so.HostName(s.IPServer);
            so.ResolveHost(true);
        } else {
            so.RemoteIPAddress("127.0.0.1");
            so.ResolveHost(false);
        }
        const int32_t port = s.Port < 1 ? kDefaultPort : s.Port;
        if (port > 65535) throw vb_error(kErrOverflow, kSource);
        so.RemotePort(static_cast<int16_t>(static_cast<uint16_t>(port)));   // the core reads it unsigned
        so.Connect();
        Key_ = wire::initial_key();
        replies_ = ReplyStream();
        NewKeyPending_ = true;
        return true;
    } catch (const std::exception&) {
        Socket_.reset();
        return false;
    }
}

std::string SyncSocket::InitString(int16_t nr) {
    if (nr < 1 || nr > static_cast<int16_t>(wire::Key::kMaxLength)) throw vb_error(kErrSubscript, kSource);
    NewKey_.clear();
    for (int16_t i = 0; i < nr; ++i) {
        int16_t v;
        do {
            v = static_cast<int16_t>(vb::round_half_even(next_random() * 20 - 10));
            if (v == 1) v = 3;
        } while (!allowed_key_value(v));
        NewKey_.push_back(v);
    }
    std::string header = wire::make_header(General().ErrorCheck, wire::Key(NewKey_));
    header.pop_back();   // the last separator
    return header;
}

Variant SyncSocket::SocketClose() {
    socket().Shutdown(WSSDSend);
    return Variant();
}

void SyncSocket::TCPSend(const std::string& request, Reply reply) {
    Socket& so = socket();
    const Settings& s = General();
    const bool first = NewKeyPending_;
    const bool acknowledge = first ? s.ErrorCheck : acknowledge_;
    const std::string iStr = first ? InitString(kKeyValues) + s.Separator + request : request;
    std::string wire_text = wire::scrambled(cp1252::from_utf8(iStr), Key_);
    if (wire_text.find(wire::kTerminator) != std::string::npos)
        throw ComError(kErrInvalidCall, kSource,
                       "Invalid procedure call or argument: the request holds a control character that would end "
                       "it early on the wire");
    wire_text += wire::kTerminator;
    so.SendBytes(reinterpret_cast<const uint8_t*>(wire_text.data()), static_cast<int32_t>(wire_text.size()));
    if (s.SDebug) frmDebug::instance().add_top("Sendt: " + iStr);
    if (first) {
        Key_ = wire::Key(NewKey_);
        acknowledge_ = acknowledge;
        NewKeyPending_ = false;
    }
    if (!acknowledge_) return;

    std::string ack = TCPRead();
    if (ack == "ok") return;
    // "all" and "buff" send their data after an error too; it is read here so the next reply is in step.
    if (reply == Reply::Always) TCPRead();
    std::string sep;
    const int32_t number = vb::to_int32(Variant(GetNext(ack, sep)));
    throw ComError(number, kSource, ack);
}

std::string SyncSocket::read_chunk() {
    std::string data(kChunk, ' ');
    const int32_t n = socket().ReceiveBytes(reinterpret_cast<uint8_t*>(data.data()), kChunk);
    frmDebug::instance().add_bottom("Recieved: " + cp1252::to_utf8(data));   // the whole buffer, padding too
    if (n == 0) throw ComError(kConnectionClosed, kSource, "The gateway closed the connection");
    data.resize(static_cast<size_t>(n));
    return data;
}

// Reads and traces as many chunks as the reply needs; the framing is ReplyStream's.
std::string SyncSocket::TCPRead() {
    frmDebug& trace = frmDebug::instance();
    if (!replies_.backlog().empty()) trace.add_bottom("Got from buffer: " + cp1252::to_utf8(replies_.backlog()));
    std::string data = replies_.next([this] { return read_chunk(); });
    wire::unscramble(data, Key_);
    std::string result = cp1252::to_utf8(data);
    if (General().SDebug) trace.add_top("Got: " + result);
    return result;
}

}  // namespace tolvix
