// ColumnLimits.cpp: the checks of what a column can hold; see ColumnLimits.h.
#include "platform/ado/detail/ColumnLimits.h"

#include <cstdint>
#include <string>
#include <string_view>

#include "common/ComError.h"
#include "platform/ado/AdoTypes.h"

namespace ado::detail {
namespace {

[[noreturn]] void refuse(const ColumnInfo& column, const std::string& reason) {
    throw ComError(kDbErrorsOccurred, kSourceField,
                   std::string(error_text(kDbErrorsOccurred)) + " (" + column.name + ": " + reason + ")");
}

// The byte offset of character number `n` of UTF-8 text (the text's size when it has fewer characters).
size_t offset_of_char(std::string_view text, size_t n) {
    size_t chars = 0;
    for (size_t i = 0; i < text.size(); ++i)
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 && chars++ == n) return i;
    return text.size();
}

// As PostgreSQL does for varchar(n) and char(n): longer text is an error unless all it has beyond n
// characters is spaces, which are dropped.
bool fits_length(std::string_view text, int32_t max_chars) {
    const size_t beyond = offset_of_char(text, static_cast<size_t>(max_chars));
    return text.find_first_not_of(' ', beyond) == std::string_view::npos;
}

}  // namespace

void check_column_limits(const RawValue& raw, const ColumnInfo& column) {
    switch (raw.type) {
        case RawValue::Type::Integer:
            if (column.integer_bits < 64) {
                const int64_t limit = int64_t{1} << (column.integer_bits - 1);
                if (raw.integer < -limit || raw.integer >= limit)
                    refuse(column, "outside the range of a " + std::to_string(column.integer_bits) + "-bit integer");
            }
            break;
        case RawValue::Type::Text:
        case RawValue::Type::Blob:
            if (!column.holds_nul && raw.text.find('\0') != std::string::npos)
                refuse(column, "the database cannot hold a NUL character in text");
            if (column.max_chars > 0 && !fits_length(raw.text, column.max_chars))
                refuse(column, "longer than " + std::to_string(column.max_chars) + " characters");
            break;
        default: break;
    }
}

}  // namespace ado::detail
