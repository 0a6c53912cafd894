// TestDatabase.cpp: per-test databases for the channel tests.
#include "tests/dbcomponent/TestDatabase.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include <gtest/gtest.h>

std::unique_ptr<TestDatabase> TestDatabase::open(const std::string& provider, std::string& why) {
    std::unique_ptr<TestDatabase> db(new TestDatabase());
    db->provider_ = provider;
    db->table_ = "t" + std::to_string(::getpid());
    if (provider == "SQLite") {
        char pattern[] = "/tmp/dbcomp-test.XXXXXX";
        if (!::mkdtemp(pattern)) {
            why = "mkdtemp failed";
            return nullptr;
        }
        db->folder_ = pattern;
        db->connect_ = "Data Source=" + db->folder_ + "/test.db";
        return db;
    }
    const char* conninfo = std::getenv("TEST_PG_CONNINFO");
    if (!conninfo || !*conninfo) {
        why = "TEST_PG_CONNINFO is not set (run under scripts/with-postgres.sh): PostgreSQL case skipped";
        return nullptr;
    }
    db->connect_ = conninfo;
    return db;
}

TestDatabase::~TestDatabase() {
    if (!folder_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
}

std::string TestDatabase::other_connect() const {
    if (provider_ == "SQLite") return "Data Source=" + folder_ + "/other.db";
    return connect_;
}

std::string TestDatabase::sql(std::string text) const {
    for (size_t at = text.find("{t}"); at != std::string::npos; at = text.find("{t}", at + table_.size()))
        text.replace(at, 3, table_);
    return text;
}

void TestDatabase::exec(DBConnect& connect, const std::string& text) const {
    const auto channel = connect.Channel();
    channel->Direct(sql(text));
    ASSERT_EQ(channel->DError(), "") << "while running: " << sql(text);
}

std::string provider_label(const std::string& provider) {
    return provider;
}
