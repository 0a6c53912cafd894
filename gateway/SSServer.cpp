// SSServer.cpp: listening, the gateway-wide objects, and turning connections into workers.
#include "gateway/SSServer.h"

#include "dbcomponent/DBConnect.h"
#include "gateway/SSWorker.h"
#include "platform/object/ClassRegistry.h"

namespace {

constexpr const char* kMiddleTierProgId = "Mtier.Interface";

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
        init_objects();
    } catch (const ComError& e) {
        gateway_->log.LogError("Failure starting  server!", e.number(), e.source(), e.description());
    }
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

void SSServer::Server_NewConnection(std::shared_ptr<TextSocket>& NewSocket) {
    try {
        std::make_shared<SSWorker>(gateway_)->start(NewSocket);
    } catch (const ComError& e) {
        gateway_->log.LogError("Server failure spawning new connection!", e.number(), e.source(), e.description());
    } catch (const std::exception& e) {
        gateway_->log.LogError("Server failure spawning new connection!", 0, "SSServer", e.what());
    }
}

void SSServer::Server_Error(int32_t ErrorCode, const std::string& ErrorDesc) {
    gateway_->log.LogError("Server reported asynchronous error!", ErrorCode, "", ErrorDesc);
}
