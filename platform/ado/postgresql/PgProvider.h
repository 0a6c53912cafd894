// PgProvider.h: the "PostgreSQL" back end. ConnectionString in ADO style, libpq conninfo or URI (see
// PgConnInfo.h).
#pragma once

#include <memory>

#include "platform/ado/detail/Provider.h"

namespace ado::detail {

std::unique_ptr<Provider> make_pg_provider(const Settings& settings);

}  // namespace ado::detail
