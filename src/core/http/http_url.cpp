#include "core/http/http_url.h"

#include "core/text/log_text.h"
#include "core/text/url_text.h"

#include <charconv>
#include <vector>

namespace glowcast {

namespace {

[[nodiscard]] char lower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// The parts of a URL or a reference: each view empty when its part is missing, the flags telling a
// missing part from an empty one where that matters.
struct UrlParts {
    std::string scheme; // lower case
    std::string_view authority;
    std::string_view path;
    std::string_view query; // without its "?"
    bool hasAuthority = false;
    bool hasQuery = false;
};

[[nodiscard]] bool isSchemeCharacter(char c, bool first)
{
    const char l = lower(c);
    return (l >= 'a' && l <= 'z') || (!first && ((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.'));
}

[[nodiscard]] UrlParts partsOf(std::string_view url)
{
    UrlParts parts;
    url = url.substr(0, url.find('#'));
    const std::size_t colon = url.find(':');
    if (colon != std::string_view::npos && colon > 0 && colon < url.find_first_of("/?")) {
        bool scheme = true;
        for (std::size_t i = 0; i < colon; ++i)
            scheme = scheme && isSchemeCharacter(url[i], i == 0);
        if (scheme) {
            for (const char c : url.substr(0, colon))
                parts.scheme.push_back(lower(c));
            url.remove_prefix(colon + 1);
        }
    }
    if (url.starts_with("//")) {
        url.remove_prefix(2);
        const std::size_t end = std::min(url.find_first_of("/?"), url.size());
        parts.authority = url.substr(0, end);
        parts.hasAuthority = true;
        url.remove_prefix(end);
    }
    const std::size_t question = url.find('?');
    parts.path = url.substr(0, question);
    if (question != std::string_view::npos) {
        parts.query = url.substr(question + 1);
        parts.hasQuery = true;
    }
    return parts;
}

// A path with its "." and ".." segments taken out, as a browser does before asking.
[[nodiscard]] std::string withoutDotSegments(std::string_view path)
{
    std::vector<std::string_view> kept;
    const bool absolute = path.starts_with('/');
    if (absolute)
        path.remove_prefix(1);
    for (bool last = false; !last;) {
        const std::size_t slash = path.find('/');
        last = slash == std::string_view::npos;
        const std::string_view segment = path.substr(0, slash);
        path.remove_prefix(last ? path.size() : slash + 1);
        if (segment == "." || segment == "..") {
            if (segment == ".." && !kept.empty())
                kept.pop_back();
            if (last)
                kept.emplace_back(); // "a/.." stands for the folder "a/" was in
        } else {
            kept.push_back(segment);
        }
    }
    std::string out = absolute ? "/" : "";
    for (std::size_t i = 0; i < kept.size(); ++i)
        out.append(i == 0 ? "" : "/").append(kept[i]);
    return out;
}

// What a request line may carry as it is: visible ASCII but for the characters a URL never holds bare.
[[nodiscard]] std::string escapedTarget(std::string_view target)
{
    constexpr std::string_view kNeverBare = "\"<>\\^`{|}";
    constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : target) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte >= 0x7f || kNeverBare.find(c) != std::string_view::npos) {
            out.push_back('%');
            out.push_back(kHex[byte >> 4]);
            out.push_back(kHex[byte & 15]);
        } else {
            out.push_back(c);
        }
    }
    return out;
}

} // namespace

HttpUrlReading readHttpUrl(std::string_view url)
{
    const UrlParts parts = partsOf(url);
    if ((parts.scheme != "http" && parts.scheme != "https") || !parts.hasAuthority)
        return {std::nullopt, "\"" + printable(url, 64) + "\" is not an http or https URL"};
    if (parts.authority.find('@') != std::string_view::npos)
        return {std::nullopt, "the URL names a user, and no user is sent"};
    if (!isUrlHost(parts.authority))
        return {std::nullopt,
                "the URL's host \"" + printable(parts.authority, 64) + "\" is not a host name or address"};
    HttpUrl out;
    out.secure = parts.scheme == "https";
    out.port = out.secure ? 443 : 80;
    const std::size_t bracket = parts.authority.find(']');
    const std::size_t colon = parts.authority.find(':', bracket == std::string_view::npos ? 0 : bracket);
    const std::string_view host = parts.authority.substr(0, colon);
    out.host = host.starts_with('[') ? std::string{host.substr(1, host.size() - 2)} : std::string{host};
    if (colon != std::string_view::npos) {
        const std::string_view digits = parts.authority.substr(colon + 1);
        std::from_chars(digits.data(), digits.data() + digits.size(), out.port); // isUrlHost checked it
    }
    const bool usualPort = out.port == (out.secure ? 443 : 80);
    const std::string target = std::string{parts.path.empty() ? "/" : parts.path} +
                               (parts.hasQuery ? "?" + std::string{parts.query} : std::string{});
    out.head = "GET " + escapedTarget(target) + " HTTP/1.1\r\nHost: " + std::string{host} +
               (usualPort ? "" : ":" + std::to_string(out.port)) +
               "\r\nUser-Agent: Glowcast\r\nAccept: */*\r\nConnection: close\r\n\r\n";
    return {std::move(out), {}};
}

std::string resolveReference(std::string_view base, std::string_view reference)
{
    const UrlParts from = partsOf(base);
    const UrlParts to = partsOf(reference);
    std::string scheme = to.scheme.empty() ? from.scheme : to.scheme;
    std::string_view authority = from.authority;
    bool hasAuthority = from.hasAuthority;
    std::string path;
    std::string_view query = to.query;
    bool hasQuery = to.hasQuery;
    if (!to.scheme.empty() || to.hasAuthority) {
        authority = to.authority;
        hasAuthority = to.hasAuthority;
        path = withoutDotSegments(to.path);
    } else if (to.path.empty()) {
        path = from.path;
        if (!hasQuery) {
            query = from.query;
            hasQuery = from.hasQuery;
        }
    } else if (to.path.starts_with('/')) {
        path = withoutDotSegments(to.path);
    } else {
        const std::size_t slash = from.path.rfind('/');
        const std::string folder =
            from.hasAuthority && from.path.empty()
                ? "/"
                : std::string{from.path.substr(0, slash == std::string_view::npos ? 0 : slash + 1)};
        path = withoutDotSegments(folder + std::string{to.path});
    }
    std::string out = scheme + ":";
    if (hasAuthority)
        out.append("//").append(authority);
    out.append(path);
    if (hasQuery)
        out.append("?").append(query);
    return out;
}

RedirectStep redirectStep(std::string_view from, std::string_view location)
{
    std::string next = resolveReference(from, location);
    const std::string scheme = partsOf(next).scheme;
    const std::string fromScheme = partsOf(from).scheme;
    if (scheme != "https" && (scheme != "http" || fromScheme == "https"))
        return {{},
                "redirected from " + fromScheme + " to " +
                    (scheme.empty() ? "a URL without a scheme" : printable(scheme, 32)) + ", which is not followed"};
    return {std::move(next), {}};
}

} // namespace glowcast
