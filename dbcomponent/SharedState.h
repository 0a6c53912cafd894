// SharedState.h: the state the database component keeps once per process, shared by every DBConnect and
// every DBChannel: the one database connection and the field separator.
//
// The connection is created (empty, unopened) on first use, replaced by a new object at each DBInit, and
// closed and dropped when a DBConnect is destroyed. Channels fetch it at each operation, so a second
// DBInit takes effect for every channel's next OpenCursor or Direct.
#pragma once

#include <memory>
#include <string>

namespace ado {
class Connection;
}

// The shared connection, created unopened when there is none.
std::shared_ptr<ado::Connection> shared_connection();

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
