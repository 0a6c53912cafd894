// ChannelFixture.h: the parameterised fixture of the channel tests — a DBConnect initialised on one
// provider and a table {t}(id, name, amount, born) holding three rows:
//   1 "alpha"  1.5    2020-01-02
//   2 "beta"   Null   Null
//   3 "gamma"  -2.25  1999-12-31
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "common/Conversions.h"
#include "platform/ado/AdoTypes.h"
#include "tests/dbcomponent/TestDatabase.h"

inline constexpr char kStx = '\x02';

// The error entry the channel writes for ADO's own error `number`.
inline std::string ado_entry(int32_t number) {
    return vb::signed_text(int64_t{number}) + kStx + ado::error_text(number);
}

// The number part of an entry with its separator, for provider errors whose text is the database's own.
inline std::string entry_prefix(int32_t number) {
    return vb::signed_text(int64_t{number}) + kStx;
}

class ChannelTest : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        std::string why;
        db_ = TestDatabase::open(GetParam(), why);
        if (!db_) GTEST_SKIP() << why;
        connect_ = std::make_shared<DBConnect>();
        ASSERT_TRUE(connect_->DBInit(db_->provider(), db_->connect()));
        ASSERT_NO_FATAL_FAILURE(db_->exec(*connect_, "DROP TABLE IF EXISTS {t}"));
        ASSERT_NO_FATAL_FAILURE(db_->exec(
            *connect_, "CREATE TABLE {t} (id INTEGER PRIMARY KEY, name VARCHAR(40), amount DOUBLE PRECISION, born DATE)"));
        ASSERT_NO_FATAL_FAILURE(db_->exec(*connect_,
                                          "INSERT INTO {t} (id, name, amount, born) VALUES "
                                          "(1, 'alpha', 1.5, '2020-01-02'), (2, 'beta', NULL, NULL), "
                                          "(3, 'gamma', -2.25, '1999-12-31')"));
    }

    void TearDown() override {
        if (connect_ && db_ && db_->provider() != "SQLite") {
            // Some tests leave the shared connection closed or pointing elsewhere.
            ASSERT_TRUE(connect_->DBInit(db_->provider(), db_->connect()));
            db_->exec(*connect_, "DROP TABLE IF EXISTS {t}");
        }
        connect_.reset();
        db_.reset();
    }

    // A fresh channel with a cursor open on `select` ({t} stands for the table); the open must succeed.
    std::shared_ptr<DBChannel> open(const std::string& select, int32_t cursortype = ado::adOpenStatic,
                                    int32_t locktype = ado::adLockOptimistic) {
        auto channel = connect_->Channel();
        channel->OpenCursor(db_->sql(select), cursortype, locktype);
        EXPECT_EQ(channel->DError(), "") << "opening " << select;
        return channel;
    }

    // The value of `sql` (one row, one column) read through a new channel.
    Variant scalar(const std::string& select) {
        auto channel = open(select, ado::adOpenForwardOnly, ado::adLockReadOnly);
        Variant value = channel->Fields(Variant(int32_t{0}));
        EXPECT_EQ(channel->DError(), "") << "reading " << select;
        return value;
    }

    // The number of rows of {t} that match `where`.
    int64_t count_rows(const std::string& where = "1 = 1") {
        return vb::to_int64(scalar("SELECT COUNT(*) FROM {t} WHERE " + where));
    }

    std::unique_ptr<TestDatabase> db_;
    std::shared_ptr<DBConnect> connect_;
};
