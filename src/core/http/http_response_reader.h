#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace glowcast {

struct HttpResponseLimits {
    // A header section past either is refused: a server may send one that never ends.
    std::size_t maximumHeaderBytes = 64 * 1024;
    int maximumHeaderLines = 100;
    std::size_t maximumBodyBytes = std::size_t{32} << 20;
};

// Reads one HTTP/1 response to a GET from the bytes as they arrive, holding no more than the limits
// allow: the status line, the header section (capped in bytes and lines, counted as they come, the
// status line and the empty line included; interim 1xx answers and a chunked body's trailers count
// too), then the body framed by chunked transfer coding, by Content-Length (one larger than allowed
// is refused before its body), or by the connection's close. Only a 2xx answer's body is read: any
// other answer is done with its header section. Whatever the input, the reader ends Done or Refused
// with a reason for the log, once it is told that the connection closed.
class HttpResponseReader {
public:
    enum class State { Reading, Done, Refused };

    explicit HttpResponseReader(HttpResponseLimits limits = {});

    // The next bytes from the connection; the bytes past a done answer are not read.
    State take(std::string_view bytes);
    // The connection closed: a body read to the close is done; any other answer was cut short.
    State closed();

    [[nodiscard]] State state() const { return m_state; }
    [[nodiscard]] int status() const { return m_status; }
    [[nodiscard]] const std::string& location() const { return m_location; } // as sent, or empty
    [[nodiscard]] const std::string& refusal() const { return m_refusal; }
    [[nodiscard]] std::vector<std::uint8_t> takeBody() { return std::move(m_body); }

private:
    enum class Part { StatusLine, Headers, ChunkSize, Chunk, ChunkEnd, Trailers, Body, BodyToClose };

    void takeLine(std::string_view line);
    void takeHeader(std::string_view line);
    void headEnded();
    void takeBodyBytes(std::string_view bytes);
    void refuse(std::string reason);

    HttpResponseLimits m_limits;
    State m_state = State::Reading;
    Part m_part = Part::StatusLine;
    std::string m_line;            // the line read so far
    std::size_t m_headerBytes = 0; // of whole lines
    int m_headerLines = 0;
    int m_status = 0;
    std::string m_location;
    std::string m_length;     // the Content-Length values, joined with commas
    bool m_hasCoding = false; // a Transfer-Encoding was sent
    bool m_chunked = false;   // its last coding is chunked
    std::uint64_t m_left = 0; // of the body or of the chunk
    std::uint64_t m_announced = 0;
    std::vector<std::uint8_t> m_body;
    std::string m_refusal;
};

} // namespace glowcast
