// GatewayTestKit.cpp: the per-test gateway and the protocol test client.
#include "tests/gateway/GatewayTestKit.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "common/Conversions.h"
#include "platform/msgloop/MessageLoop.h"

bool pump_until(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        msgloop::run_once(std::chrono::milliseconds(5));
    }
    return true;
}

uint16_t free_port() {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(fd.get(), reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&a), &len);
    return ntohs(a.sin_port);
}

std::string join(const std::vector<std::string>& tokens) {
    std::string out;
    for (size_t i = 0; i < tokens.size(); ++i) {
        if (i > 0) out += kStx;
        out += tokens[i];
    }
    return out;
}

// ---- TestClient ----

TestClient::TestClient(uint16_t port) {
    fd_ = UniqueFd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    // The kernel completes a loopback connect from the listen backlog, without the gateway's loop.
    if (::connect(fd_.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) ADD_FAILURE() << "connect failed";
    ::fcntl(fd_.get(), F_SETFL, ::fcntl(fd_.get(), F_GETFL) | O_NONBLOCK);
}

std::string TestClient::framed(const std::string& request) const {
    return wire::frame_request(wire::scrambled(request, key_));
}

void TestClient::send_first(const std::string& request, bool acknowledge, const wire::Key& key) {
    send_raw(wire::frame_request(wire::scrambled(wire::make_header(acknowledge, key) + request, wire::initial_key())));
    key_ = key;
}

void TestClient::send(const std::string& request) { send_raw(framed(request)); }

void TestClient::send_raw(const std::string& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd_.get(), bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<size_t>(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            msgloop::run_once(std::chrono::milliseconds(1));   // let the gateway read
        } else {
            ADD_FAILURE() << "send failed: " << errno;
            return;
        }
    }
}

bool TestClient::read_some() {
    char buf[65536];
    for (;;) {
        const ssize_t n = ::recv(fd_.get(), buf, sizeof buf, 0);
        if (n > 0) {
            reader_.feed(std::string_view(buf, static_cast<size_t>(n)));
            continue;
        }
        if (n == 0) peer_closed_ = true;
        return !peer_closed_;
    }
}

std::optional<std::string> TestClient::reply(std::chrono::milliseconds limit) {
    std::optional<std::string> body;
    pump_until(
        [&] {
            read_some();
            body = reader_.next();
            return body.has_value() || peer_closed_;
        },
        limit);
    if (body) wire::unscramble(*body, key_);
    return body;
}

bool TestClient::quiet_for(std::chrono::milliseconds limit) {
    pump_until([&] { return !read_some() || reader_.buffered() > 0; }, limit);
    return reader_.buffered() == 0;
}

void TestClient::reset() {
    const linger abort_on_close{1, 0};
    ::setsockopt(fd_.get(), SOL_SOCKET, SO_LINGER, &abort_on_close, sizeof abort_on_close);
    fd_.reset();
}

uint16_t TestClient::local_port() const {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    if (::getsockname(fd_.get(), reinterpret_cast<sockaddr*>(&a), &len) != 0) return 0;
    return ntohs(a.sin_port);
}

bool TestClient::closed_by_gateway(std::chrono::milliseconds limit) {
    return pump_until([&] { return !read_some(); }, limit);
}

// ---- GatewayTest ----

void GatewayTest::SetUp() {
    control_ = std::make_unique<Quellox>();
    char pattern[] = "/tmp/gateway-test.XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    folder_ = pattern;
    GatewaySettings settings;
    settings.Provider = "SQLite";
    settings.Connect = "Data Source=" + folder_ + "/test.db";
    settings.IP = "127.0.0.1";
    settings.Port = 0;   // the system picks a free port; port() reads it back
    gateway_ = std::make_shared<Gateway>(settings);
    monitor_ = MonitorModel::create(gateway_->log);
    start_server();
    ASSERT_TRUE(server_->listening()) << (debug_list().empty() ? "" : debug_list().front());
    exec("CREATE TABLE people (id INTEGER PRIMARY KEY, name TEXT, born DATE, score REAL)");
    exec("INSERT INTO people VALUES (1, 'Ann', '1990-05-17', 3.5), (2, 'Bo', NULL, 2), (3, 'Cy', '2001-01-02', NULL)");
}

void GatewayTest::TearDown() {
    gateway_->end_workers();
    server_.reset();
    pump_until([] { return msgloop::MessageLoop::current().pending() == 0; }, std::chrono::milliseconds(500));
    gateway_.reset();
    control_.reset();
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
}

void GatewayTest::start_server() {
    server_ = std::make_shared<SSServer>(gateway_);
    server_->OpenServer(control_->CreateTextSocket());
}

uint16_t GatewayTest::port() { return static_cast<uint16_t>(server_->Server()->LocalPort()); }

void GatewayTest::exec(const std::string& sql) {
    const DispatchPtr channel = object_of(gateway_->db_connect->call("Channel"));
    channel->call("Direct", {Variant(sql)});
    EXPECT_EQ(vb::to_text(channel->call("DError")), "") << sql;
}

bool GatewayTest::debug_list_has(const std::string& line) {
    for (const std::string& l : debug_list())
        if (l == line) return true;
    return false;
}

std::string GatewayTest::debug_entry_with(const std::string& part) {
    for (const std::string& l : debug_list())
        if (l.find(part) != std::string::npos) return l;
    return "";
}
