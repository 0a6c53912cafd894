// Shell_test.cpp: the client shell as users run it: commands from -c and from a script against the
// gateway program, typed values in-process, errors that do not stop it, GatewayDown, and its exit status.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include "tests/support/GatewayProcess.h"

namespace {

struct ShellRun {   // what one run of the shell printed and returned
    int status = -1;
    std::string out, err;
};

std::string read_file(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs tolvix with `args`, standard input from /dev/null; gives up after 60 s.
ShellRun run_shell(const std::vector<std::string>& args, const std::string& folder) {
    const std::string out = folder + "/shell.out", err = folder + "/shell.err";
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (!std::freopen("/dev/null", "r", stdin) || !std::freopen(out.c_str(), "w", stdout) ||
            !std::freopen(err.c_str(), "w", stderr))
            ::_exit(126);
        std::vector<std::string> all = {TOLVIX_PROGRAM};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& a : all) argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(TOLVIX_PROGRAM, argv.data());
        ::_exit(127);
    }
    ShellRun run;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            ADD_FAILURE() << "tolvix did not end";
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = read_file(out);
    run.err = read_file(err);
    return run;
}

class ShellTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { gateway_ = new GatewayProcess(VANTREL_PROGRAM); }
    static void TearDownTestSuite() {
        delete gateway_;
        gateway_ = nullptr;
    }
    ShellRun shell(std::vector<std::string> args) {
        args.insert(args.begin(), {"--ip", "127.0.0.1", "--port", std::to_string(gateway_->port())});
        return run_shell(args, gateway_->folder());
    }
    static GatewayProcess* gateway_;
};
GatewayProcess* ShellTest::gateway_ = nullptr;

}  // namespace

TEST_F(ShellTest, ScriptAndCommandsRunAgainstTheGateway) {
    const std::string script = gateway_->folder() + "/walk.tolvix";
    std::ofstream(script) << "# a walk through a table\n"
                             "open 1 3 SELECT id, name FROM pets ORDER BY id\n"
                             "\n"
                             "get name\n"
                             "get #0\n"
                             "set name Rex\\x09the \\\\second\\x1F\n"
                             "update\n"
                             "get name\n"
                             "next\n"
                             "eof\n"
                             "rowcount\n"
                             "all id name\n"
                             "buffer id name\n"
                             "get id\n"
                             "close\n";
    const ShellRun run = shell({"-c", "direct CREATE TABLE pets (id INTEGER PRIMARY KEY, name TEXT)", "-c",
                           "direct INSERT INTO pets VALUES (1, 'Fido'), (2, 'Rex')", script});
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "-1\n"
                       "2\n"
                       "online\n"
                       "text:Fido\n"
                       "text:1\n"
                       "text:Rex\\x09the \\\\second\\x1F\n"
                       "false\n"
                       "2\n"
                       "2\\x02Rex\n"
                       "int:1\n");
}

TEST_F(ShellTest, ErrorsArePrintedAndTheShellGoesOn) {
    const ShellRun run = shell({"-c", "direct DELETE FROM nowhere", "-c", "get name", "-c", "frobnicate", "-c",
                           "open 1 3 SELECT 1 AS one", "-c", "get one", "-c", "setnum one x1"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "online\ntext:1\n");
    EXPECT_EQ(run.err, "error -2147217900: no such table: nowhere\n"
                       "error 5: no record set is open (use open)\n"
                       "error 5: unknown command \"frobnicate\" (tolvix --help lists them)\n"
                       "error 5: \"x1\" is not a number\n");
}

TEST_F(ShellTest, UnreachableGatewayPrintsTheEvent) {
    const ShellRun run = run_shell({"--ip", "127.0.0.1", "--port", "1", "-c", "direct DELETE FROM t", "-c",
                               "open 3 1 SELECT 1"},
                              gateway_->folder());
    EXPECT_EQ(run.out, "event: GatewayDown\n0\nevent: GatewayDown\noffline\n");
    EXPECT_EQ(run.status, 0);
}

TEST_F(ShellTest, TraceShowsTheLinesOnStandardError) {
    const ShellRun run = shell({"--debug", "-c", "direct CREATE TABLE IF NOT EXISTS traced (a)"});
    EXPECT_EQ(run.out, "-1\n");
    EXPECT_NE(run.err.find("Sendt: 1\\x02 10\\x02"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("Recieved: "), std::string::npos);
    EXPECT_NE(run.err.find("Got: -1"), std::string::npos);
}

TEST_F(ShellTest, InProcessValuesPrintWithTheirTypes) {
    const std::string db = "Data Source=" + gateway_->folder() + "/local.db";
    const ShellRun run = run_shell(
        {"--local", "SQLite", db, "-c",
         "direct CREATE TABLE v (id INTEGER PRIMARY KEY, t TEXT, r REAL, big INTEGER, m MONEY, d DATETIME, b BOOLEAN, "
         "n TEXT)",
         "-c", "direct INSERT INTO v VALUES (5, 'a\\x09b\\\\c', 1.5, 5000000000, 1.25, '2026-12-06 15:04:05', 1, NULL)",
         "-c", "open 3 1 SELECT * FROM v", "-c", "get id", "-c", "get t", "-c", "get r", "-c", "get big", "-c",
         "get m", "-c", "get d", "-c", "get b", "-c", "get n", "-c", "get nosuch"},
        gateway_->folder());
    EXPECT_EQ(run.out, "-1\n1\nonline\nint:5\ntext:a\\x09b\\\\c\ndouble:1.5\nlong:5000000000\ncurrency:1.25\n"
                       "date:12/6/2026 3:04:05 PM\nbool:True\nnull\n");
    EXPECT_NE(run.err.find("error 3265: "), std::string::npos) << run.err;
    EXPECT_EQ(run.status, 1);
}

TEST(Shell, HelpAndBadOptions) {
    const ShellRun help = run_shell({"--help"}, "/tmp");
    EXPECT_EQ(help.status, 0);
    for (const char* word : {"direct SQL", "setnum NAME NUMBER", "--local PROVIDER CONNECTSTRING", "event: GatewayDown"})
        EXPECT_NE(help.out.find(word), std::string::npos) << word;
    EXPECT_EQ(run_shell({"--port", "70000"}, "/tmp").status, 2);
    EXPECT_EQ(run_shell({"--frobnicate"}, "/tmp").status, 2);
}
