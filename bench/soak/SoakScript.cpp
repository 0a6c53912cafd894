// SoakScript.cpp: the soak client's script. Every request kind a client library sends is in it, on the
// client's own rows so that clients never contend for a row: the numbers it reads back are the ones it wrote.
#include "bench/soak/SoakScript.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <cerrno>

namespace soak {
namespace {

const std::string kStx(1, wire::kSeparator);
constexpr int kRowsPerClient = 10;
constexpr int kExtraIds = 10'000'000;   // the record each client adds and deletes again: above every own row

std::string join(const std::vector<std::string>& tokens) {
    std::string out;
    for (const std::string& t : tokens) out += (out.empty() ? "" : kStx) + t;
    return out;
}

// An error number is written signed: a blank or a minus first, then digits, then STX and the text. No
// data reply of the script starts with a blank or a minus.
bool is_error_entry(const std::string& reply) {
    const size_t stx = reply.find(kStx);
    return stx != std::string::npos && stx > 1 && (reply[0] == ' ' || reply[0] == '-') &&
           reply.find_first_not_of("0123456789", 1) == stx;
}

struct Step {
    std::vector<std::string> (*request)(int first_id, int number, long round);
    std::vector<std::string> replies;
};

// The script, run round after round; a round ends with the cursor closed and a new key in force.
const Step kScript[] = {
    {[](int id, int, long) {
         return std::vector<std::string>{"open", "SELECT id, name, value FROM soak_items WHERE id BETWEEN " +
                                                     std::to_string(id) + " AND " + std::to_string(id + kRowsPerClient - 1) +
                                                     " ORDER BY id", "1", "3"};
     }, {"ok"}},
    {[](int, int, long) { return std::vector<std::string>{"rowcount"}; }, {"ok", " 10"}},
    {[](int, int, long) { return std::vector<std::string>{"getcursor", "name", "s"}; }, {"ok", "*"}},
    {[](int, int, long) { return std::vector<std::string>{"move", "next"}; }, {"ok"}},
    {[](int, int, long) { return std::vector<std::string>{"test"}; }, {"ok", "0"}},
    {[](int, int, long r) { return std::vector<std::string>{"setcursor", "value", "s", std::to_string(r), "n"}; }, {"ok"}},
    {[](int, int, long) { return std::vector<std::string>{"update"}; }, {"ok"}},
    {[](int, int, long) { return std::vector<std::string>{"getcursor", "value", "s"}; }, {"ok", "=value"}},
    {[](int, int, long) { return std::vector<std::string>{"all", "id", "name"}; }, {"ok", "*"}},
    {[](int, int, long) { return std::vector<std::string>{"move", "first"}; }, {"ok"}},
    {[](int, int, long) { return std::vector<std::string>{"buff", "id", "name", "value"}; }, {"ok", "*"}},
    {[](int id, int, long) {
         return std::vector<std::string>{"direct", "UPDATE soak_items SET value = value + 1 WHERE id = " + std::to_string(id)};
     }, {"ok", " 1"}},
    // A load that ended mid-round may have left the added record behind.
    {[](int, int n, long) {
         return std::vector<std::string>{"direct", "DELETE FROM soak_items WHERE id = " + std::to_string(kExtraIds + n)};
     }, {"ok", "*"}},
    {[](int, int, long) { return std::vector<std::string>{"add"}; }, {"ok"}},
    {[](int, int n, long) { return std::vector<std::string>{"setcursor", "id", "s", std::to_string(kExtraIds + n), "n"}; }, {"ok"}},
    {[](int, int, long) { return std::vector<std::string>{"setcursor", "name", "s", "added", "s"}; }, {"ok"}},
    {[](int, int, long) { return std::vector<std::string>{"update"}; }, {"ok"}},
    {[](int, int, long) { return std::vector<std::string>{"delete"}; }, {"ok"}},
    {[](int, int, long r) { return std::vector<std::string>{"nkey", "3", r % 2 ? "-20" : "11", "9", "4"}; }, {"ok"}},
    {[](int, int, long) { return std::vector<std::string>{"close"}; }, {"ok"}},
};
constexpr size_t kSteps = sizeof kScript / sizeof kScript[0];

// Blocking round trips for the set-up: one request, `replies` replies, none an error entry.
std::string exchange(int fd, const std::string& framed, int replies, wire::ReplyReader& reader) {
    if (::send(fd, framed.data(), framed.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(framed.size())) return "send failed";
    for (int got = 0; got < replies;) {
        if (auto body = reader.next()) {
            wire::unscramble(*body, wire::initial_key());
            if (is_error_entry(*body)) return *body;
            ++got;
            continue;
        }
        char buf[4096];
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) return "no reply";
        reader.feed(std::string_view(buf, static_cast<size_t>(n)));
    }
    return "";
}

}  // namespace

UniqueFd connect_to(uint16_t port) {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return UniqueFd();
    const int on = 1;   // as a client library does: a request must not wait for the previous reply's ACK
    ::setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return fd;
}

std::string create_rows(uint16_t port, size_t clients) {
    UniqueFd fd = connect_to(port);
    if (fd.get() < 0) return "cannot connect";
    const timeval patience{120, 0};
    ::setsockopt(fd.get(), SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
    const wire::Key key = wire::initial_key();
    wire::ReplyReader reader;
    const std::string rows = std::to_string(clients * kRowsPerClient);
    const std::string statements[] = {
        "DROP TABLE IF EXISTS soak_items",
        "CREATE TABLE soak_items (id INTEGER PRIMARY KEY, name VARCHAR(40), value DOUBLE PRECISION)",
        "INSERT INTO soak_items (id, name, value) WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " +
            rows + ") SELECT i, 'name ' || i, 0 FROM n",
    };
    bool first = true;
    for (const std::string& sql : statements) {
        const std::string body = (first ? wire::make_header(true, key) : "") + join({"direct", sql});
        first = false;
        if (std::string e = exchange(fd.get(), wire::frame_request(wire::scrambled(body, key)), 2, reader); !e.empty())
            return sql + ": " + e;
    }
    return "";
}

Session::Session(int number, UniqueFd fd)
    : number_(number), first_id_(number * kRowsPerClient + 1), fd_(std::move(fd)), key_(wire::initial_key()),
      next_key_(wire::initial_key()) {}

void Session::send_next(Clock::time_point now) {
    const Step& step = kScript[step_];
    std::vector<std::string> tokens = step.request(first_id_, number_, round_);
    request_ = tokens.front();
    expected_ = step.replies;
    for (std::string& r : expected_)
        if (r == "=value") r = "n" + std::to_string(round_);
    if (request_ == "nkey") {
        std::vector<int16_t> values;
        for (size_t i = 2; i < tokens.size(); ++i) values.push_back(static_cast<int16_t>(std::stoi(tokens[i])));
        next_key_ = wire::Key(values);
        switch_key_ = true;
    }
    std::string body = join(tokens);
    if (!header_sent_) {
        body = wire::make_header(true, key_) + body;   // the first message: the initial key scrambles it
        header_sent_ = true;
    }
    const std::string framed = wire::frame_request(wire::scrambled(body, key_));
    sent_at_ = now;
    size_t sent = 0;
    while (sent < framed.size()) {   // requests are small: the socket buffer takes them whole
        const ssize_t n = ::send(fd_.get(), framed.data() + sent, framed.size() - sent, MSG_NOSIGNAL);
        if (n <= 0 && errno != EINTR) {
            error_ = "client " + std::to_string(number_) + ": send failed";
            return;
        }
        if (n > 0) sent += static_cast<size_t>(n);
    }
    if (++step_ == kSteps) {
        step_ = 0;
        ++round_;
    }
}

bool Session::read_replies(Clock::time_point now, std::vector<double>& latencies_us) {
    char buf[65536];
    for (;;) {
        const ssize_t n = ::recv(fd_.get(), buf, sizeof buf, MSG_DONTWAIT);
        if (n > 0) {
            reader_.feed(std::string_view(buf, static_cast<size_t>(n)));
            continue;
        }
        if (n == 0) error_ = "client " + std::to_string(number_) + ": the gateway closed the connection";
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            error_ = "client " + std::to_string(number_) + ": receive failed";
        break;
    }
    if (!error_.empty()) return false;
    while (auto body = reader_.next()) {
        wire::unscramble(*body, key_);
        if (!check(*body)) return false;
        if (expected_.empty()) {
            latencies_us.push_back(std::chrono::duration<double, std::micro>(now - sent_at_).count());
            if (std::exchange(switch_key_, false)) key_ = next_key_;
        }
    }
    return true;
}

bool Session::check(const std::string& reply) {
    if (expected_.empty()) {
        error_ = "client " + std::to_string(number_) + ": an extra reply to \"" + request_ + "\": " + reply;
        return false;
    }
    const std::string want = expected_.front();
    expected_.erase(expected_.begin());
    if (is_error_entry(reply) || (want != "*" && reply != want)) {
        error_ = "client " + std::to_string(number_) + ": \"" + request_ + "\" got \"" + reply + "\", expected \"" + want + "\"";
        return false;
    }
    return true;
}

}  // namespace soak
