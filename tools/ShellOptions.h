// ShellOptions.h: the command line of the client shell tolvix.
#pragma once

#include <optional>
#include <string>
#include <vector>

struct ShellOptions {
    std::optional<std::string> ip, server;
    std::optional<int32_t> port;
    bool no_errorcheck = false;
    bool debug = false;
    bool trace = false;
    bool help = false;
    std::optional<std::pair<std::string, std::string>> local;   // provider, connection string
    std::vector<std::string> commands;                          // -c, in order
    std::optional<std::string> script;
};

// Parses the arguments after the program name; a bad or unknown option raises ComError 5 saying why.
ShellOptions parse_shell_options(const std::vector<std::string>& args);

// The text of --help.
std::string shell_usage();
