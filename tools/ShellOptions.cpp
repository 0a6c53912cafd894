// ShellOptions.cpp: options of tolvix and its help text.
#include "tools/ShellOptions.h"

#include <charconv>

#include "common/ComError.h"

namespace {

ComError usage_error(const std::string& why) { return ComError(kErrInvalidCall, "tolvix", why); }

int32_t port_number(const std::string& text) {
    int32_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < 1 || value > 65535)
        throw usage_error("--port needs a port number from 1 to 65535, not \"" + text + "\"");
    return value;
}

}  // namespace

ShellOptions parse_shell_options(const std::vector<std::string>& args) {
    ShellOptions o;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const auto value = [&](const char* what) -> const std::string& {
            if (i + 1 >= args.size()) throw usage_error(a + " needs " + what);
            return args[++i];
        };
        if (a == "--help" || a == "-h") o.help = true;
        else if (a == "--ip") o.ip = value("an address");
        else if (a == "--server") o.server = value("a host name");
        else if (a == "--port") o.port = port_number(value("a port number"));
        else if (a == "--no-errorcheck") o.no_errorcheck = true;
        else if (a == "--debug") o.debug = true;
        else if (a == "--trace") o.trace = true;
        else if (a == "-c") o.commands.push_back(value("a command"));
        else if (a == "--local") {
            const std::string provider = value("a provider and a connection string");
            o.local = std::make_pair(provider, value("a connection string after the provider"));
        } else if (!a.empty() && a[0] == '-' && a != "-") {
            throw usage_error("unknown option " + a + " (tolvix --help lists them)");
        } else if (o.script) {
            throw usage_error("one script at most, not also " + a);
        } else {
            o.script = a;
        }
    }
    return o;
}

std::string shell_usage() {
    return R"(Usage: tolvix [--ip ADDR] [--server HOST] [--port N] [--no-errorcheck] [--debug] [--trace]
              [--local PROVIDER CONNECTSTRING] [-c COMMAND]... [SCRIPT]

The client shell: runs commands of the client library against the gateway (default 127.0.0.1, port 1007)
or, with --local, in-process against a database. Commands come from each -c in turn, then SCRIPT ("-" for
standard input), or else from standard input: one per line, blank lines and lines starting with # ignored.
When standard input is a terminal, lines are edited with readline and kept in ~/.tolvix_history.

Options:
  --ip ADDR          gateway address (wins over --server)
  --server HOST      gateway host name, resolved when connecting
  --port N           gateway port, 1 to 65535 (default 1007)
  --no-errorcheck    no acknowledgements: database errors are not reported
  --debug            trace requests and replies ("Sendt: ", "Got: ") and show the trace
  --trace            write the trace lines on standard error as they arrive
  --local PROVIDER CONNECTSTRING
                     in-process mode, e.g. --local SQLite "Data Source=demo.db"
  -c COMMAND         run COMMAND (repeatable)
  --help             this text

Commands:
  direct SQL                    run a statement that returns no rows; prints the records affected
  mtier TEXT                    ask the middle tier; prints its reply
  open CURSORTYPE LOCKTYPE SQL  open a record set (cursor 0 forward-only, 1 keyset, 2 dynamic, 3 static;
                                lock 1 read-only, 2 pessimistic, 3 optimistic, 4 batch optimistic);
                                prints online or offline
  first | last | next | prev    move
  get NAME | get #N             print a field by name or zero-based position as a typed value
  set NAME TEXT                 assign text to a field
  setnum NAME NUMBER            assign a number to a field
  add | update | delete         add a record, write the changes, delete the current record
  eof                           print true or false
  rowcount                      print the number of records
  all NAME...                   print the fields of every record from the current one on
  buffer NAME...                fetch the whole result into the client-side buffer
  close                         close the record set

Typed values print as null, empty, text:abc, int:5, long:5, double:1.5, currency:1.5,
date:12/6/2026 3:04:05 PM or bool:True. Printed text shows control characters as \xNN (the separator
between values is \x02) and the backslash as \\; arguments may use the same escapes, so
"mtier customers_in\x02Oslo" sends two tokens. A failed command prints "error NUMBER: DESCRIPTION" on
standard error and the shell goes on; an unreachable gateway prints "event: GatewayDown".

Exit status: 0 when every command succeeded, 1 when any failed, 2 for bad options.
)";
}
