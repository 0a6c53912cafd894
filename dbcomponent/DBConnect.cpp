// DBConnect.cpp: DBInit, Channel and the end of the shared connection.
#include "dbcomponent/DBConnect.h"

#include "common/ComError.h"
#include "dbcomponent/CallArguments.h"
#include "dbcomponent/DBChannel.h"
#include "dbcomponent/SharedState.h"
#include "platform/ado/Connection.h"

DBConnect::DBConnect() {
    reset_field_separator();
}

// Closes the shared connection so that the next user starts from a fresh, unopened one. Closing a
// connection that was never opened fails (3704); a destructor cannot pass that on to whoever released
// the object, so the failure is dropped here — the connection is gone either way.
DBConnect::~DBConnect() {
    try {
        const std::shared_ptr<ado::Connection> connection = take_shared_connection();
        try {
            connection->Close();
        } catch (...) {
        }
    } catch (...) {
    }
}

std::shared_ptr<DBChannel> DBConnect::Channel() {
    return std::make_shared<DBChannel>();
}

bool DBConnect::DBInit(const std::string& Provider, const std::string& Connect, int16_t CommandTimeO,
                       int16_t ConnectionTimeO, int32_t CursorLoc) noexcept {
    try {
        const std::shared_ptr<ado::Connection> connection = replace_shared_connection();
        connection->Provider(Provider);
        connection->ConnectionString(Connect);
        // 0 or less keeps ADO's default for the property.
        if (CommandTimeO > 0) connection->CommandTimeout(CommandTimeO);
        if (ConnectionTimeO > 0) connection->ConnectionTimeout(ConnectionTimeO);
        if (CursorLoc > 0) connection->CursorLocation(static_cast<ado::CursorLocationEnum>(CursorLoc));
        try {
            connection->Open("", "", "", ado::adCmdUnspecified);
        } catch (const ComError& e) {
            // A database that refused may come later (started after the gateway): requests try again. An
            // unknown provider or a bad setting stays wrong, and requests say the connection is closed.
            if (e.number() == ado::kDbFail) open_shared_connection_later(connection, e);
            return false;
        }
        return true;
    } catch (...) {
        return false;
    }
}

Variant DBConnect::Invoke(std::string_view name, InvokeKind kind, std::vector<Variant> args) {
    return dispatch_table().invoke(*this, name, kind, args);
}

const DispatchTable<DBConnect>& DBConnect::dispatch_table() {
    using Args = std::vector<Variant>;
    static const DispatchTable<DBConnect> table(
        "DBConnect",
        {
            {"Channel",
             [](DBConnect& c, InvokeKind kind, Args&) {
                 reject_put(kind, "DBConnect");
                 return Variant(c.Channel());
             }},
            {"DBInit",
             [](DBConnect& c, InvokeKind kind, Args& a) {
                 reject_put(kind, "DBConnect");
                 try {
                     return Variant(c.DBInit(required_text(a, 0, "DBConnect.DBInit"),
                                             required_text(a, 1, "DBConnect.DBInit"), optional_integer(a, 2),
                                             optional_integer(a, 3), optional_long(a, 4)));
                 } catch (...) {
                     return Variant(false);
                 }
             }},
        });
    return table;
}
