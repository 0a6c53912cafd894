// SSServer_test.cpp: a server that cannot listen says so in one debug-list entry and creates nothing; a
// thousand clients at once are all accepted and all get their own answers.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include <cerrno>

#include "tests/gateway/GatewayTestKit.h"

TEST_F(GatewayTest, PortInUseIsOneFailureEntry) {
    GatewaySettings settings = gateway_->settings;
    settings.Port = port();
    const auto second = std::make_shared<Gateway>(settings);
    const auto server = std::make_shared<SSServer>(second);
    server->OpenServer(control_->CreateTextSocket());
    EXPECT_FALSE(server->listening());
    ASSERT_EQ(second->log.debug_list().size(), 1u);
    EXPECT_EQ(second->log.debug_list().front().rfind("Failure starting  server!Code: 10048\r\n", 0), 0u)
        << second->log.debug_list().front();
    EXPECT_EQ(second->db_connect, nullptr);
}

namespace {

// Makes sure this process may hold `needed` descriptors (raising the soft limit up to the hard one).
bool allow_descriptors(rlim_t needed) {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return false;
    if (limit.rlim_cur >= needed) return true;
    if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max < needed) return false;
    limit.rlim_cur = needed;
    return ::setrlimit(RLIMIT_NOFILE, &limit) == 0;
}

// Many clients of the wire protocol on non-blocking sockets, all in flight at once, each with its own key,
// each opening a cursor on one row and reading that row's name. Their replies are read through one epoll
// set while the test's loop runs the gateway.
class ClientCrowd {
public:
    struct Client {
        UniqueFd fd;
        wire::Key key = wire::initial_key();
        wire::ReplyReader reader;
        std::vector<std::string> replies;
    };

    explicit ClientCrowd(size_t count) : clients_(count), ep_(::epoll_create1(EPOLL_CLOEXEC)) {}

    // Starts every client's connect; the gateway accepts them as the test's loop runs.
    void connect_all(uint16_t port) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(port);
        for (size_t i = 0; i < clients_.size(); ++i) {
            Client& c = clients_[i];
            c.fd = UniqueFd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
            ASSERT_TRUE(c.fd.valid()) << "socket: " << errno;
            const int rc = ::connect(c.fd.get(), reinterpret_cast<sockaddr*>(&a), sizeof a);
            ASSERT_TRUE(rc == 0 || errno == EINPROGRESS) << "connect: " << errno;
            // Keys differ from client to client, so a reply that reached the wrong connection cannot read
            // right. Their values stay where no printable character or STX scrambles into ETX.
            const auto n = static_cast<int>(i);
            c.key = wire::Key({static_cast<int16_t>(2 + n % 100), static_cast<int16_t>(-1 - n % 27),
                               static_cast<int16_t>(5 + n / 100)});
            epoll_event ev{};
            ev.events = EPOLLIN;
            ev.data.u64 = i;
            ASSERT_EQ(::epoll_ctl(ep_.get(), EPOLL_CTL_ADD, c.fd.get(), &ev), 0);
        }
    }

    size_t size() const { return clients_.size(); }
    Client& operator[](size_t i) { return clients_[i]; }

    // Sends, waiting for the connect to finish and for room in the socket as needed.
    void send(Client& c, const std::string& bytes) {
        size_t sent = 0;
        while (sent < bytes.size()) {
            const ssize_t n = ::send(c.fd.get(), bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n > 0) {
                sent += static_cast<size_t>(n);
                continue;
            }
            if (n < 0 && (errno == EAGAIN || errno == ENOTCONN)) {
                msgloop::run_once(std::chrono::milliseconds(1));
                continue;
            }
            FAIL() << "send: " << errno;
        }
    }
    void send_first(Client& c, const std::string& request) {
        send(c, wire::frame_request(wire::scrambled(wire::make_header(true, c.key) + request, wire::initial_key())));
    }
    void send_next(Client& c, const std::string& request) { send(c, wire::frame_request(wire::scrambled(request, c.key))); }

    // Reads whatever has arrived; `on_reply` sees each client that got a new reply.
    template <class OnReply>
    void read_ready(OnReply&& on_reply) {
        epoll_event events[256];
        const int n = ::epoll_wait(ep_.get(), events, 256, 0);
        for (int i = 0; i < n; ++i) {
            Client& c = clients_[events[i].data.u64];
            char buf[4096];
            const ssize_t got = ::recv(c.fd.get(), buf, sizeof buf, 0);
            if (got <= 0) {
                ADD_FAILURE() << "the gateway closed client " << events[i].data.u64;
                ::epoll_ctl(ep_.get(), EPOLL_CTL_DEL, c.fd.get(), nullptr);
                continue;
            }
            c.reader.feed(std::string_view(buf, static_cast<size_t>(got)));
            while (auto body = c.reader.next()) {
                wire::unscramble(*body, c.key);
                c.replies.push_back(*body);
                on_reply(c);
            }
        }
    }

    void close_all() { clients_.clear(); }

private:
    std::vector<Client> clients_;
    UniqueFd ep_;
};

}  // namespace

TEST_F(GatewayTest, ThousandConcurrentClientsAreAllServed) {
    constexpr size_t kClients = 1000;
    // Both ends of every connection live in this process, plus the database and the loop.
    if (!allow_descriptors(2 * kClients + 256)) GTEST_SKIP() << "the descriptor limit cannot be raised far enough";
    const std::vector<std::string> names = {"Ann", "Bo", "Cy"};
    ClientCrowd crowd(kClients);
    crowd.connect_all(port());
    ASSERT_FALSE(HasFatalFailure());
    for (size_t i = 0; i < kClients; ++i)
        crowd.send_first(crowd[i], join({"open", "SELECT name FROM people WHERE id = " + std::to_string(i % 3 + 1), "0", "1"}));
    ASSERT_FALSE(HasFatalFailure());

    // Every client: "ok" for the open, then "ok" and the name of its own row for getcursor.
    size_t done = 0;
    const auto on_reply = [&](ClientCrowd::Client& c) {
        if (c.replies.size() == 1) crowd.send_next(c, join({"getcursor", "name", "s"}));
        if (c.replies.size() == 3) ++done;
    };
    ASSERT_TRUE(pump_until(
        [&] {
            crowd.read_ready(on_reply);
            return done == kClients;
        },
        std::chrono::seconds(60)))
        << done << " of " << kClients << " clients finished";
    EXPECT_EQ(counter(Counter::ActiveSockets), static_cast<int32_t>(kClients));
    EXPECT_EQ(counter(Counter::ConnectionsAccepted), static_cast<int32_t>(kClients));
    EXPECT_EQ(counter(Counter::MessagesIn), static_cast<int32_t>(2 * kClients));
    for (size_t i = 0; i < kClients; ++i) {
        const std::vector<std::string> expected = {"ok", "ok", "s" + names[i % 3]};   // s: a text value
        ASSERT_EQ(crowd[i].replies, expected) << "client " << i;
    }

    crowd.close_all();
    EXPECT_TRUE(pump_until([&] { return counter(Counter::ActiveSockets) == 0; }, std::chrono::seconds(30)));
}
