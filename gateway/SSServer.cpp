// SSServer.cpp: listening, the gateway-wide objects, and turning connections into workers.
#include "gateway/SSServer.h"

#include "dbcomponent/DBChannel.h"
#include "dbcomponent/DBConnect.h"
#include "gateway/SSWorker.h"
#include "platform/object/ClassRegistry.h"

namespace {

constexpr const char* kMiddleTierProgId = "Mtier.Interface";
constexpr int32_t kPermissionDenied = 70;   // the run time's "Permission denied": a peer not allowed in
constexpr int32_t kTooManyConnections = 7;  // "Out of memory": the gateway's own bound on connections

}  // namespace

SSServer::~SSServer() {
    if (Server_) {
        Server_->unbind_events();
        Server_.reset();
    }
    gateway_->db_connect.reset();
}

void SSServer::OpenServer(std::shared_ptr<TextSocket> socket) {
    Server_ = std::move(socket);
    Server_->bind_events(weak_from_this());
    try {
        Server_->LocalIpAddress(gateway_->settings.IP);
        // The socket takes the port as a 16-bit signed number; the bits are what count.
        Server_->LocalPort(static_cast<int16_t>(gateway_->settings.Port));
        Server_->Listen();
        apply_limits();
        init_objects();
    } catch (const ComError& e) {
        gateway_->log.LogError("Failure starting  server!", e.number(), e.source(), e.description());
    }
}

// Once listening, before the first connection is accepted: the open-files limit, the "all" bound, and the
// access rules in the debug list.
void SSServer::apply_limits() {
    SSCode& log = gateway_->log;
    log.AddDebugLine(0, raise_open_files_limit());
    const GatewayLimits& limits = gateway_->limits;
    DBChannel::set_all_limit(limits.max_all_text);
    const std::string& ip = gateway_->settings.IP;
    if (!limits.allow.empty())
        log.AddDebugLine(0, "Clients allowed from: " + limits.allow.text());
    else if (!is_loopback_address(ip))
        log.AddDebugLine(0, "Warning: listening on " + (ip.empty() ? std::string("every address") : ip) +
                                " with no allow-list: every client that reaches the port is served");
    if (limits.read_only) log.AddDebugLine(0, "Read-only: edits and statements other than SELECT are refused");
}

// DBInit's result is not looked at: a database that cannot be opened shows in the replies to requests.
void SSServer::init_objects() {
    const GatewaySettings& s = gateway_->settings;
    const std::vector<Variant> init = {Variant(s.Provider), Variant(s.Connect), Variant(s.CommandTimeout),
                                       Variant(s.ConnectionTimeout), Variant(s.CursorLocation)};
    gateway_->db_connect = std::make_shared<DBConnect>();
    gateway_->db_connect->call("DBInit", init);
    gateway_->mtier = ClassRegistry::instance().create(kMiddleTierProgId);
    gateway_->mtier->call("DBInit", init);
}

bool SSServer::listening() {
    try {
        return Server_ && Server_->State() == WSSS_Listening;
    } catch (const ComError&) {
        return false;
    }
}

// A connection refused here is accepted and closed at once: the handler keeps no reference to it.
void SSServer::Server_NewConnection(std::shared_ptr<TextSocket>& NewSocket) {
    try {
        if (const auto refused = refusal(*NewSocket)) {
            gateway_->log.LogError(SSCode::now_text() + " Server refused a connection!", refused->number(),
                                   refused->source(), refused->description());
            gateway_->log.change(Counter::Errors, 1);
            return;
        }
        std::make_shared<SSWorker>(gateway_)->start(NewSocket);
    } catch (const ComError& e) {
        gateway_->log.LogError("Server failure spawning new connection!", e.number(), e.source(), e.description());
    } catch (const std::exception& e) {
        gateway_->log.LogError("Server failure spawning new connection!", 0, "SSServer", e.what());
    }
}

// Why a new connection may not be served (nothing when it may): the allow-list, then the number of
// connections already served.
std::optional<ComError> SSServer::refusal(TextSocket& socket) {
    const GatewayLimits& limits = gateway_->limits;
    if (!limits.allow.empty()) {
        const std::string peer = socket.RemoteIPAddress();
        if (!limits.allow.allows(peer))
            return ComError(kPermissionDenied, "SSServer", peer + " is not in the allow-list (" + limits.allow.text() + ")");
    }
    if (gateway_->serving() >= limits.max_connections)
        return ComError(kTooManyConnections, "SSServer",
                        std::to_string(gateway_->serving()) + " connections are served, the most allowed (MaxConnections)");
    return std::nullopt;
}

void SSServer::Server_Error(int32_t ErrorCode, const std::string& ErrorDesc) {
    gateway_->log.LogError("Server reported asynchronous error!", ErrorCode, "", ErrorDesc);
}
