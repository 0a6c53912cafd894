// ColumnLimits.h: whether a converted value fits the column it is assigned to, beyond its kind: the length
// of a varchar(n)/char(n), the range of a narrower whole-number type, text with a NUL where the database
// would end it there. Checked at assignment, so such a value is refused before anything is pending instead
// of failing at Update or being cut short silently.
#pragma once

#include "platform/ado/detail/Provider.h"

namespace ado::detail {

// Raises -2147217887 (ADO's text, then the reason) when `raw` does not fit `column`.
void check_column_limits(const RawValue& raw, const ColumnInfo& column);

}  // namespace ado::detail
