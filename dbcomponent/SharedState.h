// SharedState.h: the state the database component keeps once per process, shared by every DBConnect and
// every DBChannel: the one database connection and the field separator.
//
// The connection is created (empty, unopened) on first use, replaced by a new object at each DBInit, and
// closed and dropped when a DBConnect is destroyed. Channels fetch it at each operation, so a second
// DBInit takes effect for every channel's next OpenCursor or Direct. A connection that is lost once open
// is opened again by its provider (PostgreSQL) at its next statement.
#pragma once

#include <memory>
#include <string>

class ComError;
namespace ado {
class Connection;
}

// The shared connection for a request, created unopened when there is none. When DBInit could not open it (the database refused, or was not
// there yet), it is opened here with the settings DBInit gave it, and the database's error is raised if it
// still cannot be; an attempt is made at most once a second, and requests in between get the last error
// at once (an attempt may wait up to ConnectionTimeout, and every client waits with it).
std::shared_ptr<ado::Connection> shared_connection_for_request();

// DBInit's Open of `connection` failed with `failure`: requests try again (see above) while it is shared.
void open_shared_connection_later(const std::shared_ptr<ado::Connection>& connection, const ComError& failure);

// Makes a new, unopened connection the shared one and returns it. The previous one is only released:
// record sets still open on it keep it alive until they are closed.
std::shared_ptr<ado::Connection> replace_shared_connection();

// Takes the shared connection out of the process state (creating one first when there is none), so the
// next user gets a fresh one; the caller closes what it got.
std::shared_ptr<ado::Connection> take_shared_connection();

// The separator between an error number and its description, and between the values of a bulk read:
// the character with code 2. Set again whenever a DBConnect or a DBChannel is created.
const std::string& field_separator() noexcept;
void reset_field_separator();
