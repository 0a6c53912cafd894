// PgCluster.h: a private PostgreSQL cluster for one test, in a temporary folder, listening on a free port on
// 127.0.0.1 only, that the test may stop and start again to see how its clients live through an outage.
// initdb refuses to run as root, so there the cluster belongs to the unprivileged user `postgres` and every
// server command runs through runuser. The destructor stops the server at once and removes the folder, also
// when the test failed half-way. usable() is false, with the reason in why_not(), when this machine has no
// PostgreSQL server programs or initdb failed: the test then skips.
#pragma once

#include <fcntl.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <charconv>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/TempDir.h"

namespace test_support {

class PgCluster {
public:
    // `port`: a free TCP port on 127.0.0.1; the server keeps it across stop() and start().
    explicit PgCluster(uint16_t port) : folder_("vantrel-pg"), port_(port) {
        bindir_ = server_programs();
        if (bindir_.empty()) {
            why_not_ = "no PostgreSQL server programs under /usr/lib/postgresql/*/bin";
            return;
        }
        if (::geteuid() == 0) {
            const passwd* owner = ::getpwnam("postgres");
            if (!owner) {
                why_not_ = "running as root and there is no user `postgres` to own the cluster";
                return;
            }
            owner_ = "postgres";
            if (::chown(folder_.path().c_str(), owner->pw_uid, owner->pw_gid) != 0) {
                why_not_ = "cannot give the cluster's folder to `postgres`";
                return;
            }
        }
        // No fsync anywhere: the cluster is thrown away, and a slow disk must not slow the test.
        if (run({"initdb", "-D", data(), "-U", "tester", "--auth=trust", "-E", "UTF8", "--locale=C.UTF-8", "--no-sync"}) != 0) {
            why_not_ = "initdb failed: " + log();
            return;
        }
        usable_ = true;
    }
    ~PgCluster() {
        if (running_) run({"pg_ctl", "-D", data(), "-m", "immediate", "-w", "stop"});
    }
    PgCluster(const PgCluster&) = delete;
    PgCluster& operator=(const PgCluster&) = delete;

    bool usable() const { return usable_; }
    const std::string& why_not() const { return why_not_; }
    // A libpq connection string for the database `postgres` as the cluster's superuser.
    std::string conninfo() const {
        return "host=127.0.0.1 port=" + std::to_string(port_) + " dbname=postgres user=tester";
    }
    // Starts the server and waits until it accepts connections; false (see log()) when it did not.
    bool start() {
        const std::string options = "-c listen_addresses=127.0.0.1 -p " + std::to_string(port_) + " -k " +
                                    folder_.path() + " -c fsync=off";
        running_ = run({"pg_ctl", "-D", data(), "-l", folder_.file("server.log"), "-w", "-t", "120", "-o", options,
                        "start"}) == 0;
        return running_;
    }
    // Stops the server as an operator would for maintenance: sessions are ended, then the server exits.
    bool stop() {
        const bool stopped = run({"pg_ctl", "-D", data(), "-m", "fast", "-w", "-t", "120", "stop"}) == 0;
        if (stopped) running_ = false;
        return stopped;
    }
    // The output of the server programs run so far, and the server's own log.
    std::string log() const { return read(folder_.file("commands.log")) + read(folder_.file("server.log")); }

private:
    // The bin folder of the newest PostgreSQL installed, or "" when none has initdb.
    static std::string server_programs() {
        std::string best;
        int best_version = -1;
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator("/usr/lib/postgresql", error)) {
            const std::string name = entry.path().filename().string();
            int version = 0;
            if (std::from_chars(name.data(), name.data() + name.size(), version).ec != std::errc()) continue;
            const std::string bin = entry.path().string() + "/bin";
            if (version > best_version && ::access((bin + "/initdb").c_str(), X_OK) == 0) {
                best = bin;
                best_version = version;
            }
        }
        return best;
    }

    static std::string read(const std::string& path) {
        std::ifstream in(path);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    std::string data() const { return folder_.file("data"); }

    // Runs a server program (as `postgres` when we are root) with its output appended to commands.log;
    // returns its exit status, or -1 when it could not run.
    int run(const std::vector<std::string>& command) const {
        std::vector<std::string> args;
        if (!owner_.empty()) args = {"/usr/sbin/runuser", "-u", owner_, "--"};
        args.push_back(bindir_ + "/" + command.front());
        args.insert(args.end(), command.begin() + 1, command.end());
        const std::string out = folder_.file("commands.log");
        const pid_t pid = ::fork();
        if (pid < 0) return -1;
        if (pid == 0) {
            const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
            if (fd < 0 || ::dup2(fd, STDOUT_FILENO) < 0 || ::dup2(fd, STDERR_FILENO) < 0) ::_exit(126);
            const int null = ::open("/dev/null", O_RDONLY);
            if (null >= 0) ::dup2(null, STDIN_FILENO);
            std::vector<char*> argv;
            for (std::string& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            ::execv(argv.front(), argv.data());
            ::_exit(127);
        }
        int status = 0;
        if (::waitpid(pid, &status, 0) != pid) return -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    TempDir folder_;
    uint16_t port_;
    std::string bindir_, owner_, why_not_;
    bool usable_ = false, running_ = false;
};

}  // namespace test_support
