// ErrorList_test.cpp: entry format of the error list and its bound.
#include "dbcomponent/ErrorList.h"

#include <stdexcept>

#include <gtest/gtest.h>

namespace {

TEST(ErrorList, TrapTurnsEveryKindOfFailureIntoAnEntry) {
    struct Case {
        const char* label;
        void (*thrower)();
        std::string entry;
    };
    const Case cases[] = {
        {"ADO error, positive number", [] { throw ComError(3021, "ADODB.Recordset", "No current record."); },
         " 3021\x02No current record."},
        {"provider error, negative number", [] { throw ComError(-2147217900, "SQLite", "near \"x\": syntax error"); },
         "-2147217900\x02near \"x\": syntax error"},
        {"zero", [] { throw ComError(0, "x", "odd"); }, " 0\x02odd"},
        {"out of memory", [] { throw std::bad_alloc(); }, " 7\x02Out of memory"},
        {"other exception", [] { throw std::runtime_error("broken"); }, " 3000\x02" "broken"},
        {"not an exception", [] { throw 42; },
         " 3000\x02Provider failed to perform the requested operation."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        ErrorList errors;
        EXPECT_EQ(errors.trap(5, [&] {
                      c.thrower();
                      return 1;
                  }),
                  5);
        EXPECT_EQ(errors.first(), c.entry);
    }
}

TEST(ErrorList, StaysBoundedAndKeepsTheFirstEntry) {
    ErrorList errors;
    for (int i = 0; i < 10000; ++i) errors.record(i, "failure " + std::to_string(i));
    EXPECT_EQ(errors.size(), ErrorList::kMaxEntries);
    EXPECT_EQ(errors.first(), " 0\x02" "failure 0");
    errors.clear();
    EXPECT_EQ(errors.first(), "");
    errors.record(-1, "again");
    EXPECT_EQ(errors.first(), "-1\x02" "again");
}

}  // namespace
