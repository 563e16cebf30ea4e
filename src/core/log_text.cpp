#include "core/log_text.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace glowcast {

namespace {

[[nodiscard]] bool isContinuation(unsigned char byte)
{
    return (byte & 0xC0) == 0x80;
}

void appendEscape(std::string& out, unsigned char byte)
{
    std::array<char, 5> escape{};
    std::snprintf(escape.data(), escape.size(), "\\x%02X", static_cast<unsigned>(byte));
    out += escape.data();
}

// The escaped form of the character at text[at] and how many bytes of text it stands for.
std::size_t nextPiece(std::string_view text, std::size_t at, std::string& piece)
{
    piece.clear();
    const auto byte = static_cast<unsigned char>(text[at]);
    const auto following = at + 1 < text.size() ? static_cast<unsigned char>(text[at + 1]) : 0U;
    if (byte == '\r') {
        piece = "\\r";
    } else if (byte == '\n') {
        piece = "\\n";
    } else if (byte == '\t') {
        piece = "\\t";
    } else if (byte < 0x20 || byte == 0x7f) {
        appendEscape(piece, byte);
    } else if (byte == 0xC2 && following >= 0x80 && following <= 0x9F) {
        // A C1 control character in UTF-8: some terminals act on it.
        appendEscape(piece, byte);
        appendEscape(piece, following);
        return 2;
    } else {
        // A character whole, so that a cut never splits a UTF-8 sequence.
        std::size_t length = 1;
        while (byte >= 0xC0 && length < 4 && at + length < text.size() &&
               isContinuation(static_cast<unsigned char>(text[at + length])))
            ++length;
        piece.assign(text.substr(at, length));
        return length;
    }
    return 1;
}

} // namespace

std::string printable(std::string_view text, std::size_t limit)
{
    std::string out;
    out.reserve(std::min(text.size(), limit) + 32);
    std::string piece;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = nextPiece(text, at, piece);
        if (out.size() + piece.size() > limit) {
            out += " ... (" + std::to_string(text.size() - at) + " more bytes cut)";
            break;
        }
        out += piece;
        at += length;
    }
    return out;
}

} // namespace glowcast
