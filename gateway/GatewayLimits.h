// GatewayLimits.h: the bounds and the access rules the gateway serves under, each a setting of the
// settings store's sections "Limits" and "Access" (and a flag of the headless program), and the raise of
// the process's open-files limit at start.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "gateway/AddressFilter.h"

struct GatewayLimits {
    // Connections served at once; a further one is accepted and closed at once. Each takes a descriptor
    // and, with an open cursor, more: the open-files limit is the real ceiling.
    size_t max_connections = 10000;
    // Bytes of replies a connection may have waiting (its queue and its socket's send buffer) when its
    // next request arrives: beyond it the client is not reading, and it is closed instead of served. Looked
    // at before a request rather than after, so one large reply to a client that reads never trips it;
    // what waits is bounded by this plus one request's replies.
    size_t max_queued_reply = size_t{64} << 20;
    // The longest request line: a longer one without its terminator closes the connection.
    int32_t max_request_line = 16 << 20;
    // Bytes of an "all" text; beyond it "all" stops with error 7 (see DBChannel::set_all_limit).
    size_t max_all_text = size_t{64} << 20;
    // Client addresses allowed to connect; empty allows everyone.
    AddressFilter allow;
    // Refuses every edit and every statement that is not a single SELECT.
    bool read_only = false;
};

// Raises the soft limit of open files to the hard limit, as servers do: every connection costs at least
// one descriptor. Returns the debug line that says what happened.
std::string raise_open_files_limit();
