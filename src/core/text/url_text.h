#pragma once

#include <string>
#include <string_view>

namespace glowcast {

// The texts a bridge URL is made of, "http://<host>/api/<user>/<resource path>", go in verbatim.
// These checks keep each text to its own part, so that no request ever reaches another resource.

// "host" or "host:port": a name or a dotted address of letters, digits, "-", "." and "_" (at most
// 253, no empty label before a dot), or a bracketed IPv6 address; a port from 1 to 65535. No user
// information, path, query, fragment, escape, space or control character.
[[nodiscard]] bool isUrlHost(std::string_view address);

// One path segment: not empty, not "." or "..", and only characters that stand in a path as they
// are, or escapes (two upper-case hex digits) of characters that cannot: a URL layer sends such a
// segment exactly as written, neither resolving nor re-encoding it.
[[nodiscard]] bool isUrlSegment(std::string_view segment);

// One or more segments separated by "/", each one as above.
[[nodiscard]] bool isUrlPath(std::string_view path);

} // namespace glowcast
