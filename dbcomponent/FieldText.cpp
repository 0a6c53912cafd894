// FieldText.cpp: value to text for the bulk read.
#include "dbcomponent/FieldText.h"

#include <charconv>
#include <cstdint>

#include "common/Conversions.h"

namespace {

void append_whole(std::string& out, int64_t value) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    out.append(digits, end);
}

}  // namespace

void append_field_text(std::string& out, const Variant& value) {
    switch (value.type()) {
        case VarType::Empty:
        case VarType::Null:
            return;
        case VarType::String:
            out += value.as_text();
            return;
        // Whole numbers are written as CStr writes them, plain digits with a leading "-" when negative;
        // to_chars does that without the temporary string of the general conversion.
        case VarType::Integer:
            append_whole(out, value.as_int16());
            return;
        case VarType::Long:
            append_whole(out, value.as_int32());
            return;
        case VarType::LongLong:
            append_whole(out, value.as_int64());
            return;
        case VarType::Date:
            // The date form is trimmed: a time-only or date-only value must not carry padding into the
            // cell, where the reader would take it as part of the value.
            out += vb::trim(vb::date_text(value.as_date()));
            return;
        default:
            out += vb::to_text(value);
            return;
    }
}

std::string FieldText(const Variant& value) {
    std::string text;
    append_field_text(text, value);
    return text;
}
