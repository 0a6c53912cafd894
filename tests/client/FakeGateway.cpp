// FakeGateway.cpp: accept, cut at ETX, unscramble, answer from the script.
#include "tests/client/FakeGateway.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

FakeGateway::Answer ok_then(const FakeConnection& c, const std::vector<std::string>& bodies) {
    std::string all = c.reply("ok");
    for (const std::string& b : bodies) all += c.reply(b);
    return {{all}};
}

FakeGateway::FakeGateway(Script script) : script_(std::move(script)) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(listener_, 16) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &length) != 0 || ::pipe(wake_) != 0)
        throw std::runtime_error("fake gateway: cannot listen");
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { serve(); });
}

FakeGateway::~FakeGateway() {
    (void)!::write(wake_[1], "x", 1);
    thread_.join();
    ::close(listener_);
    ::close(wake_[0]);
    ::close(wake_[1]);
}

std::vector<FakeRequest> FakeGateway::requests() {
    std::lock_guard lock(mutex_);
    return requests_;
}

bool FakeGateway::wait_connections_ended(int n) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(5), [&] { return ended_ >= n; });
}

void FakeGateway::serve() {
    for (int number = 1;; ++number) {
        pollfd fds[2] = {{listener_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        ::poll(fds, 2, -1);
        if (fds[1].revents) return;
        const int fd = ::accept(listener_, nullptr, nullptr);
        if (fd < 0) continue;
        // Pieces must leave at once, not wait for the client's delayed acknowledgement of the one before.
        const int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        serve_connection(fd, number);
        ::close(fd);
        std::lock_guard lock(mutex_);
        ++ended_;
        changed_.notify_all();
    }
}

// Reads until the client shuts its side or the script closes; a wake-up ends it too.
void FakeGateway::serve_connection(int fd, int number) {
    FakeConnection connection;
    std::string pending;
    for (;;) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        ::poll(fds, 2, -1);
        if (fds[1].revents) return;
        char buffer[4096];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) return;
        pending.append(buffer, static_cast<size_t>(n));
        for (size_t end; (end = pending.find(wire::kTerminator)) != std::string::npos;) {
            FakeRequest request;
            request.raw = pending.substr(0, end);
            request.connection = number;
            pending.erase(0, end + 1);
            std::string plain = wire::unscrambled(request.raw, connection.key_);
            std::string_view rest = plain;
            if (!connection.header_read_) {
                const wire::Header header = wire::read_header(rest);
                request.header = plain.substr(0, plain.size() - rest.size());
                connection.key_ = header.key;
                connection.acknowledge_ = header.acknowledge;
                connection.header_read_ = true;
            }
            request.plain = std::string(rest);
            {
                std::lock_guard lock(mutex_);
                requests_.push_back(request);
                changed_.notify_all();
            }
            const Answer answer = script_(connection, request);
            for (size_t i = 0; i < answer.pieces.size(); ++i) {
                // A pause between pieces, so that the client's reads see them apart (it is not measured).
                if (i > 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
                if (!answer.pieces[i].empty())
                    ::send(fd, answer.pieces[i].data(), answer.pieces[i].size(), MSG_NOSIGNAL);
            }
            if (answer.close) return;
        }
    }
}
