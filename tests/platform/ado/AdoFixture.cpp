// AdoFixture.cpp: per-test databases for both providers; see AdoFixture.h.
#include "AdoFixture.h"

#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>

namespace ado_test {

void AdoTest::SetUp() {
    if (is_pg()) {
        const char* conninfo = std::getenv("TEST_PG_CONNINFO");
        if (!conninfo) GTEST_SKIP() << "TEST_PG_CONNINFO is not set: run under scripts/with-postgres.sh";
        static std::atomic<int> counter{0};
        schema_ = "ado_t" + std::to_string(::getpid()) + "_" + std::to_string(++counter);
        provider_ = "PostgreSQL";
        ado::Connection admin;
        admin.Provider(provider_);
        admin.ConnectionString(conninfo);
        admin.Open();
        admin.Execute("DROP SCHEMA IF EXISTS " + schema_ + " CASCADE; CREATE SCHEMA " + schema_);
        connection_string_ = std::string(conninfo) + " options='-c search_path=" + schema_ + "'";
    } else {
        char tmpl[] = "/tmp/ado_test.XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        provider_ = "SQLite";
        connection_string_ = "Data Source=" + dir_ + "/test.db";
    }
    conn_ = connect();
}

void AdoTest::TearDown() {
    if (conn_ && conn_->State() == ado::adStateOpen) conn_->Close();
    conn_.reset();
    if (!schema_.empty()) {
        ado::Connection admin;
        admin.Provider(provider_);
        admin.ConnectionString(std::getenv("TEST_PG_CONNINFO"));
        admin.Open();
        admin.Execute("DROP SCHEMA IF EXISTS " + schema_ + " CASCADE");
    }
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
}

std::shared_ptr<ado::Connection> AdoTest::connect(const ConnectOptions& options) {
    auto conn = std::make_shared<ado::Connection>();
    conn->Provider(provider_);
    conn->ConnectionString(connection_string_);
    if (options.command_timeout > 0) conn->CommandTimeout(options.command_timeout);
    if (options.connection_timeout > 0) conn->ConnectionTimeout(options.connection_timeout);
    conn->CursorLocation(options.location);
    conn->Open();
    return conn;
}

void AdoTest::exec(const std::string& sql) { conn_->Execute(sql); }

std::unique_ptr<ado::Recordset> AdoTest::open(const std::string& sql, ado::CursorTypeEnum type,
                                             ado::LockTypeEnum lock, std::shared_ptr<ado::Connection> conn) {
    auto rs = std::make_unique<ado::Recordset>();
    rs->Open(sql, conn ? conn : conn_, type, lock);
    return rs;
}

Variant AdoTest::scalar(const std::string& sql) {
    auto other = connect();
    ado::Recordset rs;
    rs.Open(sql, other, ado::adOpenStatic, ado::adLockReadOnly);
    return rs.Fields(Variant(int32_t{0})).Value();
}

// The child touches none of the parent's connections and leaves with _exit, so nothing of the parent's is
// closed or flushed twice.
bool AdoTest::child_process_reads(const std::string& sql, const std::string& expected) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        int code = 2;
        try {
            ado::Connection c;
            c.Provider(provider_);
            c.ConnectionString(connection_string_);
            c.Open();
            auto shared = std::shared_ptr<ado::Connection>(&c, [](ado::Connection*) {});
            ado::Recordset rs;
            rs.Open(sql, shared, ado::adOpenForwardOnly, ado::adLockReadOnly);
            const Variant v = rs.Fields(Variant(int32_t{0})).Value();
            code = v.is_text() && v.as_text() == expected ? 0 : 1;
            rs.Close();
        } catch (...) {
        }
        ::_exit(code);
    }
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid) return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void AdoTest::make_items() {
    exec("CREATE TABLE items (id INTEGER PRIMARY KEY, name VARCHAR(20) UNIQUE, qty INTEGER)");
    exec("INSERT INTO items (id, name, qty) VALUES (1, 'A', 10), (2, 'B', 20), (3, 'C', 30)");
}

}  // namespace ado_test
