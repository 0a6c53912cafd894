// Terminal.cpp: the curses session, reading input from the pump, and paced redraws.
#include "gateway/tui/Terminal.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <clocale>

#include "common/ComError.h"
#include "gateway/tui/Draw.h"
#include "gateway/tui/Input.h"

// Last: its capability macros (lines, columns ...) would rename names in the headers above.
#include <term.h>

namespace tui {

namespace {

// How long a lone Escape waits for the rest of a key sequence. Bounded and short: the read happens on
// the gateway's thread.
constexpr int kEscapeDelayMs = 25;

}  // namespace

Terminal::Terminal() {
    if (!::isatty(STDIN_FILENO) || !::isatty(STDOUT_FILENO))
        throw ComError(kErrInvalidCall, "vantrel", kNoTerminal);
    // Only the character type follows the environment (UTF-8 output); numbers never depend on the locale.
    std::setlocale(LC_CTYPE, "");
    // The terminal type is looked up on its own first: a newterm that fails keeps memory it never frees.
    int lookup = 0;
    if (setupterm(nullptr, STDOUT_FILENO, &lookup) == OK) del_curterm(cur_term);
    if (lookup == 1) screen_ = newterm(nullptr, stdout, stdin);
    if (!screen_)
        throw ComError(kErrInvalidCall, "vantrel", "the terminal type is unknown; run with --headless (see --help)");
    raw();   // Ctrl-C and Ctrl-Q come as keys; signals from outside come through the pump
    noecho();
    nonl();
    keypad(stdscr, TRUE);
    nodelay(stdscr, TRUE);
    set_escdelay(kEscapeDelayMs);
    mouseinterval(0);   // presses and releases separately: a form acts when the button goes up
    mousemask(ALL_MOUSE_EVENTS, nullptr);
    if (msgloop::MessageLoop::current().watch_fd(STDIN_FILENO, msgloop::io::kIn, this) != 0) {
        endwin();
        delscreen(screen_);
        throw ComError(kErrInvalidCall, "vantrel", "cannot watch the terminal");
    }
    watching_ = true;
}

Terminal::~Terminal() {
    auto& loop = msgloop::MessageLoop::current();
    if (redraw_timer_) loop.remove_timer(redraw_timer_);
    if (watching_) loop.unwatch_fd(STDIN_FILENO);
    endwin();
    delscreen(screen_);
}

void Terminal::run(forms::Form& form, const std::function<bool()>& done) {
    form_ = &form;
    done_ = done;
    form.resize(LINES, COLS);
    draw();
    if (watching_) read_keys();   // keys typed ahead while the form before was closing
    if (!done()) msgloop::MessageLoop::current().run();
    draw();
}

void Terminal::request_redraw() {
    if (redraw_timer_ || !form_) return;
    const auto since = std::chrono::steady_clock::now() - last_draw_;
    const auto wait = since >= kRedrawInterval
                          ? std::chrono::milliseconds(0)
                          : std::chrono::ceil<std::chrono::milliseconds>(kRedrawInterval - since);
    redraw_timer_ = msgloop::MessageLoop::current().add_timer(
        wait,
        [this] {
            redraw_timer_ = 0;
            draw();
        },
        msgloop::TimerMode::once);
}

void Terminal::resized() {
    winsize size{};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_row > 0 && size.ws_col > 0)
        resize_term(size.ws_row, size.ws_col);
    if (form_) form_->resize(LINES, COLS);
    clearok(curscr, TRUE);
    after_event();
}

void Terminal::deliver(const forms::KeyEvent& event) {
    if (form_) form_->key(event);
    after_event();
}

void Terminal::deliver(const forms::MouseEvent& event) {
    if (form_) form_->mouse(event);
    after_event();
}

void Terminal::after_event() {
    if (done_ && done_()) msgloop::MessageLoop::current().stop();
    else request_redraw();
}

// A terminal that went away (hang-up) closes the form like Ctrl-C.
void Terminal::on_fd_ready(int, uint32_t events) {
    read_keys();
    if (events & (msgloop::io::kHup | msgloop::io::kErr)) {
        msgloop::MessageLoop::current().unwatch_fd(STDIN_FILENO);
        watching_ = false;
        deliver(forms::KeyEvent{forms::Key::Interrupt});
    }
}

// Reads every key the terminal has; the curses library may hold several keys from one read, so the loop
// runs until it has none. It stops when the form is done, so that keys typed ahead go to the next form.
void Terminal::read_keys() {
    while (!(done_ && done_())) {
        wint_t code = 0;
        const int rc = wget_wch(stdscr, &code);
        if (rc == ERR) break;
        if (rc == KEY_CODE_YES && code == KEY_MOUSE) {
            MEVENT m{};
            if (getmouse(&m) == OK)
                if (const auto event = translate_mouse(m)) deliver(*event);
        } else if (rc == KEY_CODE_YES && code == KEY_RESIZE) {
            resized();
        } else if (const auto event = translate_key(rc == KEY_CODE_YES, code)) {
            deliver(*event);
        }
    }
}

void Terminal::draw() {
    if (redraw_timer_) {
        msgloop::MessageLoop::current().remove_timer(redraw_timer_);
        redraw_timer_ = 0;
    }
    if (!form_) return;
    last_draw_ = std::chrono::steady_clock::now();
    draw_screen(form_->view());
}

}  // namespace tui
