// Protocol.h: the pieces of a request and its replies that the connection worker needs beyond the wire
// codec: the limits of a request and how a request beyond them is refused, numbers read from tokens,
// field-name lists, and the type letters and text forms of values in replies.
//
// Tokens and replies are wire bytes (Windows-1252); the database and the middle tier get UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/ComError.h"
#include "common/Variant.h"

namespace protocol {

constexpr size_t kMaxNames = 12;                 // field names of "all" and "buff"
constexpr size_t kBulkBufferSize = 1000000;      // characters of a "buff" reply, its separators included
constexpr int kMaxKeyValue = 255;                // key values within -255..255, at most 100 of them

// A request beyond the protocol's limits. The worker answers it with an error entry when acknowledgement
// is on and writes it to the debug list when it is off; nothing of the request is executed.
class RequestRefused : public ComError {
public:
    RequestRefused(int32_t number, std::string description) : ComError(number, "SSWorker", std::move(description)) {}
};

// A 16-bit whole number from a token, with the run time's integer conversion (blanks allowed, halves to
// even); refused with 5 when the token is not a number, 6 when it is outside -32768..32767. `what` names
// the token in the message.
int16_t int16_token(std::string_view token, const char* what);
// The same for a number already taken from a token with Val (field ordinals).
int16_t int16_of(double value, const char* what);

// The field names of "all" and "buff": every token of `rest`; more than kMaxNames refused with 5.
std::vector<std::string> field_names(std::string_view rest);

// An error entry: the number in the signed-number text form, STX, the description.
std::string error_entry(int32_t number, std::string_view description);

// The default text form of a value in UTF-8; a null value gives the empty text.
std::string value_text(const Variant& value);
// "getcursor": "s" text, "d" date, "n" anything else.
char value_letter(const Variant& value);
// "buff": "s" text (and null, which reads as the empty text), "d" date, "i" 16- or 32-bit whole number,
// "n" anything else.
char cell_letter(const Variant& value);

}  // namespace protocol
