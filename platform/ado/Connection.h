// Connection.h: an ADO-like database connection. The Provider text picks the database ("SQLite" or
// "PostgreSQL", case-insensitive); ConnectionString and the time-outs are kept until Open uses them.
// Recordsets open on a Connection share it (they hold it through a shared_ptr); closing it closes them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/ado/AdoTypes.h"

namespace ado {

class Recordset;
namespace detail {
class Provider;  // one database back end; see platform/ado/detail/Provider.h
class RecordsetImpl;
}  // namespace detail

class Connection final : public std::enable_shared_from_this<Connection> {
public:
    Connection();
    ~Connection();  // closes quietly; use Close to hear about failures
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Properties. Provider, ConnectionString and the time-outs may be set at any time and take effect at the
    // next Open; CursorLocation is inherited by Recordsets opened afterwards.
    const std::string& Provider() const noexcept { return provider_name_; }
    void Provider(std::string name);
    const std::string& ConnectionString() const noexcept { return connection_string_; }
    void ConnectionString(std::string text);
    int32_t CommandTimeout() const noexcept { return command_timeout_; }
    void CommandTimeout(int32_t seconds);     // 0: no limit; negative raises 3001
    int32_t ConnectionTimeout() const noexcept { return connection_timeout_; }
    void ConnectionTimeout(int32_t seconds);  // 0: no limit; negative raises 3001
    // How long a statement may wait for a lock that another process holds, in milliseconds (0: fail at
    // once). A lock held by another connection of this process is never waited for: the gateway serves
    // every client on one thread, so such a wait could only end in a time-out.
    int32_t LockTimeout() const noexcept { return lock_timeout_ms_; }
    void LockTimeout(int32_t milliseconds);   // negative raises 3001
    CursorLocationEnum CursorLocation() const noexcept { return cursor_location_; }
    void CursorLocation(CursorLocationEnum location);  // adUseServer or adUseClient (adUseNone → server)
    ObjectStateEnum State() const noexcept;

    // Opens with the values set before; a non-empty `connection_string` replaces ConnectionString first,
    // and a non-empty user id or password overrides the one in it (PostgreSQL; SQLite has no log-in).
    // Raises 3705 when open, 3706 for an unknown provider, and the provider's error (E_FAIL with the
    // database's text) when the database refuses.
    void Open(const std::string& connection_string = "", const std::string& user_id = "",
              const std::string& password = "", int32_t options = adCmdUnspecified);

    // Closes the connection and every Recordset open on it (their pending changes are dropped). Raises 3704
    // when not open.
    void Close();

    // Runs `command_text` (several statements separated by ";" are allowed). Returns RecordsAffected: the
    // number of rows the last INSERT/UPDATE/DELETE changed, -1 for statements that return rows or are not
    // data changes. ADO also returns a Recordset here; every caller of this layer releases it at once, so
    // no Recordset is built (open a Recordset to read rows). Raises 3709 when the connection is not open.
    int32_t Execute(const std::string& command_text, int32_t options = adCmdUnspecified);

private:
    friend class detail::RecordsetImpl;
    detail::Provider& provider();  // the open back end; raises 3709 when not open
    void attach(detail::RecordsetImpl* recordset);  // an open Recordset, closed by Close
    void detach(detail::RecordsetImpl* recordset) noexcept;

    std::string provider_name_;
    std::string connection_string_;
    int32_t command_timeout_ = 30;    // ADO's defaults
    int32_t connection_timeout_ = 15;
    int32_t lock_timeout_ms_ = 2000;
    CursorLocationEnum cursor_location_ = adUseServer;
    std::unique_ptr<detail::Provider> provider_;    // set while open
    std::vector<detail::RecordsetImpl*> open_sets_;  // Recordsets open on this connection, not owned
};

}  // namespace ado
