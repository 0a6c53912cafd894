// bench_cursors.cpp: what many open forward-only cursors cost. Opens 1,000 and then 3,000 cursors on one
// Connection, each over rows of its own, while a second Connection writes between the opens, and reports
// the process's open descriptors and resident memory (and, on PostgreSQL, the server connections of this
// process's user) with all of them open, beside the same figures before the first one was opened.
//
//   bench_cursors              SQLite file in a temporary folder
//   bench_cursors <conninfo>   PostgreSQL (for example TEST_PG_CONNINFO of scripts/with-postgres.sh)
#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "common/ComError.h"
#include "platform/ado/Connection.h"
#include "platform/ado/Recordset.h"

namespace {

int open_descriptors() {
    int n = 0;
    if (DIR* d = ::opendir("/proc/self/fd")) {
        while (::readdir(d)) ++n;
        ::closedir(d);
    }
    return n - 3;  // ".", ".." and the directory's own descriptor
}

long resident_kib() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    return -1;
}

std::shared_ptr<ado::Connection> connect(const std::string& provider, const std::string& text) {
    auto conn = std::make_shared<ado::Connection>();
    conn->Provider(provider);
    conn->ConnectionString(text);
    conn->Open();
    return conn;
}

int server_connections(ado::Connection& conn) {
    ado::Recordset rs;
    rs.Open("SELECT count(*)::int4 FROM pg_stat_activity WHERE usename = current_user AND backend_type = 'client backend'",
            std::shared_ptr<ado::Connection>(&conn, [](ado::Connection*) {}), ado::adOpenStatic, ado::adLockReadOnly);
    const Variant n = rs.Fields(Variant(int32_t{0})).Value();
    return n.type() == VarType::LongLong ? static_cast<int>(n.as_int64()) : n.as_int32();
}

void report(const char* what, bool pg, ado::Connection& writer) {
    std::printf("%-28s descriptors %5d  resident %7ld KiB", what, open_descriptors(), resident_kib());
    if (pg) std::printf("  server connections %4d", server_connections(writer));
    std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
    const bool pg = argc > 1;
    std::string folder;
    std::string text;
    if (pg) {
        text = argv[1];
    } else {
        char pattern[] = "/tmp/bench-cursors.XXXXXX";
        if (!::mkdtemp(pattern)) return 1;
        folder = pattern;
        text = "Data Source=" + folder + "/cursors.db";
    }
    const std::string provider = pg ? "PostgreSQL" : "SQLite";
    int status = 0;
    try {
        auto writer = connect(provider, text);
        writer->Execute("DROP TABLE IF EXISTS bench_cursors");
        writer->Execute("CREATE TABLE bench_cursors (id INTEGER PRIMARY KEY, owner INTEGER, val VARCHAR(20))");
        writer->Execute("CREATE INDEX bench_cursors_owner ON bench_cursors (owner)");
        auto readers = connect(provider, text);
        std::vector<std::unique_ptr<ado::Recordset>> cursors;
        report("no cursor open", pg, *writer);
        for (int target : {1000, 3000}) {
            while (static_cast<int>(cursors.size()) < target) {
                const std::string owner = std::to_string(cursors.size());
                writer->Execute("INSERT INTO bench_cursors VALUES (" + owner + " * 2, " + owner + ", 'a'), (" + owner + " * 2 + 1, " + owner +
                                ", 'b')");
                auto rs = std::make_unique<ado::Recordset>();
                rs->Open("SELECT val FROM bench_cursors WHERE owner = " + owner + " ORDER BY id", readers,
                         ado::adOpenForwardOnly, ado::adLockReadOnly);
                cursors.push_back(std::move(rs));
            }
            report((std::to_string(target) + " cursors open").c_str(), pg, *writer);
        }
        cursors.clear();
        report("all closed", pg, *writer);
        writer->Execute("DROP TABLE bench_cursors");
    } catch (const ComError& e) {
        std::fprintf(stderr, "bench_cursors: %d %s (after %d descriptors)\n", e.number(), e.description().c_str(),
                     open_descriptors());
        status = 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_cursors: %s\n", e.what());
        status = 1;
    }
    if (!folder.empty()) std::filesystem::remove_all(folder);
    return status;
}
