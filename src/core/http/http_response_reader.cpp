#include "core/http/http_response_reader.h"

#include "core/text/log_text.h"

#include <algorithm>
#include <charconv>
#include <optional>

namespace glowcast {

namespace {

// A chunk's size line: the size in hex and perhaps an extension, which nobody needs this long.
constexpr std::size_t kLongestChunkLine = 1024;

[[nodiscard]] bool sameNoCase(std::string_view a, std::string_view b)
{
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return lower(x) == lower(y); });
}

[[nodiscard]] std::string_view trimmed(std::string_view text)
{
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

[[nodiscard]] bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// A number written whole in the given base, within 64 bits.
[[nodiscard]] std::optional<std::uint64_t> numberOf(std::string_view text, int base)
{
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

[[nodiscard]] std::string tooLarge(std::uint64_t bytes, std::size_t maximum)
{
    return "it holds " + std::to_string(bytes) + " bytes, more than the " + std::to_string(maximum) + " bytes allowed";
}

} // namespace

HttpResponseReader::HttpResponseReader(HttpResponseLimits limits) : m_limits(limits)
{
}

HttpResponseReader::State HttpResponseReader::take(std::string_view bytes)
{
    while (!bytes.empty() && m_state == State::Reading) {
        if (m_part == Part::Body || m_part == Part::BodyToClose || m_part == Part::Chunk) {
            // A body read to the close is taken up to one byte past the cap, so that its refusal names the
            // same count however the bytes arrive.
            const std::size_t count = m_part == Part::BodyToClose
                                          ? std::min(bytes.size(), m_limits.maximumBodyBytes - m_body.size() + 1)
                                          : static_cast<std::size_t>(std::min<std::uint64_t>(m_left, bytes.size()));
            takeBodyBytes(bytes.substr(0, count));
            bytes.remove_prefix(count);
            if (m_part == Part::BodyToClose || m_state != State::Reading)
                continue;
            m_left -= count;
            if (m_left == 0 && m_part == Part::Body)
                m_state = State::Done;
            else if (m_left == 0)
                m_part = Part::ChunkEnd;
            continue;
        }
        // A line of the head, of a chunked body's framing or of its trailers: each capped while it comes.
        const std::size_t newline = bytes.find('\n');
        const std::string_view piece = bytes.substr(0, newline == std::string_view::npos ? bytes.size() : newline + 1);
        bytes.remove_prefix(piece.size());
        const std::size_t length = m_line.size() + piece.size();
        const bool inHead = m_part == Part::StatusLine || m_part == Part::Headers || m_part == Part::Trailers;
        if (inHead && m_headerBytes + length > m_limits.maximumHeaderBytes) {
            refuse("its header section is longer than " + std::to_string(m_limits.maximumHeaderBytes) + " bytes");
        } else if (!inHead && length > kLongestChunkLine) {
            refuse("a chunk's size line is longer than " + std::to_string(kLongestChunkLine) + " bytes");
        } else if (newline == std::string_view::npos) {
            m_line.append(piece);
        } else {
            m_line.append(piece);
            std::string line = std::move(m_line);
            m_line.clear();
            if (inHead) {
                m_headerBytes += line.size();
                if (++m_headerLines > m_limits.maximumHeaderLines) {
                    refuse("its header section has more than " + std::to_string(m_limits.maximumHeaderLines) +
                           " lines");
                    continue;
                }
            }
            line.pop_back();
            if (line.ends_with('\r'))
                line.pop_back();
            takeLine(line);
        }
    }
    return m_state;
}

HttpResponseReader::State HttpResponseReader::closed()
{
    if (m_state != State::Reading)
        return m_state;
    switch (m_part) {
    case Part::BodyToClose:
        m_state = State::Done;
        break;
    case Part::StatusLine:
        refuse(m_line.empty() && m_headerLines == 0 ? "the server closed the connection without an answer"
                                                    : "the connection closed before the header section ended");
        break;
    case Part::Headers:
        refuse("the connection closed before the header section ended");
        break;
    case Part::Body:
        refuse("the connection closed after " + std::to_string(m_body.size()) + " of the " +
               std::to_string(m_announced) + " bytes announced");
        break;
    default:
        refuse("the connection closed inside the chunked body, after " + std::to_string(m_body.size()) + " bytes");
    }
    return m_state;
}

void HttpResponseReader::takeLine(std::string_view line)
{
    switch (m_part) {
    case Part::StatusLine: {
        // "HTTP/1.x 200 OK": the version's minor digit and the reason are not read.
        const bool http = line.size() >= 12 && line.starts_with("HTTP/1.") && isDigit(line[7]) && line[8] == ' ' &&
                          isDigit(line[9]) && isDigit(line[10]) && isDigit(line[11]) &&
                          (line.size() == 12 || line[12] == ' ');
        m_status = http ? (line[9] - '0') * 100 + (line[10] - '0') * 10 + (line[11] - '0') : 0;
        if (m_status < 100 || m_status > 599)
            refuse("its status line is not HTTP/1: \"" + printable(line, 64) + "\"");
        else
            m_part = Part::Headers;
        break;
    }
    case Part::Headers:
        if (line.empty())
            headEnded();
        else
            takeHeader(line);
        break;
    case Part::ChunkSize: {
        const std::string_view size = trimmed(line.substr(0, line.find(';')));
        const std::optional<std::uint64_t> bytes = numberOf(size, 16);
        if (!bytes)
            refuse("a chunk's size is not a hex number: \"" + printable(line, 64) + "\"");
        else if (*bytes == 0)
            m_part = Part::Trailers;
        else if (*bytes > m_limits.maximumBodyBytes - m_body.size())
            refuse(tooLarge(m_body.size() + *bytes, m_limits.maximumBodyBytes) + " (and more was coming)");
        else {
            m_left = *bytes;
            m_part = Part::Chunk;
        }
        break;
    }
    case Part::ChunkEnd:
        if (!line.empty())
            refuse("a chunk runs on past its size");
        else
            m_part = Part::ChunkSize;
        break;
    case Part::Trailers:
        if (line.empty())
            m_state = State::Done;
        break;
    default:
        break;
    }
}

void HttpResponseReader::takeHeader(std::string_view line)
{
    // A line folded onto the one before, or one without a name, says nothing that is read here.
    const std::size_t colon = line.find(':');
    if (line.front() == ' ' || line.front() == '\t' || colon == std::string_view::npos)
        return;
    const std::string_view name = trimmed(line.substr(0, colon));
    const std::string_view value = trimmed(line.substr(colon + 1));
    if (sameNoCase(name, "Location") && m_location.empty()) {
        m_location = value;
    } else if (sameNoCase(name, "Content-Length")) {
        m_length.append(m_length.empty() ? "" : ",").append(value);
    } else if (sameNoCase(name, "Transfer-Encoding")) {
        m_hasCoding = true;
        const std::size_t comma = value.rfind(',');
        m_chunked = sameNoCase(trimmed(comma == std::string_view::npos ? value : value.substr(comma + 1)), "chunked");
    }
}

void HttpResponseReader::headEnded()
{
    if (m_status < 200) { // an interim answer: the real one follows
        m_part = Part::StatusLine;
        m_location.clear();
        m_length.clear();
        m_hasCoding = m_chunked = false;
        return;
    }
    if (m_status >= 300 || m_status == 204 || m_status == 205) {
        m_state = State::Done;
        return;
    }
    if (m_chunked) {
        m_part = Part::ChunkSize;
        return;
    }
    if (m_hasCoding || m_length.empty()) {
        m_part = Part::BodyToClose;
        return;
    }
    // Content-Length may come more than once, or as a list, as long as it says one number.
    std::optional<std::uint64_t> length;
    for (std::string_view rest = m_length;;) {
        const std::size_t comma = rest.find(',');
        const std::optional<std::uint64_t> one = numberOf(trimmed(rest.substr(0, comma)), 10);
        if (!one || (length && *one != *length)) {
            length.reset();
            break;
        }
        length = one;
        if (comma == std::string_view::npos)
            break;
        rest.remove_prefix(comma + 1);
    }
    if (!length)
        refuse("its Content-Length is not one number: \"" + printable(m_length, 64) + "\"");
    else if (*length > m_limits.maximumBodyBytes)
        refuse(tooLarge(*length, m_limits.maximumBodyBytes));
    else if (*length == 0)
        m_state = State::Done;
    else {
        m_body.reserve(static_cast<std::size_t>(*length));
        m_announced = m_left = *length;
        m_part = Part::Body;
    }
}

void HttpResponseReader::takeBodyBytes(std::string_view bytes)
{
    if (m_body.size() + bytes.size() > m_limits.maximumBodyBytes) {
        refuse(tooLarge(m_body.size() + bytes.size(), m_limits.maximumBodyBytes) + " (and more was coming)");
        return;
    }
    m_body.insert(m_body.end(), bytes.begin(), bytes.end());
}

void HttpResponseReader::refuse(std::string reason)
{
    m_state = State::Refused;
    m_refusal = std::move(reason);
    m_body.clear();
    m_line.clear();
}

} // namespace glowcast
