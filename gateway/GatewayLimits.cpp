// GatewayLimits.cpp: the open-files limit at start.
#include "gateway/GatewayLimits.h"

#include <sys/resource.h>

#include <cerrno>
#include <cstring>

namespace {

std::string limit_text(rlim_t value) { return value == RLIM_INFINITY ? "unlimited" : std::to_string(value); }

}  // namespace

std::string raise_open_files_limit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return std::string("Open files: the limit cannot be read: ") + std::strerror(errno);
    if (limit.rlim_cur == limit.rlim_max) return "Open files: limit " + limit_text(limit.rlim_cur) + " (the hard limit)";
    const rlim_t before = limit.rlim_cur;
    limit.rlim_cur = limit.rlim_max;
    if (::setrlimit(RLIMIT_NOFILE, &limit) != 0)
        return "Open files: limit " + limit_text(before) + ", not raised to " + limit_text(limit.rlim_max) + ": " +
               std::strerror(errno);
    return "Open files: limit raised from " + limit_text(before) + " to " + limit_text(limit.rlim_max) + " (the hard limit)";
}
