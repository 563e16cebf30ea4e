#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace glowcast {

// An http:// or https:// URL taken apart for one GET request.
struct HttpUrl {
    bool secure = false;    // https
    std::string host;       // a name or an address, an IPv6 one without its brackets
    std::uint16_t port = 0; // the URL's, or the scheme's own
    std::string head;       // the request's head, whole: request line, Host, User-Agent, Accept, Connection
    friend bool operator==(const HttpUrl&, const HttpUrl&) = default;
};

// The URL taken apart, or why it cannot be asked for.
struct HttpUrlReading {
    std::optional<HttpUrl> url;
    std::string refusal; // for the log, when there is no URL
    friend bool operator==(const HttpUrlReading&, const HttpUrlReading&) = default;
};

// Reads an absolute http or https URL (either scheme in any case). The host is a name or an address
// as isUrlHost takes it, the port 1 to 65535; a URL with a user name is refused, as nothing here
// sends one. The fragment stays home, and the request line escapes what may not stand on it
// (spaces, controls, bytes that are not ASCII) as %XX; escapes already there go as they are.
// The request asks for the connection to close after the answer.
[[nodiscard]] HttpUrlReading readHttpUrl(std::string_view url);

// The URL a reference (a redirect's Location) names, seen from the absolute URL base: the reference
// itself when it has a scheme, otherwise resolved against base as a browser does (another host, an
// absolute or a relative path with "." and ".." taken out, a query alone). The fragment is dropped.
[[nodiscard]] std::string resolveReference(std::string_view base, std::string_view reference);

// Where a download redirected from the URL `from` to the Location `location` goes next: the
// resolved URL, or why it goes nowhere (only http and https are followed, and never from https to
// http, so that a cover asked for privately never travels in the clear).
struct RedirectStep {
    std::string url;
    std::string refusal; // for the log, when url is empty
    friend bool operator==(const RedirectStep&, const RedirectStep&) = default;
};
[[nodiscard]] RedirectStep redirectStep(std::string_view from, std::string_view location);

} // namespace glowcast
