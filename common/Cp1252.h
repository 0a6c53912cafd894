// Cp1252.h: application and database text is UTF-8; where it meets bytes (the wire, sockets) it becomes
// Windows-1252, one byte per character, and back. A character Windows-1252 cannot hold becomes "?".
#pragma once

#include <string>
#include <string_view>

namespace cp1252 {

// UTF-8 text to Windows-1252 bytes. Malformed UTF-8 sequences and characters outside the code page each
// become one "?", so the result has exactly one byte per character the caller meant.
std::string from_utf8(std::string_view utf8);

// Windows-1252 bytes to UTF-8. The five codes the code page leaves undefined (0x81, 0x8D, 0x8F, 0x90,
// 0x9D) map to the C1 control characters of the same number, as Windows' own conversion does, so every
// byte survives a round trip.
std::string to_utf8(std::string_view bytes);

}  // namespace cp1252
