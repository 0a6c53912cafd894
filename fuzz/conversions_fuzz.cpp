// conversions_fuzz.cpp: the run time's readings of text as a number, a currency amount and a date, and
// every conversion of a text value (CInt, CLng, CDbl, CCur, CBool, CDate, Val), on any text.
//
// Beyond "no crash, no sanitizer report, no exception but ComError", each reading that succeeds must
// agree with the text forms this code writes: the default text of a number or date read from the input
// must read back as the same number or date, since the gateway and the client send values to each other
// as exactly those texts.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "common/ComError.h"
#include "common/Conversions.h"
#include "common/Variant.h"

namespace {

[[noreturn]] void fail(const char* what, std::string_view text, const std::string& detail) {
    std::fprintf(stderr, "%s for input \"%.*s\": %s\n", what, static_cast<int>(text.size()), text.data(),
                 detail.c_str());
    std::abort();
}

// Runs a conversion that may refuse the text with a ComError; any other exception escapes to the fuzzer.
template <class F>
void refusable(F&& convert) {
    try {
        convert();
    } catch (const ComError&) {
    }
}

// CStr of a double must read back (CDbl) as a double with the same CStr: the text is what travels.
void check_number(std::string_view text) {
    const std::optional<double> number = vb::parse_number(text);
    if (!number) return;
    if (!std::isfinite(*number)) fail("parse_number gave a non-finite value", text, std::to_string(*number));
    const std::string written = vb::double_text(*number);
    const std::optional<double> again = vb::parse_number(written);
    if (!again) fail("the text of a number does not read back", text, written);
    if (vb::double_text(*again) != written) fail("the text of a number changes on reading", text, written);
    vb::format_thousands(*number);
    refusable([&] { vb::signed_text(vb::round_half_even(*number)); });
}

// A currency reading is the number reading, exact to four decimals.
void check_currency(std::string_view text) {
    std::optional<Currency> amount;
    try {
        amount = vb::parse_currency(text);
    } catch (const ComError& e) {
        if (e.number() != kErrOverflow) fail("parse_currency raised other than Overflow", text, e.description());
        return;
    }
    if (!amount) return;
    const std::optional<double> number = vb::parse_number(text);
    if (!number) fail("a currency amount is not a number", text, std::to_string(amount->scaled));
    const double scaled = *number * Currency::kScale;
    if (std::fabs(scaled - static_cast<double>(amount->scaled)) > 0.5 + std::fabs(scaled) * 1e-15)
        fail("currency and number readings disagree", text, std::to_string(amount->scaled));
    const std::string written = vb::currency_text(*amount);
    const std::optional<Currency> again = vb::parse_currency(written);
    if (!again || again->scaled != amount->scaled) fail("the text of an amount does not read back", text, written);
}

// The text of a date, written to the second, reads back as the same date to the second.
void check_date(std::string_view text) {
    const std::optional<double> serial = vb::parse_date(text);
    if (!serial) return;
    const std::string written = vb::date_text(*serial);
    const std::optional<double> again = vb::parse_date(written);
    if (!again) fail("the text of a date does not read back", text, written);
    if (vb::date_text(*again) != written) fail("the text of a date changes on reading", text, written);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    check_number(text);
    check_currency(text);
    check_date(text);
    refusable([&] { vb::val(text); });   // &H and &O text beyond 32 bits overflows
    const Variant value(text);
    refusable([&] { vb::to_int16(value); });
    refusable([&] { vb::to_int32(value); });
    refusable([&] { vb::to_int64(value); });
    refusable([&] { vb::to_double(value); });
    refusable([&] { vb::to_currency(value); });
    refusable([&] { vb::to_bool(value); });
    refusable([&] { vb::to_date(value); });
    return 0;
}
