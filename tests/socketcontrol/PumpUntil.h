// PumpUntil.h: helpers shared by the socket control's tests: pump this thread's message loop until a
// condition holds (never a fixed sleep), and run the thread start-up the control would run.
#pragma once

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

#include "platform/msgloop/MessageLoop.h"
#include "platform/wsock/WinSock.h"
#include "socketcontrol/Helper.h"
#include "socketcontrol/SocketRegistry.h"
#include "socketcontrol/TarvexMessageForm.h"
#include "socketcontrol/VBQueueForm.h"

// Pumps until done() is true; false when `limit` passed first.
inline bool pump_until(const std::function<bool()>& done,
                       std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        msgloop::run_once(std::chrono::milliseconds(10));
    }
    return true;
}

// The thread start-up of the control's first instance (Windows Sockets, forms, sub-classing) and the
// shut-down of its last, for tests of the pieces underneath the control.
class ControlThread {
public:
    ControlThread() {
        wsock::WSAStartup(0x0101, nullptr);
        load_forms();
        subclass_message_form();
    }
    ~ControlThread() {
        empty_message_queue();
        SocketRegistry::current().Clear();
        restore_message_form();
        unload_forms();
        wsock::WSACleanup();
    }
    ControlThread(const ControlThread&) = delete;
    ControlThread& operator=(const ControlThread&) = delete;
};

// Runs a test in a fresh temporary directory (the error log is written to the current directory).
class ScopedTempDir {
public:
    ScopedTempDir() : previous_(std::filesystem::current_path()) {
        std::string pattern = (std::filesystem::temp_directory_path() / "sockcore-XXXXXX").string();
        path_ = ::mkdtemp(pattern.data());
        std::filesystem::current_path(path_);
    }
    ~ScopedTempDir() {
        std::error_code ignored;
        std::filesystem::current_path(previous_, ignored);
        std::filesystem::remove_all(path_, ignored);
    }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path previous_;
    std::filesystem::path path_;
};
