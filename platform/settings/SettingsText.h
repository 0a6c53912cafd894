// SettingsText.h: how one value is written to and read from the settings file so that it comes back
// exactly as saved, under the rules of the INI reader (libinih as Debian builds it): lines of at most
// 199 characters, blanks around a value stripped, ";" after a blank starting a comment, "#" or ";" at the
// start of a line starting one, and a line that begins with a blank continuing the value above it.
//
// Escapes: "\\" for a backslash, "\n", "\r", "\t", "\;" and "\xHH" for other control characters and for
// blanks and comment characters where the reader would take them away. A long value is cut into pieces
// of at most kPieceLength characters; every piece but the last ends in a single "\" (a backslash that is
// not part of an escape), and each following piece is written on its own line, indented.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace settings_text {

constexpr size_t kPieceLength = 150;

// The pieces of `value` as written, continuation marks included; at least one (possibly empty).
std::vector<std::string> encode(std::string_view value);

// Decodes one piece into `out`; returns true when the piece ends in a continuation mark.
bool decode_piece(std::string_view piece, std::string& out);

}  // namespace settings_text
