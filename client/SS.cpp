// SS.cpp: the per-thread socket control.
#include "client/SS.h"

#include "socketcontrol/Quellox.h"
#include "socketcontrol/Socket.h"
#include "socketcontrol/TextSocket.h"

namespace tolvix::SS {

namespace {

// Created on the thread's first use. The holder comes to life before the socket library's thread state
// (which the control's construction starts), so at thread exit it is released after that state has ended:
// a no-op the library allows, the thread's sockets being closed with its state.
Quellox& SSet() {
    thread_local std::unique_ptr<Quellox> control;
    if (!control) control = std::make_unique<Quellox>();
    return *control;
}

}  // namespace

std::shared_ptr<Socket> CreateSocket() { return SSet().CreateSocket(QXStream, false); }

std::shared_ptr<TextSocket> CreateTextSocket() { return SSet().CreateTextSocket(); }

}  // namespace tolvix::SS
