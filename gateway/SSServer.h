// SSServer.h: opens the gateway for business: a listening text socket on the configured address and port,
// the gateway's DBConnect and middle-tier object, and one SSWorker per accepted connection.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "common/ComError.h"

#include "gateway/Gateway.h"
#include "socketcontrol/TextSocket.h"

class SSServer final : public TextSocketEvents, public std::enable_shared_from_this<SSServer> {
public:
    explicit SSServer(std::shared_ptr<Gateway> gateway) : gateway_(std::move(gateway)) {}
    // Closes the listening socket, then releases the gateway's DBConnect (which closes the shared
    // database connection). The middle-tier object lives on with the gateway.
    ~SSServer() override;
    SSServer(const SSServer&) = delete;
    SSServer& operator=(const SSServer&) = delete;

    // Listens on the settings' address and port, creates the DBConnect and the middle tier and calls DBInit
    // on both. A failure is written to the debug list ("Failure starting  server!") and skips the steps
    // after it; what was done before stays.
    void OpenServer(std::shared_ptr<TextSocket> socket);
    // Whether OpenServer got as far as listening.
    bool listening();

    // The listening socket's events.
    void Error(int32_t ErrorCode, const std::string& ErrorDesc) override { Server_Error(ErrorCode, ErrorDesc); }
    void NewConnection(std::shared_ptr<TextSocket>& NewSocket) override { Server_NewConnection(NewSocket); }

    const std::shared_ptr<TextSocket>& Server() const { return Server_; }

private:
    void Server_Error(int32_t ErrorCode, const std::string& ErrorDesc);
    void Server_NewConnection(std::shared_ptr<TextSocket>& NewSocket);
    void init_objects();
    void apply_limits();
    std::optional<ComError> refusal(TextSocket& socket);

    std::shared_ptr<Gateway> gateway_;
    std::shared_ptr<TextSocket> Server_;
};
