// FieldText.h: the text that DBChannel.All writes for one field value.
#pragma once

#include <string>

#include "common/Variant.h"

// Null, Empty and "" give ""; a date gives its default text form without surrounding blanks; text is
// passed through; every other kind (numbers, booleans, currency) gives its default text form. Raises
// ComError when the value has no text form (an object reference gives 13, Type mismatch); All records
// that through its own trap and writes "" for the value.
std::string FieldText(const Variant& value);

// The same, appending to `out` instead of returning a new string; All calls this once per cell, so the
// common kinds avoid a temporary string.
void append_field_text(std::string& out, const Variant& value);
