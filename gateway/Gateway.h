// Gateway.h: what the listening server and every connection worker share: the settings, the log and
// counters, the gateway's DBConnect and middle-tier object, and the limits a connection runs under.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "gateway/GatewayLimits.h"
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
    // The bounds and access rules; set before OpenServer (the "all" bound is applied there).
    GatewayLimits limits;

    // Ends every worker still serving (their sockets close), for an orderly shut-down of the program.
    void end_workers();
    void add_worker(const std::shared_ptr<SSWorker>& worker);
    // Workers serving now: counted here rather than read from the ActiveSockets counter, which the
    // monitor's Reset may set to 0. worker_ended is called once per worker that was added.
    size_t serving() const { return serving_; }
    void worker_ended() { --serving_; }

private:
    std::vector<std::weak_ptr<SSWorker>> workers_;   // ended ones are pruned as new ones arrive
    size_t prune_at_ = 64;
    size_t serving_ = 0;
};
