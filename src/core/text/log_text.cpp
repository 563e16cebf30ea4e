#include "core/text/log_text.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace glowcast {

namespace {

// A step through UTF-8 text: a whole character, or the longest start of one that breaks off (a
// stray continuation byte, a sequence cut short, an overlong form, a surrogate, beyond U+10FFFF),
// which stands for one replacement character.
struct Utf8Step {
    std::size_t length = 1;
    bool valid = false;
    char32_t character = 0;
};

Utf8Step stepAt(std::string_view text, std::size_t at)
{
    const auto byte = static_cast<unsigned char>(text[at]);
    if (byte < 0x80)
        return {1, true, byte};
    // The sequence's length and the range its second byte must fall in; the others are 80..BF.
    std::size_t length = 0;
    unsigned char lowest = 0x80;
    unsigned char highest = 0xBF;
    if (byte >= 0xC2 && byte <= 0xDF) {
        length = 2;
    } else if (byte >= 0xE0 && byte <= 0xEF) {
        length = 3;
        lowest = byte == 0xE0 ? 0xA0 : 0x80;  // shorter forms are overlong
        highest = byte == 0xED ? 0x9F : 0xBF; // ED A0..BF are surrogates
    } else if (byte >= 0xF0 && byte <= 0xF4) {
        length = 4;
        lowest = byte == 0xF0 ? 0x90 : 0x80;  // overlong
        highest = byte == 0xF4 ? 0x8F : 0xBF; // beyond U+10FFFF
    } else {
        return {};
    }
    char32_t character = byte & (0xFF >> (length + 1));
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = at + i < text.size() ? static_cast<unsigned char>(text[at + i]) : 0U;
        if (next < (i == 1 ? lowest : 0x80) || next > (i == 1 ? highest : 0xBF))
            return {i, false, 0};
        character = (character << 6) | (next & 0x3F);
    }
    return {length, true, character};
}

[[nodiscard]] bool isControl(char32_t character)
{
    return character < 0x20 || (character >= 0x7F && character <= 0x9F);
}

void appendHex(std::string& out, std::string_view prefix, unsigned value, bool upper)
{
    std::array<char, 8> digits{};
    std::snprintf(digits.data(), digits.size(), upper ? "%02X" : "%02x", value);
    out += prefix;
    out += digits.data();
}

// The escaped form of the character at text[at] and how many bytes of text it stands for.
std::size_t nextPiece(std::string_view text, std::size_t at, std::string& piece)
{
    piece.clear();
    const Utf8Step step = stepAt(text, at);
    if (step.valid && step.character == '\r') {
        piece = "\\r";
    } else if (step.valid && step.character == '\n') {
        piece = "\\n";
    } else if (step.valid && step.character == '\t') {
        piece = "\\t";
    } else if (!step.valid || isControl(step.character)) {
        // A C1 control character in UTF-8 is escaped byte by byte too: some terminals act on it.
        for (std::size_t i = 0; i < step.length; ++i)
            appendHex(piece, "\\x", static_cast<unsigned char>(text[at + i]), true);
    } else {
        // A character whole, so that a cut never splits a UTF-8 sequence.
        piece.assign(text.substr(at, step.length));
    }
    return step.length;
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

void appendJsonString(std::string& out, std::string_view text)
{
    out += '"';
    for (std::size_t at = 0; at < text.size();) {
        const Utf8Step step = stepAt(text, at);
        if (!step.valid)
            out += "\xEF\xBF\xBD";
        else if (step.character == '"' || step.character == '\\')
            (out += '\\') += static_cast<char>(step.character);
        else if (isControl(step.character))
            appendHex(out, "\\u00", static_cast<unsigned>(step.character), false);
        else
            out += text.substr(at, step.length);
        at += step.length;
    }
    out += '"';
}

std::string jsonString(std::string_view text)
{
    std::string out;
    out.reserve(text.size() + 2);
    appendJsonString(out, text);
    return out;
}

} // namespace glowcast
