// GatewayTestKit.h: a gateway serving on 127.0.0.1 (a free port) with a fresh SQLite database, on the
// test's own thread, and a small client of the wire protocol written from the codec alone: header,
// scrambling, framing, replies read with the codec's reply reader. The client's socket is non-blocking
// and every wait pumps the gateway's loop until a deadline, so a hung gateway fails the test.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/WireCodec.h"
#include "gateway/Gateway.h"
#include "gateway/MonitorModel.h"
#include "gateway/SSServer.h"
#include "platform/msgloop/MessageLoop.h"
#include "platform/msgloop/UniqueFd.h"
#include "socketcontrol/Quellox.h"

// Pumps this thread's loop until done() holds; false when `limit` passed first.
bool pump_until(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(5));

// A TCP port on 127.0.0.1 that was free a moment ago, for a gateway in another process.
uint16_t free_port();

inline const std::string kStx(1, wire::kSeparator);
// Tokens joined by STX: join({"open", "select 1", "1", "3"}).
std::string join(const std::vector<std::string>& tokens);

class TestClient {
public:
    explicit TestClient(uint16_t port);

    // The first message: header (acknowledgement flag, key) and request, scrambled with the initial key.
    void send_first(const std::string& request, bool acknowledge = true,
                    const wire::Key& key = wire::Key({5, -3, 7, 2, -9}));
    // A later request, scrambled with the key in use.
    void send(const std::string& request);
    // Bytes exactly as given (for split or combined segments, or garbage).
    void send_raw(const std::string& bytes);
    std::string framed(const std::string& request) const;   // scrambled with the key in use, ETX at the end

    // The next reply, unscrambled with the key in use; nullopt when none came in time.
    std::optional<std::string> reply(std::chrono::milliseconds limit = std::chrono::seconds(5));
    // Whether a reply arrives within `limit` (for requests that must get none).
    bool quiet_for(std::chrono::milliseconds limit);
    // Pumps until the gateway has closed the connection.
    bool closed_by_gateway(std::chrono::milliseconds limit = std::chrono::seconds(5));
    void use_key(const wire::Key& key) { key_ = key; }
    void close() { fd_.reset(); }
    // Closes with a reset (SO_LINGER 0) instead of an orderly FIN, as a peer that crashed or vanished.
    void reset();
    uint16_t local_port() const;

private:
    bool read_some();   // false when the peer closed
    UniqueFd fd_;
    wire::Key key_ = wire::initial_key();
    wire::ReplyReader reader_;
    bool peer_closed_ = false;
};

// One gateway per test over a fresh SQLite file holding the table people(id, name, born, score):
// (1, 'Ann', 1990-05-17, 3.5), (2, 'Bo', null, 2), (3, 'Cy', 2001-01-02, null).
class GatewayTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Starts listening (done by SetUp with the default settings; tests may stop and start again).
    void start_server();
    uint16_t port();
    // Runs statements on the gateway's database; the test fails on an error.
    void exec(const std::string& sql);
    // Newest first, as the monitor shows it.
    const std::deque<std::string>& debug_list() { return gateway_->log.debug_list(); }
    bool debug_list_has(const std::string& line);
    // The newest debug-list entry containing `part`, or "".
    std::string debug_entry_with(const std::string& part);
    int32_t counter(Counter c) { return gateway_->log.value(c); }

    std::unique_ptr<Quellox> control_;
    std::string folder_;
    std::shared_ptr<Gateway> gateway_;
    std::shared_ptr<MonitorModel> monitor_;
    std::shared_ptr<SSServer> server_;
};
