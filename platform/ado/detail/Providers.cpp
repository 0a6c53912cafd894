// Providers.cpp: the table of back ends, chosen by the Connection's Provider text (case-insensitive).
#include "common/AsciiCase.h"
#include "platform/ado/AdoTypes.h"
#include "platform/ado/detail/ConnectionString.h"
#include "platform/ado/detail/Provider.h"
#include "platform/ado/postgresql/PgProvider.h"
#include "platform/ado/sqlite/SqliteProvider.h"

namespace ado::detail {
namespace {

using Factory = std::unique_ptr<Provider> (*)(const Settings&);

struct ProviderEntry {
    const char* name;  // lower case
    Factory make;
};

constexpr ProviderEntry kProviders[] = {
    {"sqlite", &make_sqlite_provider},
    {"postgresql", &make_pg_provider},
};

}  // namespace

std::unique_ptr<Provider> open_provider(const std::string& provider_name, const Settings& settings) {
    const std::string name = ascii_lowered(provider_name);
    for (const ProviderEntry& p : kProviders)
        if (name == p.name) return p.make(settings);
    throw ado_error(adErrProviderNotFound, kSourceConnection);
}

void check_command_text(const std::string& sql) {
    // An empty statement would run as nothing at all (Execute's count -1, no rows), which tells a caller
    // who lost the text on the way nothing.
    if (sql.find_first_not_of(" \t\r\n\f\v") == std::string::npos) throw ado_error(kDbNoCommand, "Provider");
    if (sql.find('\0') != std::string::npos)
        throw ComError(kDbErrorsInCommand, "Provider", "The command text contains a NUL character.");
}

}  // namespace ado::detail
