// Headless.cpp: the headless gateway's run: settings, listening, printing, and the stop on a signal.
//
// SIGINT and SIGTERM are blocked and read from a signalfd that the message pump watches, so the stop
// runs on the gateway's thread between two events, like any other event, and nothing is torn down under
// a running handler.
#include "gateway/Headless.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>

#include "common/ComError.h"
#include "gateway/MonitorModel.h"
#include "gateway/SSServer.h"
#include "platform/msgloop/MessageLoop.h"
#include "platform/msgloop/UniqueFd.h"
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

// Stops the pump when a stop signal can be read.
class SignalWatch final : public msgloop::FdHandler {
public:
    SignalWatch() {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGINT);
        sigaddset(&set, SIGTERM);
        ::sigprocmask(SIG_BLOCK, &set, nullptr);
        fd_ = UniqueFd(::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC));
        if (fd_.get() < 0 || msgloop::MessageLoop::current().watch_fd(fd_.get(), msgloop::io::kIn, this) != 0)
            throw ComError(kErrInvalidCall, "vantrel", "cannot watch for SIGINT and SIGTERM");
    }
    ~SignalWatch() { msgloop::MessageLoop::current().unwatch_fd(fd_.get()); }
    void on_fd_ready(int, uint32_t) override {
        signalfd_siginfo info{};
        if (::read(fd_.get(), &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
            signal_ = static_cast<int>(info.ssi_signo);
            msgloop::MessageLoop::current().stop();
        }
    }
    int signal() const { return signal_; }

private:
    UniqueFd fd_;
    int signal_ = 0;
};

struct Loaded {
    GatewaySettings settings;
    size_t debug_lines;
};

Loaded load(const HeadlessOptions& options) {
    const SettingsStore store(options.settings_file ? std::filesystem::path(*options.settings_file)
                                                    : SettingsStore::default_file(kSettingsApplication));
    return Loaded{resolve_settings(load_startup(store), options), debug_lines_setting(store)};
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
    const auto monitor = MonitorModel::create(gateway->log);
    monitor->chbDebug(options.debug);
    bool counters_changed = false;
    monitor->on_line(print_line);
    monitor->on_counter([&](Counter) { counters_changed = true; });
    SignalWatch signals;
    auto& loop = msgloop::MessageLoop::current();
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

    print_line(std::string("vantrel: ") + (signals.signal() == SIGTERM ? "SIGTERM" : "SIGINT") + ", stopping");
    loop.remove_timer(ticker);
    gateway->end_workers();
    server.reset();   // the listening socket closes, then the shared database connection
    loop.run_once(std::chrono::milliseconds(0));   // tasks the workers posted before they ended
    if (counters_changed) print_line(counters_line(*monitor));
    print_line("vantrel: stopped");
    return 0;
}
