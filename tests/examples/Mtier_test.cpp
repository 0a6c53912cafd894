// Mtier_test.cpp: "Mtier.Interface" created by ProgID from a registry file, answering "mtier" requests
// through the gateway with its arguments bound, never pasted, and reporting failures as error entries.
#include <cstdlib>
#include <fstream>

#include "platform/object/ClassRegistry.h"
#include "tests/gateway/GatewayTestKit.h"

namespace {

class MtierTest : public GatewayTest {
protected:
    void SetUp() override {
        GatewayTest::SetUp();
        std::ofstream(folder_ + "/statements.txt") << "# test statements\n"
                                                      "person = SELECT id, name, score FROM people WHERE name = ?\n"
                                                      "older_than = SELECT name FROM people WHERE born < ? ORDER BY id\n"
                                                      "broken = SELECT nothing FROM nowhere\n";
        ::setenv("MTIER_STATEMENTS", (folder_ + "/statements.txt").c_str(), 1);
        std::ofstream(folder_ + "/classes.conf") << "Mtier.Interface = " << MTIER_LIBRARY << " : mtier_create_object\n";
        ClassRegistry::instance().load_file(folder_ + "/classes.conf");
        // What SSServer::OpenServer does once a middle tier is registered.
        gateway_->mtier = ClassRegistry::instance().create("mtier.interface");
        const GatewaySettings& s = gateway_->settings;
        ASSERT_EQ(gateway_->mtier->call("DBInit", {Variant(s.Provider), Variant(s.Connect), Variant(int16_t{0}),
                                                   Variant(int16_t{0}), Variant(int32_t{3})}),
                  Variant(true));
    }
    void TearDown() override {
        ClassRegistry::instance().load_file(folder_ + "/none.conf");   // a missing file: no entries
        ::unsetenv("MTIER_STATEMENTS");
        GatewayTest::TearDown();
    }
};

std::string mtier(const std::vector<std::string>& tokens) {
    std::vector<std::string> all = {"mtier"};
    all.insert(all.end(), tokens.begin(), tokens.end());
    return join(all);
}

}  // namespace

TEST_F(MtierTest, NamedStatementsRunWithBoundArguments) {
    TestClient client(port());
    client.send_first(mtier({"person", "Ann"}));
    EXPECT_EQ(client.reply(), "ok");
    EXPECT_EQ(client.reply(), join({"1", "Ann", "3.5"}));
    struct Case {
        std::vector<std::string> tokens;
        std::vector<std::string> replies;   // "ERR <number>" for an error entry
    };
    const Case cases[] = {
        {{"person", "Ann' OR '1'='1"}, {"ok", ""}},             // an argument is a value, never SQL
        {{"older_than", "2000-01-01"}, {"ok", join({"Ann"})}},  // Bo's null date compares as unknown
        {{"person"}, {"ERR 5"}},                                // one argument short
        {{"person", "Ann", "extra"}, {"ERR 5"}},
        {{"nosuch"}, {"ERR 5"}},
        {{"broken"}, {"ERR -2147217900"}},
        {{"person", "Bo"}, {"ok", join({"2", "Bo", "2"})}},    // the error list was cleared in between
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(mtier(c.tokens));
        client.send(mtier(c.tokens));
        for (const std::string& expected : c.replies) {
            const std::optional<std::string> got = client.reply();
            ASSERT_TRUE(got.has_value());
            if (expected.rfind("ERR ", 0) == 0) {
                const std::string number = expected.substr(4);
                EXPECT_EQ(got->rfind((number[0] == '-' ? "" : " ") + number + kStx, 0), 0u) << *got;
            } else {
                EXPECT_EQ(*got, expected);
            }
        }
    }
    EXPECT_TRUE(client.quiet_for(std::chrono::milliseconds(50)));
}

TEST_F(MtierTest, ErrorsWithoutAcknowledgementAreClearedQuietly) {
    TestClient client(port());
    client.send_first(mtier({"nosuch"}), false);
    EXPECT_EQ(client.reply(), "");   // the request never counts as failed: its (empty) text goes out
    client.send(mtier({"person", "Cy"}));
    EXPECT_EQ(client.reply(), join({"3", "Cy", ""}));
    EXPECT_EQ(gateway_->mtier->call("DError"), Variant(""));
}

TEST_F(MtierTest, UnsupportedProviderOrMissingStatementsFailDBInit) {
    const DispatchPtr other = ClassRegistry::instance().create("Mtier.Interface");
    EXPECT_EQ(other->call("DBInit", {Variant("PostgreSQL"), Variant("host=x")}), Variant(false));
    EXPECT_NE(other->call("DError"), Variant(""));
    ::setenv("MTIER_STATEMENTS", (folder_ + "/absent.txt").c_str(), 1);
    const DispatchPtr third = ClassRegistry::instance().create("Mtier.Interface");
    EXPECT_EQ(third->call("DBInit", {Variant("SQLite"), Variant(gateway_->settings.Connect)}), Variant(false));
}
