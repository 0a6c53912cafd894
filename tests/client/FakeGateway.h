// FakeGateway.h: a scripted gateway at byte level, on a thread of its own (the client library blocks the
// test's thread). It accepts connections one after the other, cuts each incoming stream at ETX, keeps every
// message as it arrived, unscrambles it (the first with the initial key, reading the header it carries), and
// hands the plain request to the test's script, whose answer goes back as raw bytes, in pieces if asked.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/WireCodec.h"

struct FakeRequest {
    std::string raw;       // the message as it arrived, without its ETX
    std::string header;    // the first message's header fields, as text (empty for later messages)
    std::string plain;     // the request after the header, unscrambled
    int connection = 0;    // 1 for the first accepted connection
};

class FakeConnection {
public:
    // A reply as the gateway frames it under the key in force: length, STX, scrambled body, ETX.
    std::string reply(const std::string& body) const { return wire::frame_reply(wire::scrambled(body, key_)); }
    const wire::Key& key() const { return key_; }
    bool acknowledge() const { return acknowledge_; }

private:
    friend class FakeGateway;
    wire::Key key_ = wire::initial_key();
    bool acknowledge_ = true;
    bool header_read_ = false;
};

class FakeGateway {
public:
    // Returns the bytes to send for one request; Pieces lets a test cut them into separate writes.
    struct Answer {
        std::vector<std::string> pieces;
        bool close = false;   // close the connection after sending
    };
    using Script = std::function<Answer(FakeConnection&, const FakeRequest&)>;

    explicit FakeGateway(Script script);
    ~FakeGateway();
    FakeGateway(const FakeGateway&) = delete;
    FakeGateway& operator=(const FakeGateway&) = delete;

    uint16_t port() const { return port_; }
    // Every request received so far, oldest first.
    std::vector<FakeRequest> requests();
    // Waits (up to 5 s) until `n` connections have ended; false on time-out.
    bool wait_connections_ended(int n);

private:
    void serve();
    void serve_connection(int fd, int number);

    Script script_;
    int listener_ = -1;
    int wake_[2] = {-1, -1};   // a pipe that ends the serving thread
    uint16_t port_ = 0;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<FakeRequest> requests_;
    int ended_ = 0;
    std::thread thread_;
};

// A reply of "ok" then each body, all in one piece (what the real gateway sends for a request with data).
FakeGateway::Answer ok_then(const FakeConnection& c, const std::vector<std::string>& bodies = {});
