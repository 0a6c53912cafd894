// FrmStartup_test.cpp: the start-up form without a terminal: what it shows, loading and saving the
// settings, refused numbers, the list, and closing without "Run Server".
#include "gateway/forms/FrmStartup.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/settings/SettingsStore.h"
#include "tests/gateway/FormsTestKit.h"
#include "tests/support/TempDir.h"

using forms::FrmStartup;
using forms::Key;
using forms::WidgetKind;

namespace {

class FrmStartupTest : public ::testing::Test {
protected:
    void write_settings(const std::string& startup) { std::ofstream(file_) << "[Startup]\n" << startup; }
    std::string file_text() const {
        std::ifstream in(file_);
        std::stringstream all;
        all << in.rdbuf();
        return all.str();
    }
    // A form over the settings file as it stands, 80 x 24.
    std::unique_ptr<FrmStartup> open() {
        store_ = std::make_unique<SettingsStore>(file_);
        auto form = std::make_unique<FrmStartup>(*store_, load_startup(*store_));
        form->resize(24, 80);
        return form;
    }
    // Tab from the first box to `box`.
    static void focus(FrmStartup& form, FrmStartup::Control box) {
        while (form.focus() != box) press(form, {Key::Tab});
    }

    const test_support::TempDir folder_{"frmstartup-test"};
    const std::string file_ = folder_.file("settings.ini");
    std::unique_ptr<SettingsStore> store_;
};

}  // namespace

TEST_F(FrmStartupTest, ShowsItsCaptionsAndLabelsInTheirOrderAndAnEmptyFirstRun) {
    const auto form = open();
    const forms::Screen screen = form->view();
    EXPECT_EQ(screen.caption, "Tolvix Connect to database");
    EXPECT_EQ(texts_of(screen, WidgetKind::Frame), std::vector<std::string>{"ADO Connect string and database server"});
    const std::vector<std::string> labels = {"With Db",  ".Provider=", ".ConnectionString=", ".CommandTimeout=",
                                             ".ConnectionTimeOut=", ".CursorLocation=", ".Open", "End With",
                                             "Local IP adress:", "Port no.:"};
    std::vector<std::string> shown = texts_of(screen, WidgetKind::Label);
    shown.pop_back();   // the key help on the last line
    EXPECT_EQ(shown, labels);
    EXPECT_EQ(texts_of(screen, WidgetKind::Button), std::vector<std::string>{"Run Server"});
    EXPECT_EQ(texts_of(screen, WidgetKind::DropDown), std::vector<std::string>{"adUseClient"});
    for (const std::string& text : texts_of(screen, WidgetKind::TextBox)) EXPECT_EQ(text, "");
    // Every control sits on the row of its label.
    for (int c = FrmStartup::tbProvider; c < FrmStartup::BtRun; ++c)
        EXPECT_EQ(widget_with_id(screen, c).rect.row, widgets_of(screen, WidgetKind::Label)[c < FrmStartup::tbLocalIP ? c + 1 : c + 3].rect.row);
    EXPECT_FALSE(form->message());
    // The key help on the last line fits 80 columns, so it always says how to quit.
    const forms::Widget help = widgets_of(screen, WidgetKind::Label).back();
    EXPECT_LE(help.rect.col + static_cast<int>(help.text.size()), 80) << help.text;
    EXPECT_NE(help.text.find("Esc"), std::string::npos) << help.text;
}

TEST_F(FrmStartupTest, RunServerSavesEveryBoxAndFillsTheSettings) {
    write_settings("Provider=SQLite\nConnect=Data Source=/srv/a.db\nIP=127.0.0.1\nPort=1007\n"
                   "CommandTimeout=30\nConnectionTimeout=15\nCursorlocation=1\n");
    auto form = open();
    EXPECT_EQ(form->text(FrmStartup::tbConnectstring), "Data Source=/srv/a.db");
    EXPECT_EQ(form->text(FrmStartup::tbCommandTimeout), "30");
    EXPECT_EQ(form->ListIndex(), 1);
    EXPECT_EQ(texts_of(form->view(), WidgetKind::DropDown), std::vector<std::string>{"adUseServer"});

    focus(*form, FrmStartup::tbPort);
    press(*form, {Key::Backspace, Key::Backspace});
    type(*form, "99");   // 1099
    focus(*form, FrmStartup::cbCursorlocation);
    press(*form, {Key::Up});   // adUseClient
    focus(*form, FrmStartup::tbConnectionTimeout);
    press(*form, {Key::Home, Key::Delete});
    type(*form, "2");    // 25
    focus(*form, FrmStartup::BtRun);
    EXPECT_FALSE(form->started());
    press(*form, {Key::Enter});

    ASSERT_EQ(form->state(), FrmStartup::State::Started);
    const GatewaySettings& s = form->settings();
    EXPECT_EQ(s.Provider, "SQLite");
    EXPECT_EQ(s.Connect, "Data Source=/srv/a.db");
    EXPECT_EQ(s.IP, "127.0.0.1");
    EXPECT_EQ(s.Port, 1099);
    EXPECT_EQ(s.CommandTimeout, 30);
    EXPECT_EQ(s.ConnectionTimeout, 25);
    EXPECT_EQ(s.CursorLocation, GatewaySettings::adUseClient);
    const StartupTexts saved = load_startup(SettingsStore(file_));
    EXPECT_EQ(saved.Port, "1099");
    EXPECT_EQ(saved.ConnectionTimeout, "25");
    EXPECT_EQ(saved.Cursorlocation, "0");
    EXPECT_EQ(saved.Connect, "Data Source=/srv/a.db");
}

// A first run: the operator types into the boxes in tab order, leaves both time-outs empty, and presses
// Enter in the port box. Enter in a box is "Run Server"; empty time-outs are 0, the provider's defaults.
TEST_F(FrmStartupTest, EnterInABoxRunsTheServerAndEmptyTimeOutsAreZero) {
    auto form = open();
    type(*form, "SQLite");
    press(*form, {Key::Tab});
    type(*form, "Data Source=/srv/a.db");
    press(*form, {Key::Tab, Key::Tab, Key::Tab, Key::Tab});
    EXPECT_EQ(form->focus(), FrmStartup::tbLocalIP);
    type(*form, "127.0.0.1");
    press(*form, {Key::Tab});
    type(*form, "18077");
    press(*form, {Key::Enter});

    ASSERT_EQ(form->state(), FrmStartup::State::Started) << form->message().value_or("(no message)");
    EXPECT_EQ(form->settings().CommandTimeout, 0);
    EXPECT_EQ(form->settings().ConnectionTimeout, 0);
    EXPECT_EQ(form->settings().Port, 18077);
    const StartupTexts saved = load_startup(SettingsStore(file_));
    EXPECT_EQ(saved.CommandTimeout, "");
    EXPECT_EQ(saved.Port, "18077");

    // Enter in an earlier box checks the numbers the same way: the empty port box is refused and focused.
    auto second = open();
    second->set_text(FrmStartup::tbPort, "");
    press(*second, {Key::Tab, Key::Enter});
    EXPECT_EQ(second->state(), FrmStartup::State::Open);
    ASSERT_TRUE(second->message());
    EXPECT_NE(second->message()->find("\"Port no.:\""), std::string::npos) << *second->message();
    EXPECT_EQ(second->focus(), FrmStartup::tbPort);
}

TEST_F(FrmStartupTest, ChoosingAdUseServerPassesTwoAndUnicodeTextRoundTrips) {
    write_settings("Port=1007\n");
    auto form = open();
    focus(*form, FrmStartup::tbConnectstring);
    type(*form, "Data Source=/srv/Bjørn.db");
    focus(*form, FrmStartup::cbCursorlocation);
    press(*form, {Key::Enter, Key::Down, Key::Enter});   // open the list, next entry, take it
    EXPECT_EQ(form->ListIndex(), 1);
    form->BtRun_Click();
    ASSERT_TRUE(form->started());
    EXPECT_EQ(form->settings().CursorLocation, GatewaySettings::adUseServer);
    EXPECT_EQ(load_startup(SettingsStore(file_)).Connect, "Data Source=/srv/Bjørn.db");
    EXPECT_EQ(load_startup(SettingsStore(file_)).Cursorlocation, "1");
}

TEST_F(FrmStartupTest, BadNumbersAreRefusedNamingTheBoxAndNothingIsSaved) {
    struct Case {
        FrmStartup::Control box;
        const char* text;
        const char* label;
    };
    const Case cases[] = {
        {FrmStartup::tbCommandTimeout, "abc", ".CommandTimeout="},
        {FrmStartup::tbCommandTimeout, "-1", ".CommandTimeout="},
        {FrmStartup::tbConnectionTimeout, "40000", ".ConnectionTimeOut="},
        {FrmStartup::tbPort, "70000", "Port no.:"},
        {FrmStartup::tbPort, "", "Port no.:"},
        {FrmStartup::tbPort, "10 07", "Port no.:"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.label) + " " + c.text);
        write_settings("Port=1007\nCommandTimeout=5\n");
        const std::string before = file_text();
        auto form = open();
        form->set_text(c.box, c.text);
        focus(*form, FrmStartup::BtRun);
        press(*form, {Key::Enter});
        EXPECT_EQ(form->state(), FrmStartup::State::Open);
        ASSERT_TRUE(form->message());
        EXPECT_NE(form->message()->find(std::string("\"") + c.label + "\""), std::string::npos) << *form->message();
        EXPECT_EQ(form->focus(), c.box);
        EXPECT_EQ(form->text(c.box), c.text);   // the text stays as typed
        EXPECT_EQ(file_text(), before);
        EXPECT_EQ(widgets_of(form->view(), WidgetKind::MessageBox).size(), 1u);
        type(*form, "9");   // the message box is modal: typing goes nowhere
        EXPECT_EQ(form->text(c.box), c.text);
        press(*form, {Key::Enter});
        EXPECT_FALSE(form->message());
        EXPECT_EQ(form->state(), FrmStartup::State::Open);
    }
}

TEST_F(FrmStartupTest, ClosingWithoutRunServerSavesNothing) {
    for (Key k : {Key::Escape, Key::Quit, Key::Interrupt}) {
        SCOPED_TRACE(static_cast<int>(k));
        write_settings("Port=1007\n");
        const std::string before = file_text();
        auto form = open();
        type(*form, "PostgreSQL");
        press(*form, {k});
        EXPECT_EQ(form->state(), FrmStartup::State::Closed);
        EXPECT_FALSE(form->started());
        press(*form, {Key::Tab, Key::Tab, Key::Tab, Key::Tab, Key::Tab, Key::Tab, Key::Tab, Key::Enter});
        EXPECT_EQ(form->state(), FrmStartup::State::Closed);   // a closed form takes nothing more
        EXPECT_EQ(file_text(), before);
    }
}

TEST_F(FrmStartupTest, MouseChoosesTheListEntryAndPressesRunServer) {
    write_settings("Port=1007\n");
    auto form = open();
    const forms::Screen closed = form->view();
    click(*form, widget_with_id(closed, FrmStartup::cbCursorlocation).rect);
    const std::vector<forms::Widget> lists = widgets_of(form->view(), WidgetKind::DropList);
    ASSERT_EQ(lists.size(), 1u);
    EXPECT_EQ(lists[0].lines, (std::vector<std::string>{"adUseClient", "adUseServer"}));
    forms::Rect second = lists[0].rect;
    second.row += 2;   // border, then the first entry
    second.height = 1;
    click(*form, second);
    EXPECT_EQ(form->ListIndex(), 1);
    EXPECT_TRUE(widgets_of(form->view(), WidgetKind::DropList).empty());
    click(*form, widget_with_id(closed, FrmStartup::BtRun).rect, forms::kRightButton);   // only the left button presses
    EXPECT_EQ(form->state(), FrmStartup::State::Open);
    click(*form, widget_with_id(closed, FrmStartup::BtRun).rect);
    EXPECT_EQ(form->state(), FrmStartup::State::Started);
    EXPECT_EQ(form->settings().CursorLocation, GatewaySettings::adUseServer);
}

TEST_F(FrmStartupTest, ABadSavedListPositionSelectsAdUseClientWithAMessage) {
    write_settings("Cursorlocation=7\n");
    auto form = open();
    EXPECT_EQ(form->ListIndex(), 0);
    ASSERT_TRUE(form->message());
    EXPECT_NE(form->message()->find("Cursorlocation \"7\""), std::string::npos) << *form->message();
}
