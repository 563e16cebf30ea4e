#include "core/covers/art_url.h"

#include "core/text/log_text.h"

#include <algorithm>
#include <array>

namespace glowcast {

namespace {

char lower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool startsWithNoCase(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) { return lower(a) == lower(b); });
}

bool endsWithNoCase(std::string_view text, std::string_view suffix)
{
    return text.size() >= suffix.size() && startsWithNoCase(text.substr(text.size() - suffix.size()), suffix);
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

int base64Value(char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+' || c == '-')
        return 62;
    if (c == '/' || c == '_')
        return 63;
    return -1;
}

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

std::string tooLarge(std::size_t bytes, std::size_t maximum, std::string_view about)
{
    return std::string{about} + std::to_string(bytes) + " bytes, more than the " + std::to_string(maximum) +
           " a cover may have";
}

ArtSource parseFile(std::string_view rest)
{
    // "file:" is followed by "//host/path" or, from some players, by the path alone.
    if (rest.starts_with("//")) {
        rest.remove_prefix(2);
        const std::size_t slash = rest.find('/');
        const std::string_view host = rest.substr(0, slash);
        if (!host.empty() && !(host.size() == 9 && startsWithNoCase(host, "localhost")))
            return ArtRefused{"the file URL names another host, \"" + printable(host, 64) + "\""};
        if (slash == std::string_view::npos)
            return ArtRefused{"the file URL has no path"};
        rest.remove_prefix(slash);
    }
    if (!rest.starts_with('/'))
        return ArtRefused{"the file URL has no absolute path"};
    std::optional<std::string> path = percentDecode(rest);
    if (!path)
        return ArtRefused{"the file URL has a broken percent escape"};
    if (path->find('\0') != std::string::npos)
        return ArtRefused{"the file URL's path holds a NUL byte"};
    return ArtFile{std::move(*path)};
}

ArtSource parseData(std::string_view rest, std::size_t maximumCoverBytes)
{
    const std::size_t comma = rest.find(',');
    if (comma == std::string_view::npos)
        return ArtRefused{"the data URI has no comma before its data"};
    const std::string_view label = rest.substr(0, comma);
    const std::string_view payload = rest.substr(comma + 1);
    const bool base64 = endsWithNoCase(label, ";base64");
    // A cheap upper bound first, so that nothing is decoded for a payload that cannot fit.
    const std::size_t atLeast = base64 ? payload.size() / 4 * 3 / 2 : payload.size() / 3;
    if (atLeast > maximumCoverBytes)
        return ArtRefused{tooLarge(atLeast, maximumCoverBytes, "the data URI holds at least ")};
    std::vector<std::uint8_t> bytes;
    if (base64) {
        // Base64 may itself be percent-encoded in a URI.
        std::optional<std::string> unescaped;
        if (payload.find('%') != std::string_view::npos && !(unescaped = percentDecode(payload)))
            return ArtRefused{"the data URI has a broken percent escape"};
        std::optional<std::vector<std::uint8_t>> decoded = decodeBase64(unescaped ? *unescaped : payload);
        if (!decoded)
            return ArtRefused{"the data URI's base64 is broken"};
        bytes = std::move(*decoded);
    } else {
        std::optional<std::string> decoded = percentDecode(payload);
        if (!decoded)
            return ArtRefused{"the data URI has a broken percent escape"};
        bytes.assign(decoded->begin(), decoded->end());
    }
    if (bytes.empty())
        return ArtRefused{"the data URI holds no bytes"};
    if (bytes.size() > maximumCoverBytes)
        return ArtRefused{tooLarge(bytes.size(), maximumCoverBytes, "the data URI holds ")};
    return ArtData{std::move(bytes)};
}

ArtSource parseHttp(std::string_view url, std::size_t schemeLength)
{
    const std::string_view rest = url.substr(schemeLength + 1);
    if (!rest.starts_with("//") || rest.size() == 2 || rest[2] == '/' || rest[2] == '?' || rest[2] == '#')
        return ArtRefused{"the web URL names no host"};
    for (const char c : url)
        if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7f)
            return ArtRefused{"the web URL holds a space or a control character"};
    // The streaming client publishes the page of a cover; the image itself is served elsewhere
    // under the same id.
    constexpr std::string_view kPage = "//open.spotify.com/image/";
    if (startsWithNoCase(rest, kPage)) {
        const std::string_view id = rest.substr(kPage.size());
        if (!id.empty() && id.find_first_of("/?#") == std::string_view::npos)
            return ArtHttp{"https://i.scdn.co/image/" + std::string{id}};
    }
    return ArtHttp{std::string{url}};
}

} // namespace

std::optional<std::string> percentDecode(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out.push_back(text[i]);
            continue;
        }
        if (i + 2 >= text.size())
            return std::nullopt;
        const int high = hexValue(text[i + 1]);
        const int low = hexValue(text[i + 2]);
        if (high < 0 || low < 0)
            return std::nullopt;
        out.push_back(static_cast<char>(high * 16 + low));
        i += 2;
    }
    return out;
}

std::optional<std::vector<std::uint8_t>> decodeBase64(std::string_view text)
{
    std::vector<std::uint8_t> out;
    out.reserve(text.size() / 4 * 3 + 3);
    std::uint32_t bits = 0;
    int count = 0;
    std::size_t padding = 0;
    for (const char c : text) {
        if (isSpace(c))
            continue;
        if (c == '=') {
            ++padding;
            continue;
        }
        const int value = base64Value(c);
        if (value < 0 || padding > 0) // a letter after padding is as broken as a stray character
            return std::nullopt;
        bits = bits << 6 | static_cast<std::uint32_t>(value);
        if (++count == 4) {
            out.push_back(static_cast<std::uint8_t>(bits >> 16));
            out.push_back(static_cast<std::uint8_t>(bits >> 8));
            out.push_back(static_cast<std::uint8_t>(bits));
            bits = 0;
            count = 0;
        }
    }
    // A last group of one letter carries no whole byte; more padding than a group can have is broken.
    if (count == 1 || padding > 2 || (padding > 0 && count + padding != 4))
        return std::nullopt;
    if (count == 2)
        out.push_back(static_cast<std::uint8_t>(bits >> 4));
    if (count == 3) {
        out.push_back(static_cast<std::uint8_t>(bits >> 10));
        out.push_back(static_cast<std::uint8_t>(bits >> 2));
    }
    return out;
}

ArtSource parseArtUrl(std::string_view url, std::size_t maximumCoverBytes)
{
    if (url.empty())
        return ArtRefused{"the art URL is empty"};
    const std::size_t colon = url.find(':');
    const std::string_view scheme = url.substr(0, colon == std::string_view::npos ? 0 : colon);
    const bool schemeValid = !scheme.empty() && std::all_of(scheme.begin(), scheme.end(), [](char c) {
        return (lower(c) >= 'a' && lower(c) <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
    });
    if (!schemeValid)
        return ArtRefused{"the art URL has no scheme"};
    const std::string_view rest = url.substr(colon + 1);
    if (startsWithNoCase(scheme, "data") && scheme.size() == 4) {
        // Base64 takes four letters for three bytes; a little more for the label and escapes.
        if (url.size() > maximumCoverBytes / 3 * 4 + kMaximumArtUrlBytes)
            return ArtRefused{tooLarge(url.size() / 4 * 3, maximumCoverBytes, "the data URI holds about ")};
        return parseData(rest, maximumCoverBytes);
    }
    if (url.size() > kMaximumArtUrlBytes)
        return ArtRefused{"the art URL is " + std::to_string(url.size()) + " bytes long"};
    const std::string name = [&] {
        std::string lowered(scheme);
        std::transform(lowered.begin(), lowered.end(), lowered.begin(), lower);
        return lowered;
    }();
    if (name == "file")
        return parseFile(rest);
    if (name == "http" || name == "https")
        return parseHttp(url, scheme.size());
    return ArtRefused{"Glowcast reads covers from file, data, http and https URLs, not from \"" + printable(name, 32) +
                      ":\" ones"};
}

} // namespace glowcast
