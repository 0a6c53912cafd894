// ErrorLog.h: the control's housekeeping log "TarvexErrors.log" in the current directory. Failures that
// have no caller to report to (a dispatcher run that failed, a thread start-up that failed) end up here.
#pragma once

#include <string>
#include <string_view>

// Appends one line: local date and time as "M/d/yyyy h:mm:ss AM", a space, Text, CR LF. The file is opened
// and closed for every line. Never throws: a file that cannot be opened means the line is lost.
void WriteErrorLog(std::string_view Text) noexcept;

// The log's file name, relative to the current directory.
constexpr const char* kErrorLogFile = "TarvexErrors.log";

// The line WriteErrorLog would write at local time `t` (seconds since the epoch), without the CR LF.
std::string error_log_line(long long t, std::string_view Text);
