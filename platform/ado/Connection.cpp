// Connection.cpp: properties, Open/Close and Execute of the Connection; the database work is the
// provider's (detail::open_provider picks it by name).
#include "platform/ado/Connection.h"

#include <algorithm>
#include <utility>

#include "platform/ado/detail/Provider.h"
#include "platform/ado/detail/RecordsetImpl.h"

namespace ado {

Connection::Connection() = default;

Connection::~Connection() {
    for (detail::RecordsetImpl* rs : std::exchange(open_sets_, {})) rs->disconnect();
}

void Connection::Provider(std::string name) { provider_name_ = std::move(name); }
void Connection::ConnectionString(std::string text) { connection_string_ = std::move(text); }

void Connection::CommandTimeout(int32_t seconds) {
    if (seconds < 0) throw ado_error(adErrInvalidArgument, kSourceConnection);
    command_timeout_ = seconds;
}

void Connection::ConnectionTimeout(int32_t seconds) {
    if (seconds < 0) throw ado_error(adErrInvalidArgument, kSourceConnection);
    connection_timeout_ = seconds;
}

void Connection::LockTimeout(int32_t milliseconds) {
    if (milliseconds < 0) throw ado_error(adErrInvalidArgument, kSourceConnection);
    lock_timeout_ms_ = milliseconds;
}

void Connection::CursorLocation(CursorLocationEnum location) {
    if (location < adUseNone || location > adUseClient) throw ado_error(adErrInvalidArgument, kSourceConnection);
    cursor_location_ = location == adUseNone ? adUseServer : location;
}

ObjectStateEnum Connection::State() const noexcept { return provider_ ? adStateOpen : adStateClosed; }

void Connection::Open(const std::string& connection_string, const std::string& user_id,
                      const std::string& password, int32_t /*options: only synchronous opening exists*/) {
    if (provider_) throw ado_error(adErrObjectOpen, kSourceConnection);
    if (!connection_string.empty()) connection_string_ = connection_string;
    detail::Settings settings;
    settings.connection_string = connection_string_;
    settings.user_id = user_id;
    settings.password = password;
    settings.command_timeout = command_timeout_;
    settings.connection_timeout = connection_timeout_;
    settings.lock_timeout_ms = lock_timeout_ms_;
    provider_ = detail::open_provider(provider_name_, settings);
}

void Connection::Close() {
    if (!provider_) throw ado_error(adErrObjectClosed, kSourceConnection);
    for (detail::RecordsetImpl* rs : std::exchange(open_sets_, {})) rs->disconnect();
    provider_.reset();
}

int32_t Connection::Execute(const std::string& command_text, int32_t options) {
    // The low bits give the command kind; the high ones (asynchronous, no records) change nothing here.
    const int32_t kind = options == adCmdUnspecified ? adCmdText : (options & 0x0F);
    if (kind != adCmdText && kind != adCmdUnknown) throw ado_error(adErrInvalidArgument, kSourceConnection);
    detail::check_command_text(command_text);
    return provider().execute(command_text);
}

detail::Provider& Connection::provider() {
    if (!provider_) throw ado_error(adErrInvalidConnection, kSourceConnection);
    return *provider_;
}

void Connection::attach(detail::RecordsetImpl* recordset) { open_sets_.push_back(recordset); }

void Connection::detach(detail::RecordsetImpl* recordset) noexcept {
    open_sets_.erase(std::remove(open_sets_.begin(), open_sets_.end(), recordset), open_sets_.end());
}

}  // namespace ado
