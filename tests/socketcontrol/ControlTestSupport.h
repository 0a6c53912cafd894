// ControlTestSupport.h: helpers for the tests of the control's public objects (Socket, TextSocket,
// Quellox): event recorders, a connected pair of text sockets made through the control, and plain POSIX
// peers for the cases where the test must decide exactly what goes on the wire and when.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "PumpUntil.h"
#include "common/ComError.h"
#include "common/Cp1252.h"
#include "platform/msgloop/UniqueFd.h"
#include "socketcontrol/Quellox.h"
#include "socketcontrol/Socket.h"
#include "socketcontrol/TextSocket.h"
#include "tests/support/ErrorOf.h"

// Records the events of a text socket. Lines are kept with the LastLineTerminator read inside the
// handler; accepted sockets are kept (so their connections stay open) unless keep_accepted is false.
struct TextRecorder : TextSocketEvents {
    std::weak_ptr<TextSocket> source;  // for reading LastLineTerminator inside LineArrived
    std::vector<std::string> events;   // "Closed", "Error 10040 ...", "Line abc", ...
    std::vector<std::string> lines;
    std::vector<std::string> terminators;
    std::vector<std::shared_ptr<TextSocket>> accepted;
    bool keep_accepted = true;
    std::function<void(const std::string&)> on_line;
    std::function<void(std::shared_ptr<TextSocket>&)> on_accept;
    std::function<void()> on_closed;

    void Closed() override {
        events.push_back("Closed");
        if (on_closed) on_closed();
    }
    void Connected() override { events.push_back("Connected"); }
    void Error(int32_t code, const std::string& desc) override {
        events.push_back("Error " + std::to_string(code) + " " + desc);
    }
    void LineArrived(const std::string& data) override {
        events.push_back("Line " + data);
        lines.push_back(data);
        if (auto s = source.lock()) terminators.push_back(s->LastLineTerminator());
        if (on_line) on_line(data);
    }
    void NewConnection(std::shared_ptr<TextSocket>& socket) override {
        events.push_back("NewConnection");
        if (on_accept) on_accept(socket);
        if (keep_accepted) accepted.push_back(socket);
    }
    void ReadyToSend() override { events.push_back("ReadyToSend"); }
    void TimedOut() override { events.push_back("TimedOut"); }

    size_t count(const std::string& prefix) const {
        size_t n = 0;
        for (const auto& e : events) n += e.compare(0, prefix.size(), prefix) == 0;
        return n;
    }
    // Characters taken off the wire so far: delivered lines with their terminators.
    size_t consumed() const {
        size_t n = 0;
        for (size_t i = 0; i < lines.size(); ++i)
            n += cp1252::from_utf8(lines[i]).size() + (i < terminators.size() ? cp1252::from_utf8(terminators[i]).size() : 0);
        return n;
    }
};

// A text socket listening on 127.0.0.1 (ephemeral port), made by the control.
inline std::shared_ptr<TextSocket> make_text_listener(Quellox& control, const std::shared_ptr<TextRecorder>& events) {
    auto listener = control.CreateTextSocket();
    listener->LocalIpAddress("127.0.0.1");
    listener->Listen();
    listener->bind_events(events);
    events->source = listener;
    return listener;
}

// A text socket connecting by address to 127.0.0.1:port.
inline std::shared_ptr<TextSocket> make_text_client(Quellox& control, int16_t port, const std::shared_ptr<TextRecorder>& events) {
    auto client = control.CreateTextSocket();
    client->bind_events(events);
    events->source = client;
    client->ResolveHost(false);
    client->RemoteIPAddress("127.0.0.1");
    client->RemotePort(port);
    client->Connect();
    return client;
}

// Two connected text sockets through a listening one; `server` is the accepted one.
struct TextPair {
    std::shared_ptr<TextRecorder> listener_events = std::make_shared<TextRecorder>();
    std::shared_ptr<TextRecorder> client_events = std::make_shared<TextRecorder>();
    std::shared_ptr<TextRecorder> server_events = std::make_shared<TextRecorder>();
    std::shared_ptr<TextSocket> listener, client, server;

    bool open(Quellox& control) {
        listener = make_text_listener(control, listener_events);
        listener_events->keep_accepted = false;
        listener_events->on_accept = [this](std::shared_ptr<TextSocket>& s) {
            server = s;
            server->bind_events(server_events);
            server_events->source = server;
        };
        client = make_text_client(control, listener->LocalPort(), client_events);
        return pump_until([this] { return server && client->State() == WSSS_Connected; });
    }
};

inline uint16_t unsigned_port(int16_t port) { return static_cast<uint16_t>(port); }

// A plain POSIX listening socket on 127.0.0.1 (ephemeral port).
struct RawListener {
    UniqueFd fd{::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)};
    int16_t port = 0;

    RawListener() {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd.get(), reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(fd.get(), 16);
        socklen_t len = sizeof a;
        ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&a), &len);
        port = static_cast<int16_t>(ntohs(a.sin_port));
    }
    UniqueFd accept_one() const { return UniqueFd(::accept4(fd.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC)); }
};

// A plain POSIX client connecting to 127.0.0.1:port; non-blocking when asked (the connect then
// completes in the background).
inline UniqueFd raw_connect(int16_t port, bool non_blocking = false) {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | (non_blocking ? SOCK_NONBLOCK : 0), 0));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(unsigned_port(port));
    const int rc = ::connect(fd.get(), reinterpret_cast<sockaddr*>(&a), sizeof a);
    if (rc != 0 && errno != EINPROGRESS) fd.reset();
    return fd;
}

inline void raw_send(const UniqueFd& fd, const std::string& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd.get(), bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return;
        sent += static_cast<size_t>(n);
    }
}

// Appends what a non-blocking descriptor has to `out`; false once the peer has closed.
inline bool raw_drain(const UniqueFd& fd, std::string& out) {
    char buf[65536];
    for (;;) {
        const ssize_t n = ::recv(fd.get(), buf, sizeof buf, 0);
        if (n > 0) {
            out.append(buf, static_cast<size_t>(n));
            continue;
        }
        return n != 0;  // -1 with EAGAIN: open, nothing more now
    }
}
