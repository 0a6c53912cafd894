// ClientTestSupport.h: a started iConnection aimed at a port on 127.0.0.1, and small text helpers.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tolvix/frmDebug.h"
#include "tolvix/iConnection.h"

inline const std::string kStx(1, '\x02');

inline std::string join(const std::vector<std::string>& tokens) {
    std::string out;
    for (size_t i = 0; i < tokens.size(); ++i) out += (i ? kStx : "") + tokens[i];
    return out;
}

// A new connection resets the thread's switches; the address and port are set here for every test, since
// they are per thread and survive it.
inline std::unique_ptr<tolvix::iConnection> started_connection(uint16_t port) {
    auto connection = std::make_unique<tolvix::iConnection>();
    connection->IP("127.0.0.1");
    connection->IPServer("");
    connection->Port(port);
    connection->Start();
    tolvix::frmDebug::instance().tbReset_Click();
    return connection;
}
