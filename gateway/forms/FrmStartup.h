// FrmStartup.h: the start-up form "Tolvix Connect to database": the saved connection settings in its
// boxes, the cursor location list, and "Run Server", which checks the numbers, saves every box and fills
// the gateway settings. Closing it any other way (Esc, Ctrl-C, F10, Ctrl-Q) leaves without saving.
//
// Time-out and port boxes that do not hold a number in range are refused with a message that names the
// box; the form stays open with the text as typed and the box focused, and nothing is saved.
#pragma once

#include <array>
#include <optional>
#include <string>

#include "gateway/GatewaySettings.h"
#include "gateway/StartupSettings.h"
#include "gateway/forms/FormTypes.h"
#include "gateway/forms/TextBox.h"

class SettingsStore;

namespace forms {

class FrmStartup final : public Form {
public:
    enum class State : uint8_t { Open, Started, Closed };

    // The controls in their tab order; the numbers are the widgets' ids.
    enum Control : int { tbProvider, tbConnectstring, tbCommandTimeout, tbConnectionTimeout, cbCursorlocation,
                         tbLocalIP, tbPort, BtRun, kControlCount };

    // Form_Load: the boxes show `saved` (what load_startup read, possibly overridden from the command line)
    // and the list the saved position; "Run Server" saves into `store`, which the caller keeps alive.
    FrmStartup(SettingsStore& store, const StartupTexts& saved);

    // The list entries and the ADO value each stands for, by position.
    static constexpr std::array<const char*, 2> kCursorTexts = {"adUseClient", "adUseServer"};
    static constexpr std::array<int32_t, 2> kCursorValues = {GatewaySettings::adUseClient,
                                                             GatewaySettings::adUseServer};

    // BtRun_Click: checks the numbers, saves, fills settings(), and closes with State::Started. A refused
    // number or a failed save shows a message and keeps the form open.
    void BtRun_Click();
    // Closing without "Run Server": State::Closed, nothing saved.
    void close() { if (state_ == State::Open) state_ = State::Closed; }

    State state() const { return state_; }
    // The started flag: set by "Run Server" just before the form closes.
    bool started() const { return state_ == State::Started; }
    // Filled by "Run Server".
    const GatewaySettings& settings() const { return settings_; }

    // The controls' contents, for the host and for tests.
    std::string text(Control box) const { return boxes_[box].text(); }
    void set_text(Control box, const std::string& utf8) { boxes_[box].set_text(utf8); }
    int ListIndex() const { return list_index_; }
    void ListIndex(int position) { list_index_ = position; }
    Control focus() const { return focus_; }
    // The message box on top of the form, if one shows.
    const std::optional<std::string>& message() const { return message_; }

    // Form
    void resize(int rows, int cols) override;
    void key(const KeyEvent& event) override;
    void mouse(const MouseEvent& event) override;
    Screen view() const override;

private:
    StartupTexts texts() const;
    bool check_numbers();
    void move_focus(int step);
    void key_in_list(const KeyEvent& event);
    void key_on_focus(const KeyEvent& event);
    Rect box_rect(Control c) const;
    Rect list_rect() const;
    Rect message_rect() const;
    int label_width() const;

    SettingsStore& store_;
    std::array<TextBox, kControlCount> boxes_{};   // only the text boxes' slots are used
    int list_index_ = 0;
    bool list_open_ = false;
    int list_highlight_ = 0;                       // the entry the arrows are on while the list is open
    Control focus_ = tbProvider;
    std::optional<std::string> message_;
    State state_ = State::Open;
    GatewaySettings settings_;
    int rows_ = 24;
    int cols_ = 80;
};

}  // namespace forms
