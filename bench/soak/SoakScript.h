// SoakScript.h: one soak client's conversation with the gateway (a script of every kind of request on the
// client's own ten rows, each reply checked), and the rows the script works on.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "common/WireCodec.h"
#include "platform/msgloop/UniqueFd.h"

namespace soak {

using Clock = std::chrono::steady_clock;

// A blocking TCP connection to 127.0.0.1:port with Nagle's algorithm off; an empty UniqueFd on failure.
UniqueFd connect_to(uint16_t port);

// Creates soak_items with ten rows per client over one connection; returns an error text, empty on success.
std::string create_rows(uint16_t port, size_t clients);

// A client on a connected socket: sends one request at a time and checks each reply as it arrives.
class Session {
public:
    Session(int number, UniqueFd fd);

    // Sends the script's next request (the first one carries the header); call when idle().
    void send_next(Clock::time_point now);
    // Reads what has arrived and checks it; appends the round trip (microseconds) of each request whose
    // replies are complete. False on a wrong reply, an error entry or a closed connection (see error()).
    bool read_replies(Clock::time_point now, std::vector<double>& latencies_us);

    bool idle() const { return expected_.empty(); }
    int fd() const { return fd_.get(); }
    int number() const { return number_; }
    Clock::time_point sent_at() const { return sent_at_; }
    const std::string& waiting_for() const { return request_; }
    const std::string& error() const { return error_; }

private:
    bool check(const std::string& reply);
    int number_;
    int first_id_;                     // the client's rows are first_id_ .. first_id_ + 9
    UniqueFd fd_;
    wire::Key key_;
    wire::Key next_key_;               // in force once "nkey" is acknowledged
    wire::ReplyReader reader_;
    bool header_sent_ = false;
    size_t step_ = 0;
    long round_ = 0;
    std::string request_;              // the request in flight, for reports
    std::vector<std::string> expected_;   // replies still due, in order; "*" is any reply but an error entry
    bool switch_key_ = false;
    Clock::time_point sent_at_{};
    std::string error_;
};

}  // namespace soak
