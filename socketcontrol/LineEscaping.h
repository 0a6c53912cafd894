// LineEscaping.h: the escaping a TextSocket applies when its Escape property is on, so that any text,
// CR and LF included, can travel inside CR LF-terminated lines. Works on Windows-1252 bytes, where one
// byte is one character, so the 500-character pieces below are 500 bytes.
#pragma once

#include <string>
#include <string_view>

namespace line_escaping {

constexpr char kEsc = '\x1B';
constexpr size_t kPieceLength = 500;  // escaping decides per piece of this many characters

// Escapes `data` piece by piece: a piece holding neither LF nor ESC goes out unchanged (a lone CR in it
// stays as it is, since without an LF it cannot form the CR LF terminator); in any other piece every CR,
// LF and ESC is preceded by an ESC. Appends the result to `out`.
void escape(std::string_view data, std::string& out);

// Undoes escape(): every ESC is dropped and the character after it is taken literally, even an ESC; an
// ESC at the very end is dropped.
std::string unescape(std::string_view line);

}  // namespace line_escaping
