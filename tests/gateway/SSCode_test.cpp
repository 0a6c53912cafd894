// SSCode_test.cpp: LogError's layout, the bounded debug list, counters that wrap, and the "#,###" display.
#include <gtest/gtest.h>

#include "gateway/MonitorModel.h"
#include "gateway/SSCode.h"

TEST(SSCode, LogErrorRunsItsPartsTogether) {
    struct Case {
        int32_t code;
        const char* source;
        const char* description;
        const char* expected;
    };
    const Case cases[] = {
        {5, "", "D", "Failure starting  server!Code: 5\r\nDesc: D"},
        {0, "", "", "Failure starting  server!"},
        {0, "WSocket", "D", "Failure starting  server!Source: WSocket\r\nDesc: D"},
        {-2147467259, "S", "", "Failure starting  server!Code: -2147467259\r\nSource: S\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        SSCode code;
        code.AddDebugLine(0, "older");
        code.LogError("Failure starting  server!", c.code, c.source, c.description);
        ASSERT_EQ(code.debug_list().size(), 2u);
        EXPECT_EQ(code.debug_list().front(), c.expected);
    }
}

TEST(SSCode, DebugListKeepsTheNewestLines) {
    SSCode code(3);
    for (int i = 1; i <= 5; ++i) {
        code.AddDebugLine(0, "line " + std::to_string(i));
        code.AddDebugLine(1, "under " + std::to_string(i));
    }
    const std::deque<std::string> expected = {"line 5", "under 5", "line 4"};
    EXPECT_EQ(code.debug_list(), expected);
}

TEST(SSCode, CountersWrapInsteadOfFailing) {
    SSCode code;
    code.change(Counter::ConnectionsAccepted, 32767);
    EXPECT_EQ(code.change(Counter::ConnectionsAccepted, 1), -32768);   // 16-bit
    code.change(Counter::CharactersRead, 2147483647);
    EXPECT_EQ(code.change(Counter::CharactersRead, 1), -2147483647 - 1);
    code.change(Counter::ActiveSockets, 1);
    EXPECT_EQ(code.change(Counter::ActiveSockets, -1), 0);
}

TEST(MonitorModel, CountersShowGroupedAndZeroAsEmpty) {
    SSCode code;
    const auto monitor = MonitorModel::create(code);
    std::vector<Counter> heard;
    monitor->on_counter([&](Counter c) { heard.push_back(c); });
    code.change(Counter::CharactersRead, 1234);
    code.change(Counter::CharactersSent, 1234567);
    EXPECT_EQ(monitor->text(Counter::CharactersRead), "1,234");
    EXPECT_EQ(monitor->text(Counter::CharactersSent), "1,234,567");
    code.change(Counter::CharactersRead, -1234);
    EXPECT_EQ(monitor->text(Counter::CharactersRead), "");
    EXPECT_EQ(heard.size(), 3u);
    EXPECT_STREQ(MonitorModel::box_name(Counter::ActiveSockets), "txtSockets");
}

TEST(MonitorModel, ShiftRightClickOnOtherTogglesTheDebugBox) {
    SSCode code;
    const auto monitor = MonitorModel::create(code);
    ASSERT_TRUE(monitor->chbDebug_visible());
    monitor->Label6_MouseUp(2, 0);   // right button alone
    monitor->Label6_MouseUp(1, 1);   // left button with Shift
    monitor->Label6_MouseUp(2, 3);   // Shift and Ctrl
    EXPECT_TRUE(monitor->chbDebug_visible());
    monitor->Label6_MouseUp(2, 1);
    EXPECT_FALSE(monitor->chbDebug_visible());
    monitor->Label6_MouseUp(2, 1);
    EXPECT_TRUE(monitor->chbDebug_visible());
}
