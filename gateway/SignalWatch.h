// SignalWatch.h: signals read from a signalfd that the message pump watches, so that what a signal
// asks for (stop, redraw after a resize) runs on the gateway's thread between two events, like any
// other event, and nothing is torn down under a running handler.
#pragma once

#include <functional>
#include <initializer_list>

#include "platform/msgloop/MessageLoop.h"
#include "platform/msgloop/UniqueFd.h"

class SignalWatch final : public msgloop::FdHandler {
public:
    // Blocks `signals` for the thread and hands each one that arrives to `handler` from the pump; raises
    // ComError 5 when the descriptor cannot be made or watched. The signals stay blocked afterwards.
    SignalWatch(std::initializer_list<int> signals, std::function<void(int signal)> handler);
    ~SignalWatch();
    SignalWatch(const SignalWatch&) = delete;
    SignalWatch& operator=(const SignalWatch&) = delete;

    void on_fd_ready(int fd, uint32_t events) override;

private:
    UniqueFd fd_;
    std::function<void(int)> handler_;
};
