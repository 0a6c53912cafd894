// WSocketTestSupport.h: an event recorder for socket cores and the set-up steps the control's factory
// would run (create, give a Windows socket, select notifications, register).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "PumpUntil.h"
#include "socketcontrol/SocketRegistry.h"
#include "socketcontrol/WSocket.h"

// Records every event of a core as text ("DataArrived 5", "Error 10061 Socket error") and runs an
// optional hook per event.
struct CoreRecorder : WSocketEvents {
    std::vector<std::string> events;
    std::function<void(const std::string&)> hook;

    void note(const std::string& event) {
        events.push_back(event);
        if (hook) hook(event);
    }
    void Closed() override { note("Closed"); }
    void Connected() override { note("Connected"); }
    void DataArrived(int32_t count) override { note("DataArrived " + std::to_string(count)); }
    void Error(int32_t code, const std::string& desc) override { note("Error " + std::to_string(code) + " " + desc); }
    void HostNameResolved(int32_t status, const std::string& result) override {
        note("HostNameResolved " + std::to_string(status) + " " + result);
    }
    void NewConnection() override { note("NewConnection"); }
    void OOBDataArrived() override { note("OOBDataArrived"); }
    void ReadyToSend() override { note("ReadyToSend"); }
    void TimedOut() override { note("TimedOut"); }

    bool has(const std::string& event) const {
        for (const auto& e : events)
            if (e == event) return true;
        return false;
    }
    size_t count(const std::string& event) const {
        size_t n = 0;
        for (const auto& e : events) n += e == event;
        return n;
    }
};

// A registered core with a Windows socket, as the control's CreateSocket makes it.
inline std::shared_ptr<WSocket> make_core(int32_t type = QXStream, bool asynchronous = true) {
    auto core = WSocket::create();
    core->CreateHandle(type);
    if (asynchronous) core->AsyncSelect(WSFDAll);
    SocketRegistry::current().Add(core);
    return core;
}

inline uint16_t port_of(int16_t port) { return static_cast<uint16_t>(port); }

// A listening core on 127.0.0.1 with an ephemeral port.
inline std::shared_ptr<WSocket> make_listener() {
    auto core = make_core();
    core->LocalIpAddress("127.0.0.1");
    core->Listen();
    return core;
}

// A connected pair through a listener: `client` connected by address, `server` accepted in the
// listener's NewConnection handler and registered.
struct ConnectedPair {
    std::shared_ptr<WSocket> listener, client, server;
    std::shared_ptr<CoreRecorder> listener_events = std::make_shared<CoreRecorder>();
    std::shared_ptr<CoreRecorder> client_events = std::make_shared<CoreRecorder>();
    std::shared_ptr<CoreRecorder> server_events = std::make_shared<CoreRecorder>();

    bool open() {
        listener = make_listener();
        listener->bind_events(listener_events);
        listener_events->hook = [this](const std::string& e) {
            if (e != "NewConnection" || server) return;
            server = listener->Accept();
            SocketRegistry::current().Add(server);
            server->bind_events(server_events);
        };
        client = make_core();
        client->bind_events(client_events);
        client->ResolveHost(false);
        client->RemoteIPAddress("127.0.0.1");
        client->RemotePort(listener->LocalPort());
        client->Connect();
        return pump_until([this] { return server && client->State() == WSSS_Connected; });
    }
};
