// Gateway.h: what the listening server and every connection worker share: the settings, the log and
// counters, the gateway's DBConnect and middle-tier object, and the limits a connection runs under.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "gateway/GatewaySettings.h"
#include "gateway/SSCode.h"
#include "platform/object/Dispatch.h"

class SSWorker;

struct Gateway {
    explicit Gateway(GatewaySettings s, size_t debug_lines = SSCode::kDefaultDebugLines)
        : settings(std::move(s)), log(debug_lines) {}

    GatewaySettings settings;
    SSCode log;
    DispatchPtr db_connect;   // created by SSServer::OpenServer; every worker takes its channel from it
    DispatchPtr mtier;        // "Mtier.Interface", when one is registered

    // Tenths of a second without traffic after which a connection is closed (one minute).
    int32_t worker_timeout = 600;
    // The longest request a connection may send: a longer one without ETX closes the connection, so a peer
    // cannot make the gateway buffer without bound.
    int32_t max_request_length = 16 << 20;

    // Ends every worker still serving (their sockets close), for an orderly shut-down of the program.
    void end_workers();
    void add_worker(const std::shared_ptr<SSWorker>& worker);

private:
    std::vector<std::weak_ptr<SSWorker>> workers_;   // ended ones are pruned as new ones arrive
    size_t prune_at_ = 64;
};
