// RunForms_test.cpp: the program with its forms, end to end, in a real terminal: vantrel runs inside a
// private tmux server; the test types into the start-up form with send-keys, presses "Run Server",
// connects a client, and reads the monitor's counters and debug lines back with capture-pane.
//
// Every wait polls the screen until what it looks for shows or a generous deadline passes, so a slow
// shared machine only makes the test slower. Without tmux the test is skipped with a message.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "common/Conversions.h"
#include "tests/gateway/GatewayTestKit.h"

namespace {

constexpr auto kDeadline = std::chrono::seconds(30);

// Runs a program with `args` and returns its exit status (127 when it cannot be started). Its standard
// output goes to `out` when given, else nowhere: a tmux server that a command starts keeps the
// descriptors it inherited, so a pipe nobody reads to the end would never see its end.
int run(const std::vector<std::string>& args, std::string* out = nullptr) {
    int fds[2];
    if (::pipe(fds) != 0) return 127;
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (out) {
            ::dup2(fds[1], 1);
        } else {
            const int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, 1);
            ::dup2(null, 2);
        }
        ::close(fds[0]);
        ::close(fds[1]);
        std::vector<char*> argv;
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(fds[1]);
    std::string text;
    char buf[4096];
    for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;) text.append(buf, static_cast<size_t>(n));
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (out) *out = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

// A tmux server of the test's own (its socket in the test's folder), with one 100 x 30 window.
class Tmux {
public:
    explicit Tmux(const std::string& folder) : socket_(folder + "/tmux.sock") {}
    ~Tmux() { tmux({"kill-server"}); }

    static bool available() { return run({"tmux", "-V"}) == 0; }

    bool start(const std::string& command) {
        return tmux({"new-session", "-d", "-s", "forms", "-x", "100", "-y", "30", command}) == 0;
    }
    void keys(const std::vector<std::string>& keys) {
        std::vector<std::string> args = {"send-keys", "-t", "forms"};
        args.insert(args.end(), keys.begin(), keys.end());
        tmux(args);
    }
    void literal(const std::string& text) { tmux({"send-keys", "-t", "forms", "-l", text}); }
    std::string screen() {
        std::string out;
        tmux({"capture-pane", "-p", "-t", "forms"}, &out);
        return out;
    }
    // Polls the screen until `done(screen)` holds; false after the deadline.
    bool wait_for(const std::function<bool(const std::string&)>& done) {
        const auto deadline = std::chrono::steady_clock::now() + kDeadline;
        for (;;) {
            last_ = screen();
            if (done(last_)) return true;
            if (std::chrono::steady_clock::now() >= deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));   // polling interval, not an assertion
        }
    }
    bool wait_for_text(const std::string& text) {
        return wait_for([&](const std::string& s) { return s.find(text) != std::string::npos; });
    }
    const std::string& last() const { return last_; }

private:
    int tmux(std::vector<std::string> args, std::string* out = nullptr) {
        args.insert(args.begin(), {"tmux", "-S", socket_, "-f", "/dev/null"});
        return run(args, out);
    }
    std::string socket_;
    std::string last_;
};

// The text of the counter box beside `label` on the monitor ("" when the box is empty or not found).
std::string box(const std::string& screen, const std::string& label) {
    std::istringstream lines(screen);
    for (std::string line; std::getline(lines, line);) {
        const size_t at = line.find(" " + label + " ");
        if (at == std::string::npos) continue;
        const size_t open = line.find('[', at);
        const size_t close = line.find(']', open);
        if (open != std::string::npos && close != std::string::npos) return vb::trim(line.substr(open + 1, close - open - 1));
    }
    return "";
}

class RunFormsTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!Tmux::available())
            GTEST_SKIP() << "tmux is not installed (apt-get install tmux): the terminal forms are not tested end to end";
        char pattern[] = "/tmp/vantrel-forms.XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        folder_ = pattern;
        settings_ = folder_ + "/settings.ini";
        std::ofstream(settings_) << "[Startup]\nProvider=SQLite\nConnect=Data Source=" << folder_
                                 << "/forms.db\nIP=127.0.0.1\nCursorlocation=0\n";
        tmux_ = std::make_unique<Tmux>(folder_);
    }
    void TearDown() override {
        tmux_.reset();
        if (!folder_.empty()) std::filesystem::remove_all(folder_);
    }
    // vantrel in the tmux window; its exit status goes to a file, since the window closes with it.
    bool start_vantrel() {
        const std::string command = "env CLASS_REGISTRY='" + folder_ + "/classes.conf' '" + VANTREL_PROGRAM +
                                    "' --settings '" + settings_ + "' 2>'" + folder_ + "/stderr'; echo $? >'" +
                                    folder_ + "/status'";
        return tmux_->start(command);
    }
    std::string exit_status() {
        const auto deadline = std::chrono::steady_clock::now() + kDeadline;
        while (std::chrono::steady_clock::now() < deadline) {
            std::ifstream in(folder_ + "/status");
            std::string status;
            if (std::getline(in, status)) return status;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return "(still running)";
    }
    std::string file(const std::string& name) {
        std::ifstream in(folder_ + "/" + name);
        std::stringstream all;
        all << in.rdbuf();
        return all.str();
    }

    std::string folder_, settings_;
    std::unique_ptr<Tmux> tmux_;
};

}  // namespace

TEST_F(RunFormsTest, TypedSettingsStartTheGatewayAndTheMonitorShowsAClient) {
    ASSERT_TRUE(start_vantrel());
    Tmux& t = *tmux_;
    ASSERT_TRUE(t.wait_for_text("Tolvix Connect to database")) << t.last();
    ASSERT_TRUE(t.wait_for_text("[SQLite")) << t.last();

    // A bad time-out is refused with the box named; the form stays open.
    t.keys({"Tab", "Tab"});
    t.literal("x");
    t.keys({"Tab", "Tab", "Tab", "Tab", "Tab", "Enter"});
    ASSERT_TRUE(t.wait_for_text("\".CommandTimeout=\" is refused")) << t.last();
    t.keys({"Enter", "BSpace", "Tab", "Tab", "Tab", "Tab"});   // to the port box
    const uint16_t port = free_port();
    t.literal(std::to_string(port));
    t.keys({"Enter"});   // Enter in a box is "Run Server"

    ASSERT_TRUE(t.wait_for_text("Tolvix Internet gateway")) << t.last();
    for (const char* caption : {"Handshakes", "Bytes negotiated", "Errors", "Active Sockets", "Debug", "Reset"})
        EXPECT_NE(t.last().find(caption), std::string::npos) << caption;
    EXPECT_NE(file("settings.ini").find("Port=" + std::to_string(port)), std::string::npos) << file("settings.ini");
    t.keys({"Space"});   // check "Debug", from the list that has the focus
    ASSERT_TRUE(t.wait_for_text("[x] Debug")) << t.last();

    {
        TestClient client(port);
        client.send_first(join({"direct", "CREATE TABLE t (a INTEGER)"}));
        EXPECT_EQ(client.reply(kDeadline), "ok");
        EXPECT_EQ(client.reply(kDeadline), "-1");
        ASSERT_TRUE(t.wait_for([](const std::string& s) {
            return box(s, "#Ind") == "1" && box(s, "#Out") == "2" && box(s, "Max") == "1" && box(s, "Alive") == "1";
        })) << t.last();
        for (const char* line : {"Accepted new socket client:  1", "Got something from:  1", "Sending data to: 1",
                                 "direct^BCREATE TABLE t (a INTEGER)"})
            EXPECT_NE(t.last().find(line), std::string::npos) << line << "\n" << t.last();
    }
    ASSERT_TRUE(t.wait_for([](const std::string& s) {
        return s.find("Closing down socket:  1") != std::string::npos && box(s, "Alive").empty();
    })) << t.last();

    t.keys({"Tab", "Tab", "Enter"});   // past "Debug" to Reset
    ASSERT_TRUE(t.wait_for([](const std::string& s) {
        return box(s, "#Ind").empty() && box(s, "Read").empty() && s.find("Closing down socket") == std::string::npos;
    })) << t.last();
    EXPECT_EQ(box(t.last(), "Max"), "1");

    t.keys({"F10"});
    EXPECT_EQ(exit_status(), "0") << file("stderr");
}

TEST_F(RunFormsTest, EscapeOnTheStartUpFormEndsWithoutSaving) {
    const std::string before = file("settings.ini");
    ASSERT_TRUE(start_vantrel());
    ASSERT_TRUE(tmux_->wait_for_text("Run Server")) << tmux_->last();
    tmux_->literal("changed");
    tmux_->keys({"Escape"});
    EXPECT_EQ(exit_status(), "0") << file("stderr");
    EXPECT_EQ(file("settings.ini"), before);
}
