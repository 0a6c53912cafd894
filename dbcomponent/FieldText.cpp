// FieldText.cpp: value to text for the bulk read.
#include "dbcomponent/FieldText.h"

#include "common/Conversions.h"

void append_field_text(std::string& out, const Variant& value) {
    switch (value.type()) {
        case VarType::Empty:
        case VarType::Null:
            return;
        case VarType::String:
            out += value.as_text();
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
