// Headless.cpp: the headless gateway's run: settings, listening, printing, and the stop on a signal.
//
// SIGINT and SIGTERM are read through a SignalWatch, so the stop runs on the gateway's thread between two
// events.
#include "gateway/Headless.h"

#include <signal.h>

#include <cstdio>
#include <memory>
#include <string>

#include "common/ComError.h"
#include "gateway/MonitorModel.h"
#include "gateway/SSServer.h"
#include "gateway/SignalWatch.h"
#include "platform/msgloop/MessageLoop.h"
#include "socketcontrol/Quellox.h"

namespace {

void print_line(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// The counter boxes in the order of the monitor's frames.
std::string counters_line(const MonitorModel& monitor) {
    std::string line = "Counters:";
    for (Counter c : {Counter::MessagesIn, Counter::MessagesOut, Counter::CharactersRead, Counter::CharactersSent,
                      Counter::Errors, Counter::Timeouts, Counter::ConnectionsAccepted, Counter::ActiveSockets})
        line += std::string(" ") + MonitorModel::label(c) + "=" + monitor.text(c);
    return line;
}

struct Loaded {
    GatewaySettings settings;
    GatewayLimits limits;
    size_t debug_lines;
};

Loaded load(const HeadlessOptions& options) {
    const SettingsStore store(options.settings_file ? std::filesystem::path(*options.settings_file)
                                                    : SettingsStore::default_file(kSettingsApplication));
    return Loaded{resolve_settings(load_startup(store), options), resolve_limits(load_limits(store), options),
                  debug_lines_setting(store)};
}

}  // namespace

int run_headless(const HeadlessOptions& options) {
    Loaded loaded;
    try {
        loaded = load(options);
    } catch (const ComError& e) {
        std::fprintf(stderr, "vantrel: %s\n", e.description().c_str());
        return 1;
    }
    ::signal(SIGPIPE, SIG_IGN);
    Quellox control;
    auto gateway = std::make_shared<Gateway>(loaded.settings, loaded.debug_lines);
    gateway->limits = loaded.limits;
    const auto monitor = MonitorModel::create(gateway->log);
    monitor->chbDebug(options.debug);
    bool counters_changed = false;
    monitor->on_line([](size_t, const std::string& line) { print_line(line); });
    monitor->on_counter([&](Counter) { counters_changed = true; });
    auto& loop = msgloop::MessageLoop::current();
    int stop_signal = 0;
    SignalWatch signals({SIGINT, SIGTERM}, [&](int signal) {
        stop_signal = signal;
        loop.stop();
    });
    const msgloop::TimerId ticker = loop.add_timer(std::chrono::seconds(1), [&] {
        if (!counters_changed) return;
        counters_changed = false;
        print_line(counters_line(*monitor));
    });

    auto server = std::make_shared<SSServer>(gateway);
    server->OpenServer(control.CreateTextSocket());
    if (!server->listening()) {
        print_line("vantrel: not listening; stopped");
        loop.remove_timer(ticker);
        return 1;
    }
    const GatewaySettings& s = gateway->settings;
    print_line("vantrel: listening on " + (s.IP.empty() ? std::string("every address") : s.IP) + " port " +
               std::to_string(s.Port) + ", provider " + s.Provider +
               (gateway->mtier ? ", middle tier ready" : ", no middle tier") + "; SIGINT or SIGTERM stops");
    loop.run();

    print_line(std::string("vantrel: ") + (stop_signal == SIGTERM ? "SIGTERM" : "SIGINT") + ", stopping");
    loop.remove_timer(ticker);
    gateway->end_workers();
    server.reset();   // the listening socket closes, then the shared database connection
    loop.run_once(std::chrono::milliseconds(0));   // tasks the workers posted before they ended
    if (counters_changed) print_line(counters_line(*monitor));
    print_line("vantrel: stopped");
    return 0;
}
