// SignalWatch.cpp: blocking the signals and reading them from the pump.
#include "gateway/SignalWatch.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include "common/ComError.h"

SignalWatch::SignalWatch(std::initializer_list<int> signals, std::function<void(int)> handler)
    : handler_(std::move(handler)) {
    sigset_t set;
    sigemptyset(&set);
    for (int s : signals) sigaddset(&set, s);
    ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
    fd_ = UniqueFd(::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC));
    if (fd_.get() < 0 || msgloop::MessageLoop::current().watch_fd(fd_.get(), msgloop::io::kIn, this) != 0)
        throw ComError(kErrInvalidCall, "vantrel", "cannot watch for signals");
}

SignalWatch::~SignalWatch() { msgloop::MessageLoop::current().unwatch_fd(fd_.get()); }

void SignalWatch::on_fd_ready(int, uint32_t) {
    signalfd_siginfo info{};
    while (::read(fd_.get(), &info, sizeof info) == static_cast<ssize_t>(sizeof info))
        handler_(static_cast<int>(info.ssi_signo));
}
