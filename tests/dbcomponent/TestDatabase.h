// TestDatabase.h: a database for one test on either provider — a fresh SQLite file in a mkdtemp folder,
// or tables of its own in the throwaway PostgreSQL cluster named by TEST_PG_CONNINFO.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "dbcomponent/DBChannel.h"
#include "dbcomponent/DBConnect.h"

class TestDatabase {
public:
    // nullopt (with `why` set) when the provider cannot be reached here: PostgreSQL without
    // TEST_PG_CONNINFO.
    static std::unique_ptr<TestDatabase> open(const std::string& provider, std::string& why);
    ~TestDatabase();

    const std::string& provider() const { return provider_; }      // Provider text for DBInit
    const std::string& connect() const { return connect_; }        // ConnectionString for DBInit
    // A second, separate database of the same provider (another file, or another table prefix).
    std::string other_connect() const;

    // `sql` with every "{t}" replaced by this test's table name, unique per process so that test
    // processes running side by side on one PostgreSQL database do not meet.
    std::string sql(std::string text) const;
    const std::string& table() const { return table_; }

    // Runs statements through a channel of `connect`; the test fails when one records an error.
    void exec(DBConnect& connect, const std::string& text) const;

private:
    TestDatabase() = default;
    std::string provider_;
    std::string connect_;
    std::string folder_;   // SQLite: the mkdtemp folder, removed at the end
    std::string table_;
};

// The file-name-safe label of a provider parameter, for INSTANTIATE_TEST_SUITE_P.
std::string provider_label(const std::string& provider);
