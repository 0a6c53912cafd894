// Values.h: conversion between raw database values and tagged values by column kind, and the ISO-8601
// text forms dates are read from and written as.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "common/Variant.h"
#include "platform/ado/detail/Provider.h"

namespace ado::detail {

// The tagged value a field shows for `raw` in a column of `kind`. A value the kind cannot read (text in a
// number column, a date text that is not ISO) is shown as it is stored; a number in a currency column outside
// the currency range raises Overflow (6), since no currency value can show it.
Variant to_variant(const RawValue& raw, ColumnKind kind);

// The raw value written for `value` into a column of `kind`; Empty and Null become NULL. A value the
// column cannot hold raises -2147217887 ("Multiple-step operation generated errors ...").
RawValue to_raw(const Variant& value, ColumnKind kind);

// ISO-8601 "YYYY-MM-DD[( |T)HH:MM[:SS[.fff]]][zone]" or "HH:MM[:SS[.fff]]" → date serial; fractions of a
// second and the zone are dropped. nullopt when the text is not of that form.
std::optional<double> parse_iso_date(std::string_view text);

// "YYYY-MM-DD HH:MM:SS", or "YYYY-MM-DD" when the serial has no time part, or "HH:MM:SS" for a time column.
std::string iso_text(double serial, ColumnKind kind);

}  // namespace ado::detail
