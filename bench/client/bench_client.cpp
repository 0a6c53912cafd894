// bench_client.cpp: the client library against the gateway program (a child process) over SQLite, one
// connection, beside a plain loopback ping-pong measured in the same run:
//   BM_MoveNextFields          one step of a cursor loop: MoveNext, then Fields("a") (two round trips, each
//                              "ok" and, for the field, its value, as the gateway sends them)
//   BM_MoveNextFieldsBaseline  two blocking round trips of the same request and reply sizes against an echo
//                              thread that answers each message with a prepared reply
//   BM_Buffer                  Buffer of 8,998 rows of 4 fields (the most rows a buffer holds; 9,000 raise
//                              the overrun error after reading 8,999)
//   BM_BufferBaseline          one request and a reply of the same size over plain loopback
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <thread>

#include "bench/support/RatioReporter.h"
#include "tests/support/GatewayProcess.h"
#include "tolvix/frmDebug.h"
#include "tolvix/iConnection.h"

namespace {

constexpr int kRows = 8998;

// ---- the gateway and a table of kRows rows ----
struct Fixture {
    GatewayProcess gateway{VANTREL_PROGRAM};
    tolvix::iConnection connection;
    std::shared_ptr<tolvix::iRecordSet> cursor;      // keyset cursor for the step loop
    std::shared_ptr<tolvix::iRecordSet> buffered;    // static cursor for Buffer
    size_t step_request = 0, step_reply = 0, field_request = 0, field_reply = 0, buffer_reply = 0;

    Fixture() {
        connection.IP("127.0.0.1");
        connection.Port(gateway.port());
        connection.Start();
        connection.Direct("CREATE TABLE t AS WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " +
                          std::to_string(kRows) + ") SELECT i AS id, 'name ' || i AS a, i * 1.5 AS b, "
                          "date('2026-01-01', '+' || (i % 365) || ' days') AS c FROM n");
        cursor = connection.CrOpen("SELECT id, a FROM t ORDER BY id", tolvix::adOpenKeyset, tolvix::adLockReadOnly);
        buffered = connection.CrOpen("SELECT id, a, b, c FROM t ORDER BY id", tolvix::adOpenStatic,
                                     tolvix::adLockReadOnly);
        measure_sizes();
    }

    // The sizes of what one step and one Buffer put on the wire, read back from the trace list.
    void measure_sizes() {
        tolvix::frmDebug& trace = tolvix::frmDebug::instance();
        connection.SDebug(true);
        trace.tbReset_Click();
        cursor->MoveNext();
        step_request = trace.lbDebug().at(1).size() - 7 + 1;   // "Sendt: " off, ETX on
        trace.tbReset_Click();
        cursor->Fields(Variant("a"));
        const std::vector<std::string> lines = trace.lbDebug();
        field_request = lines.at(2).size() - 7 + 1;
        field_reply = 5 + std::to_string(lines.at(0).size() - 5).size() + 1 + (lines.at(0).size() - 5) + 1;
        step_reply = 5;   // "2", STX, "ok", ETX
        trace.tbReset_Click();
        buffered->Buffer({"id", "a", "b", "c"});
        const size_t body = trace.lbDebug().at(0).size() - 5;
        buffer_reply = 5 + std::to_string(body).size() + 1 + body + 1;
        connection.SDebug(false);
        trace.tbReset_Click();
    }
};

Fixture& fixture() {
    static Fixture f;
    return f;
}

// ---- a plain loopback partner: answers every message (ended by ETX) with the next prepared reply ----
class EchoPartner {
public:
    explicit EchoPartner(std::vector<std::string> replies) : replies_(std::move(replies)) {
        const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof a;
        ::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(listener, 1);
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &length);
        client_ = ::socket(AF_INET, SOCK_STREAM, 0);
        ::connect(client_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        const int server = ::accept(listener, nullptr, nullptr);
        ::close(listener);
        thread_ = std::thread([this, server] { serve(server); });
    }
    ~EchoPartner() {
        ::shutdown(client_, SHUT_WR);
        thread_.join();
        ::close(client_);
    }
    // Sends `request` and reads until `reply_size` bytes have come back.
    void exchange(const std::string& request, size_t reply_size) {
        ::send(client_, request.data(), request.size(), 0);
        for (size_t got = 0; got < reply_size;) {
            const ssize_t n = ::recv(client_, buffer_, sizeof buffer_, 0);
            if (n <= 0) return;
            got += static_cast<size_t>(n);
        }
    }

private:
    void serve(int fd) {
        char buffer[4096];
        for (size_t next = 0;;) {
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0) break;
            for (ssize_t i = 0; i < n; ++i)
                if (buffer[i] == '\x03') {
                    const std::string& r = replies_[next++ % replies_.size()];
                    ::send(fd, r.data(), r.size(), 0);
                }
        }
        ::close(fd);
    }
    std::vector<std::string> replies_;
    int client_ = -1;
    char buffer_[65536];
    std::thread thread_;
};

void BM_MoveNextFields(benchmark::State& state) {
    Fixture& f = fixture();
    f.cursor->MoveFirst();
    int position = 1;
    for (auto _ : state) {
        if (++position > kRows) {
            f.cursor->MoveFirst();
            position = 1;
        } else {
            f.cursor->MoveNext();
        }
        benchmark::DoNotOptimize(f.cursor->Fields(Variant("a")));
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_MoveNextFieldsBaseline(benchmark::State& state) {
    Fixture& f = fixture();
    const std::string step_request(f.step_request - 1, 'm'), field_request(f.field_request - 1, 'g');
    EchoPartner partner({std::string(f.step_reply, 'o'), std::string(f.field_reply, 'v')});
    for (auto _ : state) {
        partner.exchange(step_request + '\x03', f.step_reply);
        partner.exchange(field_request + '\x03', f.field_reply);
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_Buffer(benchmark::State& state) {
    Fixture& f = fixture();
    for (auto _ : state) f.buffered->Buffer({"id", "a", "b", "c"});
    state.SetItemsProcessed(state.iterations() * kRows);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * f.buffer_reply));
}

void BM_BufferBaseline(benchmark::State& state) {
    Fixture& f = fixture();
    EchoPartner partner({std::string(f.buffer_reply, 'b')});
    const std::string request = std::string(f.field_request - 1, 'q') + '\x03';
    for (auto _ : state) partner.exchange(request, f.buffer_reply);
    state.SetItemsProcessed(state.iterations() * kRows);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * f.buffer_reply));
}

}  // namespace

BENCHMARK(BM_MoveNextFields)->UseRealTime()->Repetitions(9)->ReportAggregatesOnly(true)->MinTime(0.3);
BENCHMARK(BM_MoveNextFieldsBaseline)->UseRealTime()->Repetitions(9)->ReportAggregatesOnly(true)->MinTime(0.3);
BENCHMARK(BM_Buffer)->UseRealTime()->Unit(benchmark::kMillisecond)->Repetitions(9)->ReportAggregatesOnly(true);
BENCHMARK(BM_BufferBaseline)->UseRealTime()->Unit(benchmark::kMillisecond)->Repetitions(9)->ReportAggregatesOnly(true);

RATIO_BENCHMARK_MAIN();
