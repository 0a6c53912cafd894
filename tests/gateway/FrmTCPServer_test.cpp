// FrmTCPServer_test.cpp: the monitor window without a terminal: captions and frames, counters from the
// gateway's log, the debug list (newest on top, CR LF as several lines, scrolling), the "Debug" box and
// its hidden toggle, Reset, and the quit keys.
#include "gateway/forms/FrmTCPServer.h"

#include <gtest/gtest.h>

#include "common/Conversions.h"
#include "tests/gateway/FormsTestKit.h"

using forms::FrmTCPServer;
using forms::Key;
using forms::WidgetKind;

namespace {

class FrmTCPServerTest : public ::testing::Test {
protected:
    FrmTCPServerTest() : gateway_(GatewaySettings{}), window_(gateway_) {
        window_.on_change([this] { ++changes_; });
        window_.resize(24, 100);
    }
    std::vector<std::string> list_lines() { return widget_with_id(window_.view(), FrmTCPServer::lbDebug).lines; }
    // The box beside a label.
    std::string box_beside(const std::string& label) {
        const forms::Screen s = window_.view();
        for (const forms::Widget& l : widgets_of(s, WidgetKind::Label)) {
            if (l.text != label) continue;
            for (const forms::Widget& b : widgets_of(s, WidgetKind::TextBox))
                if (b.rect.row == l.rect.row && b.rect.col > l.rect.col) return b.text;
        }
        ADD_FAILURE() << "no box beside " << label;
        return "";
    }
    void add_lines(int count) {
        for (int i = 1; i <= count; ++i) gateway_.log.AddDebugLine(0, "line " + std::to_string(i));
    }

    Gateway gateway_;
    FrmTCPServer window_;
    int changes_ = 0;
};

}  // namespace

TEST_F(FrmTCPServerTest, ShowsTheFramesAndLabelsInTheirOrder) {
    const forms::Screen s = window_.view();
    EXPECT_EQ(s.caption, "Tolvix Internet gateway");
    EXPECT_EQ(texts_of(s, WidgetKind::Frame),
              (std::vector<std::string>{"Handshakes", "Bytes negotiated", "Errors", "Active Sockets"}));
    std::vector<std::string> labels = texts_of(s, WidgetKind::Label);
    labels.pop_back();   // the key help on the last line
    EXPECT_EQ(labels, (std::vector<std::string>{"#Ind", "#Out", "Read", "Sendt", "Other", "Timeouts", "Max", "Alive"}));
    // Each pair of boxes lies inside its frame.
    const std::vector<forms::Widget> frames = widgets_of(s, WidgetKind::Frame);
    const std::vector<forms::Widget> boxes = widgets_of(s, WidgetKind::TextBox);
    ASSERT_EQ(boxes.size(), 8u);
    for (size_t i = 0; i < boxes.size(); ++i) {
        const forms::Rect& f = frames[i / 2].rect;
        EXPECT_TRUE(f.contains(boxes[i].rect.row, boxes[i].rect.col) &&
                    f.contains(boxes[i].rect.row, boxes[i].rect.col + boxes[i].rect.width - 1)) << i;
    }
    EXPECT_EQ(texts_of(s, WidgetKind::CheckBox), std::vector<std::string>{"Debug"});
    EXPECT_EQ(texts_of(s, WidgetKind::Button), std::vector<std::string>{"Reset"});
}

TEST_F(FrmTCPServerTest, CountersShowInTheirBoxesAndEachChangeAsksForARedraw) {
    const int before = changes_;
    gateway_.log.change(Counter::CharactersRead, 1234);
    gateway_.log.change(Counter::ActiveSockets, 1);
    gateway_.log.change(Counter::ActiveSockets, -1);
    EXPECT_EQ(changes_, before + 3);
    EXPECT_EQ(vb::trim(box_beside("Read")), "1,234");
    EXPECT_EQ(vb::trim(box_beside("Alive")), "");   // 0 shows as the empty text
}

TEST_F(FrmTCPServerTest, DebugListShowsTheNewestOnTopAndCrLfAsSeveralLines) {
    gateway_.log.LogError("Failure starting  server!", 10048, "", "Address already in use");
    gateway_.log.AddDebugLine(0, "Got something from:  1");
    gateway_.log.AddDebugLine(1, std::string("open\x02select 1"));
    EXPECT_EQ(list_lines(), (std::vector<std::string>{"Got something from:  1", "open^Bselect 1",
                                                      "Failure starting  server!Code: 10048",
                                                      "Desc: Address already in use"}));
}

TEST_F(FrmTCPServerTest, ScrollingKeepsItsLinesWhileNewOnesArriveAndHomeFollowsTheNewest) {
    add_lines(100);   // "line 100" on top
    const size_t height = list_lines().size();
    ASSERT_EQ(height, 20u);   // 24 rows: caption, border, 20 lines, border, help
    press(window_, {Key::PageDown});
    EXPECT_EQ(list_lines().front(), "line " + std::to_string(100 - static_cast<int>(height) + 1));
    press(window_, {Key::Down});
    const std::string first = list_lines().front();
    gateway_.log.AddDebugLine(0, "newest");
    gateway_.log.AddDebugLine(1, "second");
    EXPECT_EQ(list_lines().front(), first);   // the lines being read stay put
    press(window_, {Key::End});
    EXPECT_EQ(list_lines().back(), "line 1");
    EXPECT_EQ(list_lines().size(), height);   // the last page is full
    press(window_, {Key::PageDown, Key::Down});
    EXPECT_EQ(list_lines().back(), "line 1");
    press(window_, {Key::Home});
    EXPECT_EQ(list_lines().front(), "newest");
    gateway_.log.AddDebugLine(0, "after");
    EXPECT_EQ(list_lines().front(), "after");   // at the top the view follows the newest
    press(window_, {Key::Up});
    EXPECT_EQ(list_lines().front(), "after");
    const forms::Rect list = widget_with_id(window_.view(), FrmTCPServer::lbDebug).rect;
    window_.mouse(forms::MouseEvent{forms::MouseEvent::Action::WheelDown, list.row + 2, list.col + 2});
    EXPECT_EQ(list_lines().front(), "line 100");   // three lines down: after, newest, second
}

TEST_F(FrmTCPServerTest, ScrollingMovesThroughTheLinesOfOneEntry) {
    gateway_.log.LogError("text", 5, "Src", "Desc");   // the oldest entry, three screen lines
    add_lines(30);
    press(window_, {Key::End});
    std::vector<std::string> lines = list_lines();
    EXPECT_EQ(lines[lines.size() - 3], "textCode: 5");
    EXPECT_EQ(lines.back(), "Desc: Desc");
    press(window_, {Key::Up});
    EXPECT_EQ(list_lines().back(), "Source: Src");
    press(window_, {Key::Down, Key::Down});
    EXPECT_EQ(list_lines().back(), "Desc: Desc");
}

TEST_F(FrmTCPServerTest, KeyboardChecksDebugAndResetEmptiesTheTrafficBoxesAndTheList) {
    gateway_.log.change(Counter::MessagesIn, 3);
    gateway_.log.change(Counter::CharactersSent, 50);
    gateway_.log.change(Counter::ConnectionsAccepted, 2);
    add_lines(3);
    // Space is "Debug" as the key help says, also from the list, which has the focus first.
    ASSERT_EQ(window_.focus(), FrmTCPServer::lbDebug);
    type(window_, " ");
    EXPECT_TRUE(gateway_.log.DebugSwitch());
    EXPECT_TRUE(widgets_of(window_.view(), WidgetKind::CheckBox).at(0).checked);
    press(window_, {Key::Enter});   // Enter presses the focused control; the list is none
    EXPECT_TRUE(gateway_.log.DebugSwitch());
    EXPECT_EQ(gateway_.log.debug_list().size(), 3u);
    press(window_, {Key::Tab});
    EXPECT_EQ(window_.focus(), FrmTCPServer::chbDebug);
    press(window_, {Key::Enter});
    EXPECT_FALSE(gateway_.log.DebugSwitch());
    press(window_, {Key::Tab, Key::Enter});
    EXPECT_EQ(window_.focus(), FrmTCPServer::cmdReset);
    EXPECT_TRUE(gateway_.log.debug_list().empty());
    EXPECT_TRUE(list_lines().empty());
    EXPECT_EQ(vb::trim(box_beside("#Ind")), "");
    EXPECT_EQ(vb::trim(box_beside("Sendt")), "");
    EXPECT_EQ(vb::trim(box_beside("Max")), "2");   // not reset
    gateway_.log.change(Counter::MessagesIn, 1);
    EXPECT_EQ(vb::trim(box_beside("#Ind")), "1");
}

TEST_F(FrmTCPServerTest, ShiftRightClickOnOtherTogglesTheDebugBoxAndNothingElseDoes) {
    const forms::Rect other = widget_with_id(window_.view(), FrmTCPServer::Label6).rect;
    const forms::Rect max_label = widgets_of(window_.view(), WidgetKind::Label).at(6).rect;
    click(window_, other, forms::kRightButton);                              // no Shift
    click(window_, other, forms::kLeftButton, forms::kShiftMask);           // left button
    click(window_, other, forms::kRightButton, forms::kShiftMask | forms::kCtrlMask);
    click(window_, max_label, forms::kRightButton, forms::kShiftMask);      // another label
    EXPECT_TRUE(has_id(window_.view(), FrmTCPServer::chbDebug));
    press(window_, {Key::Tab});
    ASSERT_EQ(window_.focus(), FrmTCPServer::chbDebug);

    click(window_, other, forms::kRightButton, forms::kShiftMask);
    EXPECT_FALSE(has_id(window_.view(), FrmTCPServer::chbDebug));
    EXPECT_NE(window_.focus(), FrmTCPServer::chbDebug);   // a hidden box loses the focus...
    press(window_, {Key::Tab, Key::Tab, Key::Tab});
    EXPECT_NE(window_.focus(), FrmTCPServer::chbDebug);   // ...and is skipped by Tab
    type(window_, " ");
    EXPECT_FALSE(gateway_.log.DebugSwitch());

    click(window_, other, forms::kRightButton, forms::kShiftMask);
    EXPECT_TRUE(has_id(window_.view(), FrmTCPServer::chbDebug));
    click(window_, widget_with_id(window_.view(), FrmTCPServer::chbDebug).rect);
    EXPECT_TRUE(gateway_.log.DebugSwitch());
}

// The key help sits on the last line; on an 80-column terminal it must still say how to quit.
TEST_F(FrmTCPServerTest, QuitKeysUnloadTheWindowAndTheKeyHelpShowsThemIn80Columns) {
    window_.resize(24, 80);
    const forms::Widget help = widgets_of(window_.view(), WidgetKind::Label).back();
    EXPECT_LE(help.rect.col + static_cast<int>(help.text.size()), 80) << help.text;
    EXPECT_NE(help.text.find("F10"), std::string::npos) << help.text;

    for (Key k : {Key::Quit, Key::Interrupt}) {
        Gateway gateway{GatewaySettings{}};
        FrmTCPServer window(gateway);
        press(window, {Key::Escape, Key::Enter});
        EXPECT_FALSE(window.unloading());
        press(window, {k});
        EXPECT_TRUE(window.unloading());
    }
}
