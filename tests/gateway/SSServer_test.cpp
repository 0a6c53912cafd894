// SSServer_test.cpp: a server that cannot listen says so in one debug-list entry and creates nothing.
#include "tests/gateway/GatewayTestKit.h"

TEST_F(GatewayTest, PortInUseIsOneFailureEntry) {
    GatewaySettings settings = gateway_->settings;
    settings.Port = port();
    const auto second = std::make_shared<Gateway>(settings);
    const auto server = std::make_shared<SSServer>(second);
    server->OpenServer(control_->CreateTextSocket());
    EXPECT_FALSE(server->listening());
    ASSERT_EQ(second->log.debug_list().size(), 1u);
    EXPECT_EQ(second->log.debug_list().front().rfind("Failure starting  server!Code: 10048\r\n", 0), 0u)
        << second->log.debug_list().front();
    EXPECT_EQ(second->db_connect, nullptr);
}
