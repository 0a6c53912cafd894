// CommandDial.cpp: the command backend. An entry names the command that brings its link up (a pppd or
// VPN client, say) and optionally the one that takes it down; the link's address comes from an
// "IP=a.b.c.d" line on the up command's output, or from the entry's network interface.
//
// Commands run without a shell (the words of the phonebook line are the program and its arguments), in
// a process group of their own, with standard input from /dev/null and the entry's data in the
// environment: RAS_ENTRY, RAS_PHONE, RAS_USER, RAS_DOMAIN and RAS_PASSWORD. The password is never an
// argument, since any user can read other processes' arguments, while the environment is private.
//
// Every wait here is bounded and happens on the dial's worker thread: the link is polled every 50 ms
// up to ConnectTimeout; hanging up gives the down command 10 s and the up command's group 3 s after
// SIGTERM before SIGKILL.
#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/msgloop/UniqueFd.h"
#include "platform/ras/DialSession.h"

namespace ras {

namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

constexpr milliseconds kPollStep{50};
constexpr milliseconds kWatchStep{200};
constexpr milliseconds kDownCommandLimit{10000};
constexpr milliseconds kTermGrace{3000};
constexpr size_t kMaxOutputLine = 1024;   // longer lines of the up command are skipped

// A child process in a group of its own; ended (and reaped) when it goes out of scope.
class ChildGroup {
public:
    ChildGroup() = default;
    explicit ChildGroup(pid_t pid) : pid_(pid) {}
    ChildGroup(const ChildGroup&) = delete;
    ChildGroup& operator=(const ChildGroup&) = delete;
    ~ChildGroup() { end(); }

    bool running() const { return pid_ > 0 && !exited_; }
    bool started() const { return pid_ > 0; }
    int status() const { return status_; }

    // Reaps the process if it has exited; true when it has (now or before).
    bool poll() {
        if (!running()) return exited_;
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            exited_ = true;
            status_ = status;
        }
        return exited_;
    }

    // Waits up to `limit` for the process to exit by itself.
    bool wait(milliseconds limit) {
        const auto deadline = Clock::now() + limit;
        while (!poll()) {
            if (Clock::now() >= deadline) return false;
            ::usleep(20000);
        }
        return true;
    }

    // SIGTERM to the group, SIGKILL after the grace period; the leader is reaped either way. A group
    // whose leader has already been reaped is left alone: its number may belong to someone else by
    // now, and a command that returned (pon) leaves its link to the down command.
    void end() {
        if (pid_ <= 0 || exited_) return;
        ::kill(-pid_, SIGTERM);
        if (!wait(kTermGrace)) {
            ::kill(-pid_, SIGKILL);
            int status = 0;
            while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
            }
            exited_ = true;
            status_ = status;
        }
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
    bool exited_ = false;
    int status_ = 0;
};

std::vector<char*> c_strings(const std::vector<std::string>& words) {
    std::vector<char*> out;
    for (const std::string& w : words) out.push_back(const_cast<char*>(w.c_str()));
    out.push_back(nullptr);
    return out;
}

// Starts `argv` in a new process group; its output goes to `out_fd` (or /dev/null when -1). Returns the
// pid, or -1 with the reason logged.
pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::string>& environment, int out_fd,
            const std::string& entry) {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (out_fd >= 0) posix_spawn_file_actions_adddup2(&actions, out_fd, STDOUT_FILENO);
    else posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGTERM);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    std::vector<char*> args = c_strings(argv), env = c_strings(environment);
    pid_t pid = -1;
    const int rc = ::posix_spawnp(&pid, args[0], &actions, &attributes, args.data(), env.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (rc != 0) {
        log_message("dial of " + entry + ": cannot start " + argv[0] + ": " + std::strerror(rc));
        return -1;
    }
    return pid;
}

// The IPv4 address of a network interface, or empty text.
std::string interface_address(const std::string& name) {
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) return {};
    std::string address;
    for (const ifaddrs* a = list; a != nullptr && address.empty(); a = a->ifa_next) {
        if (a->ifa_addr == nullptr || a->ifa_addr->sa_family != AF_INET || name != a->ifa_name) continue;
        char text[INET_ADDRSTRLEN] = {};
        const auto* in = reinterpret_cast<const sockaddr_in*>(a->ifa_addr);
        if (::inet_ntop(AF_INET, &in->sin_addr, text, sizeof text) != nullptr) address = text;
    }
    ::freeifaddrs(list);
    return address;
}

// Reads what the up command printed so far and picks out its "IP=" line.
class OutputReader {
public:
    explicit OutputReader(int fd) : fd_(fd) {}

    // Reads without blocking; returns the address of the first valid "IP=" line seen so far.
    const std::string& read() {
        char buf[4096];
        ssize_t n;
        while ((n = ::read(fd_, buf, sizeof buf)) > 0)
            for (ssize_t i = 0; i < n; ++i) take(buf[i]);
        return address_;
    }

private:
    void take(char c) {
        if (c != '\n') {
            if (line_.size() < kMaxOutputLine) line_ += c;
            else overlong_ = true;
            return;
        }
        if (!overlong_ && address_.empty() && line_.rfind("IP=", 0) == 0) {
            std::string value = line_.substr(3);
            while (!value.empty() && (value.back() == '\r' || value.back() == ' ')) value.pop_back();
            in_addr parsed{};
            if (::inet_pton(AF_INET, value.c_str(), &parsed) == 1) address_ = value;
        }
        line_.clear();
        overlong_ = false;
    }

    int fd_;
    std::string line_;
    bool overlong_ = false;
    std::string address_;
};

uint32_t exit_error(const CommandSpec& command, int status) {
    if (WIFEXITED(status))
        for (const auto& [code, error] : command.exit_errors)
            if (code == WEXITSTATUS(status)) return error;
    return kErrorFromDevice;
}

// Waits for the link; 0 with `address` set once it is up, a RAS error when it cannot come up, or
// kHungUp when the dial was hung up meanwhile.
constexpr uint32_t kHungUp = ~uint32_t{0};
uint32_t wait_for_link(DialSession& session, ChildGroup& up, OutputReader& output, std::string& address) {
    const CommandSpec& command = session.entry().command;
    const auto deadline = Clock::now() + command.connect_timeout;
    for (;;) {
        address = command.address_from_stdout ? output.read() : interface_address(command.interface_name);
        if (!address.empty()) return 0;
        if (up.poll()) {
            if (up.status() != 0) return exit_error(command, up.status());
            // An up command that returned 0 has started the link in the background (pon does); only
            // an address on its output can no longer come.
            if (command.address_from_stdout) return output.read().empty() ? uint32_t{kErrorPppNoAddressAssigned} : uint32_t{0};
        }
        if (Clock::now() >= deadline) return kErrorRequestTimeout;
        if (session.wait_for_hang_up(kPollStep)) return kHungUp;
    }
}

// Watches a link that is up until the dial is hung up; marks it down when its up command (address
// from output) or its interface's address (address from the interface) goes away.
void watch_link(DialSession& session, ChildGroup& up, OutputReader& output) {
    const CommandSpec& command = session.entry().command;
    while (!session.wait_for_hang_up(kWatchStep)) {
        output.read();   // keep the pipe drained, so the command never blocks writing to it
        const bool down = command.address_from_stdout ? up.poll() : interface_address(command.interface_name).empty();
        if (down) {
            session.set_down();
            return;
        }
    }
}

void run_down_command(const DialSession& session) {
    const CommandSpec& command = session.entry().command;
    if (command.down.empty()) return;
    ChildGroup down(spawn(command.down, session.request().environment, -1, session.entry().name));
    if (down.started() && !down.wait(kDownCommandLimit))
        log_message("dial of " + session.entry().name + ": the down command did not finish in 10 s");
}

}  // namespace

void run_command_dial(DialSession& session) {
    const CommandSpec& command = session.entry().command;
    if (!session.notify(RASCS_OpenPort)) return;
    int pipe_fds[2];
    if (::pipe2(pipe_fds, O_CLOEXEC) != 0) {
        session.notify(RASCS_OpenPort, kErrorPortNotAvailable);
        return;
    }
    const UniqueFd out_read(pipe_fds[0]);
    UniqueFd out_write(pipe_fds[1]);
    ::fcntl(out_read.get(), F_SETFL, O_NONBLOCK);
    ChildGroup up(spawn(command.up, session.request().environment, out_write.get(), session.entry().name));
    out_write.reset();   // the child's copy is the only writer left: end of file when it exits
    if (!up.started()) {
        session.notify(RASCS_OpenPort, kErrorPortNotAvailable);
        return;
    }
    OutputReader output(out_read.get());
    std::string address;
    uint32_t result = kHungUp;
    if (session.notify(RASCS_PortOpened) && session.notify(RASCS_ConnectDevice))
        result = wait_for_link(session, up, output, address);
    if (result == 0) {
        session.set_projection(address);
        for (const uint32_t state : {RASCS_DeviceConnected, RASCS_Authenticated, RASCS_Projected}) session.notify(state);
        session.set_connected();
        if (session.notify(RASCS_Connected)) watch_link(session, up, output);
    } else if (result != kHungUp) {
        up.end();
        session.notify(RASCS_ConnectDevice, result);
    }
    while (!session.wait_for_hang_up(std::chrono::hours(1))) {
    }
    run_down_command(session);
    up.end();
}

}  // namespace ras
