// DebugListView_test.cpp: how one debug entry becomes screen lines.
#include "gateway/forms/DebugListView.h"

#include <gtest/gtest.h>

using forms::DebugListView;
using Lines = std::vector<std::string>;

TEST(DebugListView, EntriesSplitAtLineBreaksAndShowControlsAndWindows1252) {
    EXPECT_EQ(DebugListView::screen_lines("a\r\nb\nc\rd", 10), (Lines{"a", "b", "c", "d"}));
    EXPECT_EQ(DebugListView::screen_lines("a\r\n", 10), (Lines{"a", ""}));
    EXPECT_EQ(DebugListView::screen_lines("", 10), (Lines{""}));
    EXPECT_EQ(DebugListView::screen_lines("x\x02y\x03\x7f", 10), (Lines{"x^By^C^?"}));
    EXPECT_EQ(DebugListView::screen_lines("Bj\xf8rn \x80", 10), (Lines{"Bjørn €"}));
    // Cut to the width, never in the middle of a shown control character.
    EXPECT_EQ(DebugListView::screen_lines("abcdef", 4), (Lines{"abcd"}));
    EXPECT_EQ(DebugListView::screen_lines("abc\x02", 4), (Lines{"abc"}));
}

TEST(DebugListView, ThePositionStaysInsideAListThatShrank) {
    std::deque<std::string> list;
    for (int i = 0; i < 50; ++i) list.push_back(std::to_string(i));
    DebugListView view;
    view.scroll(list, 45, 5);
    EXPECT_EQ(view.top_entry(), 45u);
    list.resize(10);   // the oldest fell off
    EXPECT_EQ(view.visible(list, 10, 5), (Lines{"5", "6", "7", "8", "9"}));
    list.clear();
    EXPECT_TRUE(view.visible(list, 10, 5).empty());
    EXPECT_EQ(view.top_entry(), 0u);
}
