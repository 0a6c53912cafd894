// Terminal.h: the gateway's terminal: the curses session on standard input and output, the form it
// shows, its keyboard and mouse read through the message pump's descriptor watch, and redraws paced to
// at most 20 a second.
//
// Everything runs on the gateway's thread from the pump: input is read only when the pump finds the
// terminal readable, and a redraw is a one-shot pump timer, so the sockets are served between any two
// of them and the display never holds up a busy gateway.
#pragma once

#include <chrono>
#include <functional>

#include "gateway/forms/FormTypes.h"
#include "platform/msgloop/MessageLoop.h"

struct screen;   // the curses library's SCREEN

namespace tui {

class Terminal final : public msgloop::FdHandler {
public:
    // The shortest time between two redraws: 20 a second.
    static constexpr std::chrono::milliseconds kRedrawInterval{50};
    static constexpr const char* kNoTerminal = "the forms need a terminal; run with --headless (see --help)";

    // Opens the session (raw keys, mouse reports, no echo); raises ComError 5 when standard input or
    // output is not a terminal the curses library knows.
    Terminal();
    // Restores the terminal as it was.
    ~Terminal();
    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;

    // Shows `form` and runs the pump until `done()` holds after an event; the form stays drawn.
    void run(forms::Form& form, const std::function<bool()>& done);
    // Asks for a redraw, which happens within kRedrawInterval and never sooner after the last one.
    void request_redraw();
    // The terminal's size changed (SIGWINCH): takes the new size and tells the form.
    void resized();
    // Hands an event to the form being shown, as if typed (SIGINT, SIGTERM and SIGHUP become Interrupt).
    void deliver(const forms::KeyEvent& event);

    void on_fd_ready(int fd, uint32_t events) override;

private:
    void deliver(const forms::MouseEvent& event);
    void after_event();
    void read_keys();
    void draw();

    ::screen* screen_ = nullptr;
    forms::Form* form_ = nullptr;
    std::function<bool()> done_;
    msgloop::TimerId redraw_timer_ = 0;
    std::chrono::steady_clock::time_point last_draw_{};
    bool watching_ = false;
};

}  // namespace tui
