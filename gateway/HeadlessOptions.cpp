// HeadlessOptions.cpp: flags of vantrel, their help text, and how they combine with the saved settings.
#include "gateway/HeadlessOptions.h"

#include <algorithm>

#include "common/ComError.h"

namespace {

struct Flag {
    const char* name;
    std::optional<std::string> HeadlessOptions::*field;
    const char* value;
    const char* help;
};

// One table for parsing and for --help, so the two cannot disagree.
const Flag kValueFlags[] = {
    {"--provider", &HeadlessOptions::provider, "TEXT", "database provider: SQLite or PostgreSQL"},
    {"--connect", &HeadlessOptions::connect, "TEXT", "connection string, e.g. \"Data Source=/srv/demo.db\""},
    {"--ip", &HeadlessOptions::ip, "TEXT", "local address to listen on (empty: every address)"},
    {"--port", &HeadlessOptions::port, "N", "TCP port to listen on, 1..65535"},
    {"--command-timeout", &HeadlessOptions::command_timeout, "N", "seconds a statement may run (0: provider default)"},
    {"--connection-timeout", &HeadlessOptions::connection_timeout, "N",
     "seconds to wait for a connection or a lock (0: provider default)"},
    {"--cursor-location", &HeadlessOptions::cursor_location, "2|3", "2 server-side cursors, 3 client-side"},
    {"--max-connections", &HeadlessOptions::max_connections, "N",
     "connections served at once; more are closed at once (default 10000)"},
    {"--max-queued-reply", &HeadlessOptions::max_queued_reply, "BYTES",
     "replies a client may leave unread before it is closed (default 67108864)"},
    {"--max-request-line", &HeadlessOptions::max_request_line, "BYTES",
     "longest request; a longer one closes its connection (default 16777216)"},
    {"--max-all-text", &HeadlessOptions::max_all_text, "BYTES",
     "longest \"all\" reply; beyond it error 7 (default 67108864)"},
    {"--settings", &HeadlessOptions::settings_file, "FILE",
     "settings file (default $XDG_CONFIG_HOME/TCPServer/settings.ini)"},
};

[[noreturn]] void usage_error(const std::string& what) { throw ComError(kErrInvalidCall, "vantrel", what); }

}  // namespace

HeadlessOptions parse_options(const std::vector<std::string>& args) {
    HeadlessOptions o;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--headless") { o.headless = true; continue; }
        if (arg == "--help" || arg == "-h") { o.help = true; continue; }
        if (arg == "--debug") { o.debug = true; continue; }
        if (arg == "--read-only") { o.read_only = true; continue; }
        const size_t eq = arg.find('=');
        const std::string name = arg.substr(0, eq);
        if (name == "--allow") {   // repeatable, so not in the table of single values
            if (eq != std::string::npos) o.allow.push_back(arg.substr(eq + 1));
            else if (i + 1 < args.size()) o.allow.push_back(args[++i]);
            else usage_error("--allow needs a value (ADDRESS or NETWORK/BITS)");
            continue;
        }
        const Flag* flag = nullptr;
        for (const Flag& f : kValueFlags)
            if (name == f.name) flag = &f;
        if (!flag) usage_error("unknown option \"" + arg + "\" (see --help)");
        if (eq != std::string::npos)
            o.*(flag->field) = arg.substr(eq + 1);
        else if (i + 1 < args.size())
            o.*(flag->field) = args[++i];
        else
            usage_error(name + " needs a value (" + flag->value + ")");
    }
    return o;
}

std::string usage_text() {
    std::string text =
        "Usage: vantrel [--headless] [options]\n"
        "The gateway: listens on TCP and serves every client's requests against the database.\n"
        "Without --headless it shows its terminal forms: the start-up form with the saved settings (the\n"
        "options below fill its boxes), then the monitor window while it serves; F10 or Ctrl-Q quits.\n\n"
        "  --headless              run without forms: debug lines and counters go to standard output\n";
    for (const Flag& f : kValueFlags) {
        std::string left = std::string(f.name) + " " + f.value;
        left.resize(std::max<size_t>(left.size() + 1, 24), ' ');
        text += "  " + left + f.help + "\n";
    }
    text +=
        "  --allow NET             serve only clients from this IPv4 address or network (127.0.0.0/8);\n"
        "                          repeatable. Without a list every client is served\n"
        "  --read-only             refuse edits and every statement but a single SELECT\n"
        "  --debug                 log every message in and out (the monitor's Debug box)\n"
        "  --help                  this text\n\n"
        "Each setting not given by its flag comes from the settings file, section [Startup]: Provider,\n"
        "Connect, IP, Port, CommandTimeout, ConnectionTimeout, Cursorlocation (0 adUseClient, 1 adUseServer);\n"
        "[Monitor] DebugLines bounds the debug list (default 10000). [Limits] MaxConnections, MaxQueuedReply,\n"
        "MaxRequestLine, MaxAllText and [Access] Allow (a list separated by commas), ReadOnly (0 or 1) hold the\n"
        "limits and access rules above.\n"
        "SIGINT or SIGTERM stops the gateway in order (exit status 0). A gateway that cannot listen exits 1.\n";
    return text;
}

GatewaySettings resolve_settings(const StartupTexts& saved, const HeadlessOptions& o) {
    GatewaySettings s;
    s.Provider = o.provider.value_or(saved.Provider);
    s.Connect = o.connect.value_or(saved.Connect);
    s.IP = o.ip.value_or(saved.IP);
    s.Port = port_from_text(o.port.value_or(saved.Port));
    s.CommandTimeout = timeout_from_text(o.command_timeout.value_or(saved.CommandTimeout), "CommandTimeout");
    s.ConnectionTimeout = timeout_from_text(o.connection_timeout.value_or(saved.ConnectionTimeout), "ConnectionTimeout");
    s.CursorLocation = o.cursor_location ? cursor_location_from_text(*o.cursor_location)
                                         : cursor_location_from_position(saved.Cursorlocation);
    return s;
}

GatewayLimits resolve_limits(const LimitTexts& saved, const HeadlessOptions& o) {
    GatewayLimits l;
    l.max_connections = bounded_from_text(o.max_connections.value_or(saved.MaxConnections), "MaxConnections",
                                          l.max_connections, 1, 1000000);
    // Sizes start at 1 KB, so that no setting can make every request or reply too long.
    l.max_queued_reply = bounded_from_text(o.max_queued_reply.value_or(saved.MaxQueuedReply), "MaxQueuedReply",
                                           l.max_queued_reply, 1024, uint64_t{1} << 40);
    l.max_request_line = static_cast<int32_t>(bounded_from_text(o.max_request_line.value_or(saved.MaxRequestLine),
                                                                "MaxRequestLine", l.max_request_line, 1024, INT32_MAX));
    l.max_all_text = bounded_from_text(o.max_all_text.value_or(saved.MaxAllText), "MaxAllText", l.max_all_text, 1024,
                                       uint64_t{1} << 40);
    if (o.allow.empty())
        l.allow.allow_list(saved.Allow);
    else
        for (const std::string& entry : o.allow) l.allow.allow(entry);
    l.read_only = o.read_only || switch_from_text(saved.ReadOnly, "ReadOnly", false);
    return l;
}

StartupTexts override_texts(StartupTexts t, const HeadlessOptions& o) {
    t.Provider = o.provider.value_or(t.Provider);
    t.Connect = o.connect.value_or(t.Connect);
    t.IP = o.ip.value_or(t.IP);
    t.Port = o.port.value_or(t.Port);
    t.CommandTimeout = o.command_timeout.value_or(t.CommandTimeout);
    t.ConnectionTimeout = o.connection_timeout.value_or(t.ConnectionTimeout);
    if (o.cursor_location)
        t.Cursorlocation = cursor_location_from_text(*o.cursor_location) == GatewaySettings::adUseClient ? "0" : "1";
    return t;
}
