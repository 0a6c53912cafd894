// AdoFixture.h: a fresh database per test for the provider under test: a SQLite file in a mkdtemp
// directory, or a schema of its own in the throwaway PostgreSQL cluster (TEST_PG_CONNINFO).
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "common/ComError.h"
#include "common/Variant.h"
#include "platform/ado/Connection.h"
#include "platform/ado/Recordset.h"
#include "tests/support/ErrorOf.h"

namespace ado_test {

struct ConnectOptions {
    int32_t command_timeout = 0;     // 0: leave ADO's default
    int32_t connection_timeout = 0;
    ado::CursorLocationEnum location = ado::adUseServer;
};

class AdoTest : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override;
    void TearDown() override;

    bool is_pg() const { return GetParam() == "postgresql"; }
    const std::string& provider() const { return provider_; }
    const std::string& connection_string() const { return connection_string_; }

    std::shared_ptr<ado::Connection> connect(const ConnectOptions& options = {});
    void exec(const std::string& sql);  // on the fixture's own connection
    // Opens `sql` on `conn` (the fixture's connection when null).
    std::unique_ptr<ado::Recordset> open(const std::string& sql, ado::CursorTypeEnum type, ado::LockTypeEnum lock,
                                         std::shared_ptr<ado::Connection> conn = nullptr);
    // The value of the first field of the first row of `sql`, read through a connection of its own.
    Variant scalar(const std::string& sql);
    // True when a child process, opening the database afresh, reads `expected` as the text of `sql`'s first
    // value.
    bool child_process_reads(const std::string& sql, const std::string& expected);
    // Table items(id INTEGER PRIMARY KEY, name VARCHAR(20) UNIQUE, qty INTEGER) with rows 1 A 10, 2 B 20, 3 C 30.
    void make_items();

    std::shared_ptr<ado::Connection> conn_;

private:
    std::string provider_;
    std::string connection_string_;
    std::string dir_;     // SQLite: the temporary directory
    std::string schema_;  // PostgreSQL: the test's schema
};

}  // namespace ado_test

namespace ado_test {
// A whole-number field value as int (16, 32 or 64-bit); -1000000 when it is not a whole number.
inline int64_t vb_id(const Variant& v) {
    switch (v.type()) {
        case VarType::Integer: return v.as_int16();
        case VarType::Long: return v.as_int32();
        case VarType::LongLong: return v.as_int64();
        default: return -1000000;
    }
}
}  // namespace ado_test
