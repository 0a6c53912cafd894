// LocalComponent.h: how the client library finds the database component for in-process mode without
// linking the database drivers.
#pragma once

#include <memory>

class Dispatch;

namespace tolvix {

// A new "Skelda.DBConnect" from the class registry. When neither the registry file nor the program names
// that class, the library offers libskelda.so from its own folder (where the build puts both), so
// in-process mode works with no configuration. Raises 429 with the reason when no object can be made.
std::shared_ptr<Dispatch> create_db_connect();

// A fresh channel of this thread's in-process DBConnect; 91 when LocalInit has not made one.
std::shared_ptr<Dispatch> new_local_channel();

}  // namespace tolvix
