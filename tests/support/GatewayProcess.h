// GatewayProcess.h: the real gateway program (vantrel --headless) as a child process on 127.0.0.1 over a
// fresh SQLite file in a temporary folder, for tests and benchmarks of the client library and shell. Its
// output goes to a file in that folder (a pipe nobody drains could stop it); the constructor waits until it
// says it listens. The destructor stops it with SIGTERM and removes the folder.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

class GatewayProcess {
public:
    // `program` is the path of vantrel; extra arguments follow the fixed ones.
    explicit GatewayProcess(const std::string& program, std::vector<std::string> extra = {}) {
        char pattern[] = "/tmp/tolvix-gateway.XXXXXX";
        if (!::mkdtemp(pattern)) throw std::runtime_error("mkdtemp failed");
        folder_ = pattern;
        for (int attempt = 0; attempt < 5 && pid_ <= 0; ++attempt) start(program, extra);
        if (pid_ <= 0) throw std::runtime_error("the gateway did not start: " + output());
    }
    ~GatewayProcess() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
    GatewayProcess(const GatewayProcess&) = delete;
    GatewayProcess& operator=(const GatewayProcess&) = delete;

    uint16_t port() const { return port_; }
    pid_t pid() const { return pid_; }
    // Ends the gateway at once with SIGKILL, as a crash or a power cut of the process would; returns
    // whether it was still running until then.
    bool kill_now() {
        if (pid_ <= 0) return false;
        int status = 0;
        const bool running = ::waitpid(pid_, &status, WNOHANG) == 0;
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
        return running;
    }
    // Whether the gateway is still running (not exited, not killed by a signal).
    bool running() const {
        if (pid_ <= 0) return false;
        return ::kill(pid_, 0) == 0 && ::waitpid(pid_, nullptr, WNOHANG) == 0;
    }
    const std::string& folder() const { return folder_; }
    std::string database() const { return folder_ + "/gateway.db"; }
    std::string output() const {
        std::ifstream in(folder_ + "/gateway.out");
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

private:
    // A port the system has just handed out and released; the gateway binds it at once. Another process
    // may take it in between, so start() tries again with a new one when the gateway cannot listen.
    static uint16_t free_port() {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof a;
        ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
        ::close(fd);
        return ntohs(a.sin_port);
    }

    void start(const std::string& program, const std::vector<std::string>& extra) {
        port_ = free_port();
        std::vector<std::string> args = {program, "--headless", "--settings", folder_ + "/settings.ini",
                                         "--provider", "SQLite", "--connect", "Data Source=" + database(),
                                         "--ip", "127.0.0.1", "--port", std::to_string(port_)};
        args.insert(args.end(), extra.begin(), extra.end());
        const std::string out = folder_ + "/gateway.out";
        const pid_t pid = ::fork();
        if (pid == 0) {
            if (!std::freopen(out.c_str(), "w", stdout) || !std::freopen(out.c_str(), "a", stderr)) ::_exit(126);
            std::vector<char*> argv;
            for (std::string& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            ::execv(program.c_str(), argv.data());
            ::_exit(127);
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < deadline) {
            const std::string text = output();
            if (text.find("vantrel: listening") != std::string::npos) {
                pid_ = pid;
                return;
            }
            int status = 0;
            if (::waitpid(pid, &status, WNOHANG) == pid) return;   // could not listen: try another port
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }

    std::string folder_;
    uint16_t port_ = 0;
    pid_t pid_ = -1;
};
