// gateway_message_fuzz.cpp: one client connection to the gateway, from accept to close, carrying the
// requests of the input: the listening server, the connection's text socket, the worker's unscrambling,
// header, request handling and replies, over a fresh in-memory SQLite database per input.
//
// The gateway runs as in production (SSServer on 127.0.0.1, port chosen by the system, everything on this
// thread's pump); the harness is its client. It needs no seam in the gateway: it connects, sends, half-
// closes and pumps the loop until the gateway has closed the connection, reading every reply on the way.
//
// Input: the first byte's low bit turns the debug switch on (the per-message debug lines are a path of
// their own). The rest is plain-text messages separated by ETX, as a client means them: the first starts
// with the header. The harness scrambles each as a client would: the first with the initial key, every
// later one with the header's key when the header reads as one (else the initial key again). A message
// after an accepted "nkey" therefore arrives under the old key, as noise; that still exercises refusals.
// Scrambled bytes that happen to be ETX cut a message in two on the wire, as they would for a client.
//
// Checked beyond sanitizers: every reply is a well-formed frame, and the gateway finishes the input and
// closes within kDeadline (one thread serves every client, so nothing may stall it).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "common/ComError.h"
#include "common/Conversions.h"
#include "common/WireCodec.h"
#include "gateway/Gateway.h"
#include "gateway/SSServer.h"
#include "platform/msgloop/MessageLoop.h"
#include "platform/msgloop/UniqueFd.h"
#include "socketcontrol/Quellox.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kDeadline = std::chrono::seconds(10);
constexpr int16_t kCommandTimeout = 2;   // seconds: a runaway statement is interrupted, not waited for

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "gateway_message_fuzz: %s\n", what.c_str());
    std::abort();
}

// A gateway for one input: a socket control, a server listening on a free loopback port, and the server's
// database, a fresh in-memory one holding people(id, name, born, score) with three rows. Everything is
// made anew for each input and gone after it, so that a rerun of an input sees what its first run saw,
// and so that the fuzzer's leak check (which runs whenever an input leaves more allocations than it
// found) finds nothing of the gateway's own bookkeeping left over.
class FreshGateway {
public:
    explicit FreshGateway(bool debug) {
        GatewaySettings settings;
        settings.Provider = "SQLite";
        settings.Connect = "Data Source=:memory:";
        settings.CommandTimeout = kCommandTimeout;
        settings.IP = "127.0.0.1";
        gateway_ = std::make_shared<Gateway>(settings, 100);
        gateway_->log.DebugSwitch(debug);
        server_ = std::make_shared<SSServer>(gateway_);
        server_->OpenServer(control_.CreateTextSocket());   // no middle tier is registered: "mtier" is refused
        if (!server_->listening() || !gateway_->db_connect) fail("the gateway did not start");
        const DispatchPtr channel = object_of(gateway_->db_connect->call("Channel"));
        for (const char* sql : {"CREATE TABLE people (id INTEGER PRIMARY KEY, name TEXT, born DATE, score REAL)",
                                "INSERT INTO people VALUES (1, 'Ann', '1990-05-17', 3.5), (2, 'Bo', NULL, 2), "
                                "(3, 'Cy', '2001-01-02', NULL)"}) {
            channel->call("Direct", {Variant(sql)});
            if (!vb::to_text(channel->call("DError")).empty()) fail(std::string("setting up: ") + sql);
        }
    }
    ~FreshGateway() { gateway_->end_workers(); }

    uint16_t port() const { return static_cast<uint16_t>(server_->Server()->LocalPort()); }

private:
    Quellox control_;
    std::shared_ptr<Gateway> gateway_;
    std::shared_ptr<SSServer> server_;
};

// The wire bytes of the input's messages, each scrambled and followed by ETX.
std::string wire_bytes(std::string_view messages) {
    std::string out;
    wire::Key key = wire::initial_key();
    bool first = true;
    while (true) {
        const size_t end = messages.find(wire::kTerminator);
        const std::string_view message = messages.substr(0, end);
        out += wire::frame_request(wire::scrambled(message, key));
        if (first) {
            first = false;
            try {
                std::string_view rest = message;
                key = wire::read_header(rest).key;
            } catch (const ComError&) {
                // The gateway refuses this header and keeps the initial key; so does the client.
            }
        }
        if (end == std::string_view::npos) break;
        messages.remove_prefix(end + 1);
    }
    return out;
}

UniqueFd connect_to(uint16_t port) {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    // A loopback connect completes from the listen backlog, without the gateway's loop.
    if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 && errno != EINPROGRESS)
        fail("connect failed: errno " + std::to_string(errno));
    return fd;
}

// Reads what has arrived into `replies`; false once the gateway has closed the connection.
bool read_replies(int fd, wire::ReplyReader& replies) {
    char buf[65536];
    for (;;) {
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n == 0) return false;
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK) return true;
            if (errno == ECONNRESET) return false;
            fail("recv failed: errno " + std::to_string(errno));
        }
        replies.feed(std::string_view(buf, static_cast<size_t>(n)));
        try {
            while (replies.next()) {
            }
        } catch (const ComError& e) {
            fail("the gateway sent a malformed reply: " + e.description());
        }
    }
}

// Sends `bytes`, half-closes and pumps until the gateway closes; aborts past the deadline.
void converse(uint16_t port, const std::string& bytes) {
    UniqueFd fd = connect_to(port);
    wire::ReplyReader replies;
    const auto deadline = Clock::now() + kDeadline;
    size_t sent = 0;
    bool open = true;
    while (open) {
        if (Clock::now() >= deadline) fail("the gateway did not finish the input in time");
        if (sent < bytes.size()) {
            const ssize_t n = ::send(fd.get(), bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n > 0) sent += static_cast<size_t>(n);
            if (sent == bytes.size()) ::shutdown(fd.get(), SHUT_WR);
        }
        msgloop::run_once(std::chrono::milliseconds(1));
        open = read_replies(fd.get(), replies);
    }
    // Closing with a reset leaves no TIME_WAIT behind: a long run opens hundreds of thousands of connections.
    const linger abort_on_close{1, 0};
    ::setsockopt(fd.get(), SOL_SOCKET, SO_LINGER, &abort_on_close, sizeof abort_on_close);
    // Tasks the worker posted before it ended run now, so nothing of this input reaches the next.
    while (msgloop::MessageLoop::current().pending() > 0) msgloop::run_once(std::chrono::milliseconds(0));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // No operator's class registry file: the run must not depend on the machine.
    ::setenv("CLASS_REGISTRY", "/nonexistent/fuzz-classes.conf", 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    FreshGateway gateway((data[0] & 1) != 0);
    converse(gateway.port(), wire_bytes(std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1)));
    return 0;
}
