#include "core/text/url_text.h"

namespace glowcast {

namespace {

constexpr std::size_t kLongestHostName = 253;

[[nodiscard]] bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

[[nodiscard]] bool isLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

[[nodiscard]] bool isUpperHexDigit(char c)
{
    return isDigit(c) || (c >= 'A' && c <= 'F');
}

[[nodiscard]] int hexValue(char c)
{
    return isDigit(c) ? c - '0' : c - 'A' + 10;
}

// Characters a URL never needs escaped: an escape of one of them is undone by URL layers, so the
// text on the wire would differ from the one built.
[[nodiscard]] bool isUnreserved(char c)
{
    return isLetter(c) || isDigit(c) || c == '-' || c == '.' || c == '_' || c == '~';
}

// Unreserved characters, the sub-delimiters "!$&'()*+,;=", ":" and "@": what stands in a path
// segment without changing the URL's structure.
[[nodiscard]] bool isSegmentCharacter(char c)
{
    constexpr std::string_view kOthers = "!$&'()*+,;=:@";
    return isUnreserved(c) || kOthers.find(c) != std::string_view::npos;
}

[[nodiscard]] bool isPort(std::string_view digits)
{
    if (digits.empty() || digits.size() > 5)
        return false;
    int port = 0;
    for (const char c : digits) {
        if (!isDigit(c))
            return false;
        port = port * 10 + (c - '0');
    }
    return port >= 1 && port <= 65535;
}

} // namespace

bool isUrlHost(std::string_view address)
{
    if (address.size() > kLongestHostName + 6) // with ":65535"
        return false;
    std::string_view host = address;
    if (!address.empty() && address.front() == '[') {
        const std::size_t close = address.find(']');
        if (close == std::string_view::npos || close == 1)
            return false;
        for (const char c : address.substr(1, close - 1))
            if (!isUpperHexDigit(c) && !(c >= 'a' && c <= 'f') && c != ':' && c != '.')
                return false;
        host = address.substr(0, close + 1);
    } else {
        host = address.substr(0, address.find(':'));
        if (host.empty() || host.size() > kLongestHostName || host.front() == '.' ||
            host.find("..") != std::string_view::npos)
            return false;
        for (const char c : host)
            if (!isLetter(c) && !isDigit(c) && c != '-' && c != '.' && c != '_')
                return false;
    }
    const std::string_view rest = address.substr(host.size());
    return rest.empty() || (rest.front() == ':' && isPort(rest.substr(1)));
}

bool isUrlSegment(std::string_view segment)
{
    if (segment.empty() || segment == "." || segment == "..")
        return false;
    for (std::size_t i = 0; i < segment.size(); ++i) {
        if (segment[i] != '%') {
            if (!isSegmentCharacter(segment[i]))
                return false;
            continue;
        }
        if (i + 2 >= segment.size() || !isUpperHexDigit(segment[i + 1]) || !isUpperHexDigit(segment[i + 2]))
            return false;
        if (isUnreserved(static_cast<char>(hexValue(segment[i + 1]) * 16 + hexValue(segment[i + 2]))))
            return false;
        i += 2;
    }
    return true;
}

bool isUrlPath(std::string_view path)
{
    for (std::size_t start = 0;;) {
        const std::size_t slash = path.find('/', start);
        if (!isUrlSegment(path.substr(start, slash == std::string_view::npos ? std::string_view::npos : slash - start)))
            return false;
        if (slash == std::string_view::npos)
            return true;
        start = slash + 1;
    }
}

} // namespace glowcast
