// RunForms.cpp: the program's start-up sequence with forms: settings, the start-up form, the listening
// server, the monitor window, and the orderly stop.
#include "gateway/tui/RunForms.h"

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <memory>

#include "common/ComError.h"
#include "gateway/SSServer.h"
#include "gateway/SignalWatch.h"
#include "gateway/forms/FrmStartup.h"
#include "gateway/forms/FrmTCPServer.h"
#include "gateway/tui/Terminal.h"
#include "platform/msgloop/MessageLoop.h"
#include "socketcontrol/Quellox.h"

namespace {

// Serves with the monitor window until it unloads; then ends the workers and closes the server.
void serve(tui::Terminal& terminal, Quellox& control, const GatewaySettings& settings, const GatewayLimits& limits,
           size_t debug_lines, bool debug) {
    auto gateway = std::make_shared<Gateway>(settings, debug_lines);
    gateway->limits = limits;
    forms::FrmTCPServer window(*gateway);
    window.model().chbDebug(debug);
    window.on_change([&terminal] { terminal.request_redraw(); });
    auto server = std::make_shared<SSServer>(gateway);
    server->OpenServer(control.CreateTextSocket());   // a failure shows in the debug list; the window stays
    terminal.run(window, [&window] { return window.unloading(); });
    gateway->end_workers();
    server.reset();   // the listening socket closes, then the shared database connection
    msgloop::MessageLoop::current().run_once(std::chrono::milliseconds(0));   // tasks the workers posted
}

}  // namespace

int run_forms(const HeadlessOptions& options) {
    if (!::isatty(STDIN_FILENO) || !::isatty(STDOUT_FILENO)) {
        std::fprintf(stderr, "vantrel: %s\n", tui::Terminal::kNoTerminal);
        return 2;
    }
    std::unique_ptr<SettingsStore> store;
    StartupTexts saved;
    GatewayLimits limits;
    size_t debug_lines = 0;
    try {
        store = std::make_unique<SettingsStore>(options.settings_file
                                                    ? std::filesystem::path(*options.settings_file)
                                                    : SettingsStore::default_file(kSettingsApplication));
        saved = override_texts(load_startup(*store), options);
        debug_lines = debug_lines_setting(*store);
        limits = resolve_limits(load_limits(*store), options);
    } catch (const ComError& e) {
        std::fprintf(stderr, "vantrel: %s\n", e.description().c_str());
        return 1;
    }
    ::signal(SIGPIPE, SIG_IGN);
    Quellox control;
    std::unique_ptr<tui::Terminal> terminal;
    try {
        // The signals are watched before the terminal opens: a failure then leaves the terminal as it was.
        SignalWatch signals({SIGINT, SIGTERM, SIGHUP, SIGWINCH}, [&terminal](int signal) {
            if (!terminal) return;
            if (signal == SIGWINCH) terminal->resized();
            else terminal->deliver(forms::KeyEvent{forms::Key::Interrupt});
        });
        terminal = std::make_unique<tui::Terminal>();
        forms::FrmStartup startup(*store, saved);
        terminal->run(startup, [&startup] { return startup.state() != forms::FrmStartup::State::Open; });
        if (startup.started()) serve(*terminal, control, startup.settings(), limits, debug_lines, options.debug);
    } catch (const ComError& e) {
        terminal.reset();   // the message goes to the restored terminal
        std::fprintf(stderr, "vantrel: %s\n", e.description().c_str());
        return 2;
    }
    return 0;
}
