// main.cpp: the client shell tolvix: options, then commands from -c, a script or standard input (with
// readline line editing and history when standard input is a terminal).
#include <readline/history.h>
#include <readline/readline.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>

#include "common/ComError.h"
#include "tolvix/frmDebug.h"
#include "tolvix/iConnection.h"
#include "tools/Shell.h"
#include "tools/ShellOptions.h"

namespace {

constexpr int kUsageStatus = 2;

void run_stream(Shell& shell, std::istream& in) {
    for (std::string line; std::getline(in, line);) shell.run_line(line);
}

std::string history_file() {
    const char* home = std::getenv("HOME");
    return home && *home ? std::string(home) + "/.tolvix_history" : std::string();
}

// Interactive: readline's editing, and a history kept between sessions.
void run_terminal(Shell& shell) {
    const std::string history = history_file();
    if (!history.empty()) read_history(history.c_str());
    while (char* raw = readline("tolvix> ")) {
        const std::string line = raw;
        std::free(raw);
        if (line.find_first_not_of(" \t") != std::string::npos) add_history(line.c_str());
        shell.run_line(line);
    }
    std::cout << '\n';
    if (!history.empty()) write_history(history.c_str());
}

// Settings from the options; in-process mode when asked. False when in-process mode could not start.
bool set_up(tolvix::iConnection& connection, const ShellOptions& o) {
    if (o.ip) connection.IP(*o.ip);
    if (o.server) connection.IPServer(*o.server);
    if (o.port) connection.Port(*o.port);
    connection.ErrorCheck(!o.no_errorcheck);
    connection.SDebug(o.debug);
    if (o.trace) tolvix::frmDebug::instance().Show();
    if (o.local) connection.Intranet(true);
    connection.Start();
    return !o.local || connection.LocalInit(o.local->first, o.local->second);
}

}  // namespace

int main(int argc, char** argv) {
    ShellOptions options;
    try {
        options = parse_shell_options(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const ComError& e) {
        std::cerr << "tolvix: " << e.description() << '\n';
        return kUsageStatus;
    }
    if (options.help) {
        std::cout << shell_usage();
        return 0;
    }
    tolvix::iConnection connection;
    if (!set_up(connection, options)) {
        std::cerr << "tolvix: in-process mode did not start (provider " << options.local->first
                  << "; is libskelda.so beside libtolvix.so, or named in the class registry?)\n";
        return kUsageStatus;
    }
    Shell shell(connection, std::cout, std::cerr);
    for (const std::string& command : options.commands) shell.run_line(command);
    if (options.script && *options.script != "-") {
        std::ifstream script(*options.script);
        if (!script) {
            std::cerr << "tolvix: cannot read " << *options.script << '\n';
            return kUsageStatus;
        }
        run_stream(shell, script);
    } else if (options.script || options.commands.empty()) {
        if (::isatty(STDIN_FILENO)) run_terminal(shell);
        else run_stream(shell, std::cin);
    }
    return shell.any_failed() ? 1 : 0;
}
