// Headless_test.cpp: the program vantrel as a service runs it: settings from a file and flags, debug lines
// on standard output, an orderly stop on SIGTERM with status 0, status 1 when it cannot listen; without
// --headless and without a terminal (output on a pipe) it says so and exits 2.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "tests/gateway/GatewayTestKit.h"
#include "tests/support/TempDir.h"

namespace {

// vantrel with its standard output (and error) on a pipe the test reads line by line.
class Vantrel {
public:
    explicit Vantrel(std::vector<std::string> args) {
        int fds[2];
        if (::pipe(fds) != 0) throw std::runtime_error("pipe");
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(fds[1], 1);
            ::dup2(fds[1], 2);
            ::close(fds[0]);
            std::vector<char*> argv{const_cast<char*>(VANTREL_PROGRAM)};
            for (std::string& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            ::execv(VANTREL_PROGRAM, argv.data());
            ::_exit(127);
        }
        ::close(fds[1]);
        out_ = UniqueFd(fds[0]);
    }
    ~Vantrel() {
        if (pid_ > 0 && status_ < 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    // Reads output until a line starting with `prefix`; false at the end of the output or after 20 s.
    bool wait_for(const std::string& prefix) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        for (;;) {
            for (size_t at; (at = pending_.find('\n')) != std::string::npos;) {
                lines_.push_back(pending_.substr(0, at));
                pending_.erase(0, at + 1);
                if (lines_.back().rfind(prefix, 0) == 0) return true;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return false;
            pollfd p{out_.get(), POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
            char buf[4096];
            const ssize_t n = ::read(out_.get(), buf, sizeof buf);
            if (n <= 0) return false;
            pending_.append(buf, static_cast<size_t>(n));
        }
    }
    int stop(int signal) {
        ::kill(pid_, signal);
        return exit_status();
    }
    int exit_status() {
        int status = 0;
        ::waitpid(pid_, &status, 0);
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return status_;
    }
    bool printed(const std::string& line) const { return std::find(lines_.begin(), lines_.end(), line) != lines_.end(); }
    std::string output() const {
        std::string all;
        for (const std::string& l : lines_) all += l + "\n";
        return all + pending_;
    }

private:
    pid_t pid_ = -1;
    int status_ = -1;
    UniqueFd out_;
    std::string pending_;
    std::vector<std::string> lines_;
};

class HeadlessTest : public ::testing::Test {
protected:
    void SetUp() override {
        settings_ = folder_ + "/settings.ini";
        std::ofstream(settings_) << "[Startup]\nProvider=SQLite\nConnect=Data Source=" << folder_
                                 << "/demo.db\nIP=127.0.0.1\nPort=1\nCursorlocation=0\n";
    }
    const test_support::TempDir temp_{"vantrel-test"};
    const std::string& folder_ = temp_.path();
    std::string settings_;
};

}  // namespace

TEST_F(HeadlessTest, ServesUntilSigtermThenStopsInOrder) {
    const uint16_t port = free_port();   // a flag overrides the saved port
    Vantrel gateway({"--headless", "--settings", settings_, "--port", std::to_string(port)});
    ASSERT_TRUE(gateway.wait_for("vantrel: listening on 127.0.0.1 port " + std::to_string(port))) << gateway.output();
    {
        TestClient client(port);
        client.send_first(join({"direct", "CREATE TABLE t (a INTEGER)"}));
        EXPECT_EQ(client.reply(), "ok");
        EXPECT_EQ(client.reply(), "-1");   // a statement that changes no records
    }
    ASSERT_TRUE(gateway.wait_for("Closing down socket:  1")) << gateway.output();
    EXPECT_TRUE(gateway.printed("Accepted new socket client:  1"));
    ASSERT_TRUE(gateway.wait_for("Counters: #Ind=1 #Out=2")) << gateway.output();
    EXPECT_EQ(gateway.stop(SIGTERM), 0);
    gateway.wait_for("vantrel: stopped");
    EXPECT_TRUE(gateway.printed("vantrel: stopped")) << gateway.output();
}

TEST_F(HeadlessTest, GatewayThatCannotListenExitsNonZero) {
    const UniqueFd taken(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ASSERT_EQ(::bind(taken.get(), reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ::listen(taken.get(), 1);
    ::getsockname(taken.get(), reinterpret_cast<sockaddr*>(&a), &len);
    Vantrel gateway({"--headless", "--settings", settings_, "--port", std::to_string(ntohs(a.sin_port))});
    EXPECT_TRUE(gateway.wait_for("Failure starting  server!Code: 10048")) << gateway.output();
    EXPECT_EQ(gateway.exit_status(), 1);
}

TEST_F(HeadlessTest, CommandLineMistakesAndAMissingTerminalAreReported) {
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string first_line;
    };
    const Case cases[] = {
        {{"--help"}, 0, "Usage: vantrel [--headless] [options]"},
        {{}, 2, "vantrel: the forms need a terminal; run with --headless (see --help)"},
        {{"--headless", "--port"}, 64, "vantrel: --port needs a value (N)"},
        {{"--headless", "--settings", "/nonexistent/x.ini", "--port", "0"}, 1,
         "vantrel: Port \"0\" is not a TCP port (a whole number 1..65535)"},
        {{"--headless", "--settings", "/nonexistent/x.ini", "--port", "70000"}, 1,
         "vantrel: Port \"70000\" is not a TCP port (a whole number 1..65535)"},
        {{"--headless", "--settings", "/nonexistent/x.ini", "--port", "1007", "--cursor-location", "1"}, 1,
         "vantrel: CursorLocation \"1\" is neither 2 (adUseServer) nor 3 (adUseClient)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.first_line);
        Vantrel program(c.args);
        EXPECT_TRUE(program.wait_for(c.first_line)) << program.output();
        EXPECT_EQ(program.exit_status(), c.status);
    }
}
