// SqliteProvider.h: the "SQLite" back end. ConnectionString "Data Source=<file path>" or
// "Data Source=:memory:".
#pragma once

#include <memory>

#include "platform/ado/detail/Provider.h"

namespace ado::detail {

std::unique_ptr<Provider> make_sqlite_provider(const Settings& settings);

}  // namespace ado::detail
