// ErrorLog.cpp: the housekeeping log writer. One line per failure, opened and closed each time so that
// nothing is held open between failures and a crash loses at most the line being written.
#include "socketcontrol/ErrorLog.h"

#include <cstdio>
#include <ctime>
#include <string>

// Local date and time as the control's platform printed a date-and-time value by default: short date
// M/d/yyyy, a space, long time h:mm:ss AM/PM (en-US regional settings, as everywhere in the system).
std::string error_log_line(long long t, std::string_view Text) {
    const std::time_t when = static_cast<std::time_t>(t);
    std::tm local{};
    localtime_r(&when, &local);
    const int hour12 = local.tm_hour % 12 == 0 ? 12 : local.tm_hour % 12;
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%d/%d/%d %d:%02d:%02d %s ", local.tm_mon + 1, local.tm_mday,
                  local.tm_year + 1900, hour12, local.tm_min, local.tm_sec, local.tm_hour < 12 ? "AM" : "PM");
    std::string line(stamp);
    line.append(Text);
    return line;
}

void WriteErrorLog(std::string_view Text) noexcept {
    try {
        std::FILE* file = std::fopen(kErrorLogFile, "ab");
        if (file == nullptr) return;  // the line is lost; a log writer never raises
        std::string line = error_log_line(static_cast<long long>(std::time(nullptr)), Text);
        line += "\r\n";
        std::fwrite(line.data(), 1, line.size(), file);
        std::fclose(file);
    } catch (...) {
        // out of memory while formatting: the line is lost
    }
}
