// LineEscaping.cpp: escaping of CR, LF and ESC inside TextSocket lines.
#include "socketcontrol/LineEscaping.h"

#include <cstring>

namespace line_escaping {

namespace {

bool needs_escaping(std::string_view piece) {
    return std::memchr(piece.data(), '\n', piece.size()) != nullptr ||
           std::memchr(piece.data(), kEsc, piece.size()) != nullptr;
}

}  // namespace

void escape(std::string_view data, std::string& out) {
    out.reserve(out.size() + data.size());
    for (size_t at = 0; at < data.size(); at += kPieceLength) {
        const std::string_view piece = data.substr(at, kPieceLength);
        if (!needs_escaping(piece)) {
            out.append(piece);
            continue;
        }
        for (const char c : piece) {
            if (c == '\r' || c == '\n' || c == kEsc) out.push_back(kEsc);
            out.push_back(c);
        }
    }
}

std::string unescape(std::string_view line) {
    if (std::memchr(line.data(), kEsc, line.size()) == nullptr) return std::string(line);
    std::string out;
    out.reserve(line.size());
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] == kEsc) {
            if (++i == line.size()) break;  // a trailing ESC escapes nothing and is dropped
        }
        out.push_back(line[i]);
    }
    return out;
}

}  // namespace line_escaping
