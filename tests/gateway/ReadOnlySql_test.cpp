// ReadOnlySql_test.cpp: which statement texts a read-only gateway lets through. The refused ones are the
// tricks that would make a text look like one SELECT to a careless check and write on one of the databases.
#include <gtest/gtest.h>

#include "gateway/ReadOnlySql.h"

TEST(ReadOnlySql, OnlyASingleReadingStatementPasses) {
    const char* allowed[] = {
        "SELECT id, name FROM people WHERE name = 'O''Neil; DROP TABLE people'",
        "  -- leading comment\n/* and another */ select count(*) from people;  ;\n-- trailing",
        "WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n WHERE x < 5) SELECT x FROM n",
        "SELECT \"Order; Total\" FROM t",
        "SELECT replace(name, 'a', 'b'), coalesce(score, 0) FROM people ORDER BY 1 LIMIT 3",
        "SELECT * FROM pg_tables",    // a catalog read: pg_ refused only as a function
    };
    for (const char* sql : allowed) {
        SCOPED_TRACE(sql);
        EXPECT_EQ(read_only_refusal(sql), "");
    }
    const char* refused[] = {
        "DELETE FROM people",
        "SELECT 1; DELETE FROM people",
        "SELECT 1; SELECT 2",
        "SELECT 1 /* ; */ ; 'x'",
        "WITH gone AS (DELETE FROM people RETURNING id) SELECT * FROM gone",
        "SELECT * INTO copy FROM people",
        "SELECT * FROM people FOR UPDATE",
        "SELECT * FROM people FOR SHARE",
        "SELECT nextval('s')",
        "SELECT pg_catalog.setval ('s', 1)",
        "SELECT \"nextval\"('s')",
        "SELECT pg_terminate_backend(1)",
        "SELECT load_extension('x')",
        "SELECT query_to_xml('DELETE FROM people', true, true, '')",
        "SELECT $$'$$; DELETE FROM people; --'",   // dollar quoting would hide the DELETE from a quote-aware check
        "SELECT E'\\''; DELETE FROM people; --'",   // so would a backslash escape
        "SELECT [x']; DELETE FROM people; --']",    // and a bracketed name
        "SELECT 'unclosed",
        "SELECT 1 /* unclosed",
        "PRAGMA writable_schema = 1",
        "EXPLAIN ANALYZE DELETE FROM people",
        "VACUUM",
        "",
        "  -- only a comment",
    };
    for (const char* sql : refused) {
        SCOPED_TRACE(sql);
        EXPECT_NE(read_only_refusal(sql), "");
    }
}
