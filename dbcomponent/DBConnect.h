// DBConnect.h: opens the process's one database connection and hands out channels ("Skelda.DBConnect").
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/Variant.h"
#include "platform/object/Dispatch.h"

class DBChannel;

class DBConnect final : public Dispatch {
public:
    static constexpr const char* kProgId = "Skelda.DBConnect";

    DBConnect();     // sets the field separator
    ~DBConnect() override;   // closes and drops the shared connection, for every channel of the process

    // The system's members, in dispatch order.
    std::shared_ptr<DBChannel> Channel();   // a fresh channel; nothing is opened
    // Opens a new shared connection: Provider and ConnectionString are set, then each of the three optional
    // values only when greater than 0, then Open. True on success, false on any failure; a failed attempt
    // leaves its partly set-up connection as the shared one. When the database refused, the next requests
    // try to open it again with these settings (at most once a second) and record its error until it
    // accepts.
    bool DBInit(const std::string& Provider, const std::string& Connect, int16_t CommandTimeO = 0,
                int16_t ConnectionTimeO = 0, int32_t CursorLoc = 0) noexcept;

    // Late binding: "Channel" and "DBInit" by name; unknown names raise 438. DBInit never raises, also not
    // for arguments that cannot be converted: it returns false.
    Variant Invoke(std::string_view name, InvokeKind kind, std::vector<Variant> args) override;
    std::string type_name() const override { return "DBConnect"; }

private:
    static const DispatchTable<DBConnect>& dispatch_table();
};
