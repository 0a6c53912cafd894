// SettingsText.cpp: escaping and cutting of values for the INI reader.
#include "platform/settings/SettingsText.h"

#include <cstdio>

namespace settings_text {

namespace {

std::string hex_escape(unsigned char c) {
    static const char kDigits[] = "0123456789ABCDEF";
    return std::string("\\x") + kDigits[c >> 4] + kDigits[c & 15];
}

// One character's escape, given whether it starts a piece and what precedes it in the value.
std::string escape(unsigned char c, bool piece_start, unsigned char previous) {
    switch (c) {
        case '\\': return "\\\\";
        case '\n': return "\\n";
        case '\r': return "\\r";
        case '\t': return "\\t";
        case ';': return piece_start || previous == ' ' ? "\\;" : ";";
        case '#':
        case ' ': return piece_start ? hex_escape(c) : std::string(1, static_cast<char>(c));
        default: return c < 0x20 || c == 0x7F ? hex_escape(c) : std::string(1, static_cast<char>(c));
    }
}

void close_piece(std::string& piece) {
    if (!piece.empty() && piece.back() == ' ') piece.replace(piece.size() - 1, 1, "\\x20");
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

}  // namespace

std::vector<std::string> encode(std::string_view value) {
    std::vector<std::string> pieces(1);
    unsigned char previous = 0;
    for (const char ch : value) {
        const auto c = static_cast<unsigned char>(ch);
        std::string e = escape(c, pieces.back().empty(), previous);
        if (pieces.back().size() + e.size() > kPieceLength) {
            close_piece(pieces.back());
            pieces.back() += '\\';
            pieces.emplace_back();
            e = escape(c, true, previous);
        }
        pieces.back() += e;
        previous = c;
    }
    close_piece(pieces.back());
    return pieces;
}

bool decode_piece(std::string_view piece, std::string& out) {
    for (size_t i = 0; i < piece.size(); ++i) {
        const char c = piece[i];
        if (c != '\\') {
            out += c;
            continue;
        }
        if (i + 1 == piece.size()) return true;   // the continuation mark
        const char e = piece[++i];
        switch (e) {
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'x':
                if (i + 2 < piece.size() && hex_value(piece[i + 1]) >= 0 && hex_value(piece[i + 2]) >= 0) {
                    out += static_cast<char>(hex_value(piece[i + 1]) * 16 + hex_value(piece[i + 2]));
                    i += 2;
                } else {
                    out += "\\x";   // not an escape: kept as written by hand
                }
                break;
            case '\\':
            case ';':
            case '#': out += e; break;
            default: out += '\\'; out += e; break;
        }
    }
    return false;
}

}  // namespace settings_text
