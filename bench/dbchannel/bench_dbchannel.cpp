// bench_dbchannel.cpp: rows per second of a forward-only scan through DBChannel — C++ members, calls by
// name as the gateway makes them, and the bulk read All — each beside a bare sqlite3_step loop that reads
// the same four columns of the same file in the same run; and the peak resident memory of a forward-only
// scan of 1,000,000 rows, measured in a child process.
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "bench/support/RatioReporter.h"
#include "dbcomponent/DBChannel.h"
#include "dbcomponent/DBConnect.h"
#include "platform/ado/AdoTypes.h"

namespace {

constexpr int kScanRows = 100000;
constexpr int kMemoryRows = 1000000;
const char* const kSelect = "SELECT id, name, amount, qty FROM t";
const std::vector<std::string> kNames = {"id", "name", "amount", "qty"};

// A temporary folder holding the benchmark databases, removed when the program ends.
class DataFolder {
public:
    DataFolder() {
        char pattern[] = "/tmp/bench-dbchannel.XXXXXX";
        if (!::mkdtemp(pattern)) std::abort();
        path_ = pattern;
    }
    ~DataFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

DataFolder& folder() {
    static DataFolder instance;
    return instance;
}

// A database file with `rows` rows of four columns (integer, text, double, integer), made once.
std::string database(int rows) {
    const std::string path = folder().path() + "/rows" + std::to_string(rows) + ".db";
    if (std::filesystem::exists(path)) return path;
    sqlite3* raw = nullptr;
    sqlite3_open(path.c_str(), &raw);
    std::unique_ptr<sqlite3, decltype(&sqlite3_close)> db(raw, &sqlite3_close);
    const std::string sql =
        "CREATE TABLE t (id INTEGER PRIMARY KEY, name VARCHAR(40), amount DOUBLE PRECISION, qty INTEGER);"
        "INSERT INTO t WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c WHERE x < " +
        std::to_string(rows) + ") SELECT x, 'name ' || x, x * 0.25, x % 1000 FROM c;";
    char* error = nullptr;
    if (sqlite3_exec(db.get(), sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
        std::fprintf(stderr, "creating %s: %s\n", path.c_str(), error);
        std::abort();
    }
    return path;
}

// The process's DBConnect, opened on `path`.
std::shared_ptr<DBConnect> connect_to(const std::string& path) {
    auto connect = std::make_shared<DBConnect>();
    if (!connect->DBInit("SQLite", "Data Source=" + path)) std::abort();
    return connect;
}

// The bare loop every DBChannel figure is compared with: prepare, step, read the four columns.
int64_t bare_scan(sqlite3* db) {
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(db, kSelect, -1, &statement, nullptr);
    int64_t rows = 0;
    while (sqlite3_step(statement) == SQLITE_ROW) {
        benchmark::DoNotOptimize(sqlite3_column_int64(statement, 0));
        const unsigned char* text = sqlite3_column_text(statement, 1);
        benchmark::DoNotOptimize(text);
        benchmark::DoNotOptimize(sqlite3_column_bytes(statement, 1));
        benchmark::DoNotOptimize(sqlite3_column_double(statement, 2));
        benchmark::DoNotOptimize(sqlite3_column_int64(statement, 3));
        ++rows;
    }
    sqlite3_finalize(statement);
    return rows;
}

void run_bare(benchmark::State& state) {
    sqlite3* raw = nullptr;
    sqlite3_open_v2(database(kScanRows).c_str(), &raw, SQLITE_OPEN_READONLY, nullptr);
    std::unique_ptr<sqlite3, decltype(&sqlite3_close)> db(raw, &sqlite3_close);
    int64_t rows = 0;
    for (auto _ : state) rows += bare_scan(db.get());
    state.SetItemsProcessed(rows);
}

// The scan a caller of the channel makes: test for the end, read four fields by name, move on.
int64_t channel_scan(DBChannel& channel) {
    channel.OpenCursor(kSelect, ado::adOpenForwardOnly, ado::adLockReadOnly);
    const Variant id("id"), name("name"), amount("amount"), qty("qty");
    int64_t rows = 0;
    while (!channel.TestCursor()) {
        benchmark::DoNotOptimize(channel.Fields(id));
        benchmark::DoNotOptimize(channel.Fields(name));
        benchmark::DoNotOptimize(channel.Fields(amount));
        benchmark::DoNotOptimize(channel.Fields(qty));
        channel.Move("next");
        ++rows;
    }
    channel.CloseCursor();
    return rows;
}

void BM_ChannelScan(benchmark::State& state) {
    const auto connect = connect_to(database(kScanRows));
    const auto channel = connect->Channel();
    int64_t rows = 0;
    for (auto _ : state) rows += channel_scan(*channel);
    if (!channel->DError().empty()) state.SkipWithError(channel->DError().c_str());
    state.SetItemsProcessed(rows);
}
void BM_ChannelScanBaseline(benchmark::State& state) { run_bare(state); }

// The same scan through calls by name, as the gateway's worker and the in-process client make them.
void BM_ChannelScanByName(benchmark::State& state) {
    const auto connect = connect_to(database(kScanRows));
    const DispatchPtr channel = object_of(connect->call("Channel"));
    const std::vector<Variant> fields = {Variant("id"), Variant("name"), Variant("amount"), Variant("qty")};
    int64_t rows = 0;
    for (auto _ : state) {
        channel->call("OpenCursor", {Variant(kSelect), Variant(int16_t{0}), Variant(int16_t{1})});
        while (!channel->call("TestCursor").as_bool()) {
            for (const Variant& field : fields) benchmark::DoNotOptimize(channel->get("", {field}));
            channel->call("Move", {Variant("next")});
            ++rows;
        }
        channel->call("CloseCursor");
    }
    if (!channel->call("DError").as_text().empty()) state.SkipWithError("channel error");
    state.SetItemsProcessed(rows);
}
void BM_ChannelScanByNameBaseline(benchmark::State& state) { run_bare(state); }

// The bulk read of the same four fields of every row into one text.
void BM_ChannelAll(benchmark::State& state) {
    const auto connect = connect_to(database(kScanRows));
    const auto channel = connect->Channel();
    int64_t rows = 0;
    for (auto _ : state) {
        channel->OpenCursor(kSelect, ado::adOpenForwardOnly, ado::adLockReadOnly);
        const std::string text = channel->All(kNames);
        benchmark::DoNotOptimize(text.data());
        channel->CloseCursor();
        rows += kScanRows;
    }
    if (!channel->DError().empty()) state.SkipWithError(channel->DError().c_str());
    state.SetItemsProcessed(rows);
}
void BM_ChannelAllBaseline(benchmark::State& state) { run_bare(state); }

// Peak resident memory of one forward-only scan of 1,000,000 rows, in MB, measured in a child process so
// that nothing else this program holds is counted. The child resets its high-water mark after the fork
// (/proc/self/clear_refs, mode 5) and reports VmHWM at the end of the scan through a pipe.
double scan_peak_mb(bool through_channel, const std::string& path) {
    int fds[2];
    if (::pipe(fds) != 0) return -1;
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(fds[0]);
        std::ofstream("/proc/self/clear_refs") << "5";
        if (through_channel) {
            const auto connect = connect_to(path);
            const auto channel = connect->Channel();
            channel_scan(*channel);
        } else {
            sqlite3* db = nullptr;
            sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
            bare_scan(db);
            sqlite3_close(db);
        }
        long peak_kb = -1;
        std::ifstream status("/proc/self/status");
        for (std::string line; std::getline(status, line);)
            if (line.rfind("VmHWM:", 0) == 0) peak_kb = std::strtol(line.c_str() + 6, nullptr, 10);
        const ssize_t written = ::write(fds[1], &peak_kb, sizeof peak_kb);
        ::_exit(written == sizeof peak_kb ? 0 : 1);
    }
    ::close(fds[1]);
    long peak_kb = -1;
    if (::read(fds[0], &peak_kb, sizeof peak_kb) != sizeof peak_kb) peak_kb = -1;
    ::close(fds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    return peak_kb < 0 ? -1 : peak_kb / 1024.0;
}

void BM_ForwardOnlyScanPeakMemory(benchmark::State& state) {
    const std::string path = database(kMemoryRows);
    double peak = 0;
    for (auto _ : state) peak = scan_peak_mb(true, path);
    state.counters["peak_MB"] = peak;
    state.counters["limit_MB"] = 64;
    std::fprintf(stderr, "1,000,000-row forward-only scan through DBChannel: peak RSS %.1f MB (limit 64 MB)\n", peak);
}
void BM_ForwardOnlyScanPeakMemoryBaseline(benchmark::State& state) {
    const std::string path = database(kMemoryRows);
    double peak = 0;
    for (auto _ : state) peak = scan_peak_mb(false, path);
    state.counters["peak_MB"] = peak;
    std::fprintf(stderr, "1,000,000-row bare sqlite3_step scan: peak RSS %.1f MB\n", peak);
}

}  // namespace

BENCHMARK(BM_ChannelScan)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(9);
BENCHMARK(BM_ChannelScanBaseline)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(9);
BENCHMARK(BM_ChannelScanByName)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(9);
BENCHMARK(BM_ChannelScanByNameBaseline)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(9);
BENCHMARK(BM_ChannelAll)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(9);
BENCHMARK(BM_ChannelAllBaseline)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(9);
BENCHMARK(BM_ForwardOnlyScanPeakMemory)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_ForwardOnlyScanPeakMemoryBaseline)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

RATIO_BENCHMARK_MAIN();
