#include "core/http/http_response_reader.h"
#include "core/http/http_url.h"

#include <gtest/gtest.h>

#include <tuple>

namespace glowcast {
namespace {

// An answer's bytes, whether the connection closes after them, and what is read: the status and body
// (and Location) once done, or status 0 and the refusal. 200 bytes and 6 lines of head, 10 of body.
struct AnswerRow {
    const char* name;
    std::string bytes;
    bool closes;
    int status;
    std::string bodyOrRefusal;
    std::string location = {};
};

std::tuple<int, std::string, std::string> readInPieces(const AnswerRow& row, std::size_t piece)
{
    HttpResponseReader reader{{200, 6, 10}};
    for (std::size_t at = 0; at < row.bytes.size(); at += piece)
        reader.take(std::string_view{row.bytes}.substr(at, piece));
    if (row.closes)
        reader.closed();
    if (reader.state() == HttpResponseReader::State::Refused)
        return {0, reader.refusal(), {}};
    const std::vector<std::uint8_t> body = reader.takeBody();
    return {reader.state() == HttpResponseReader::State::Done ? reader.status() : -1,
            std::string(body.begin(), body.end()), reader.location()};
}

TEST(HttpResponseReaderTest, ReadsEachFramingAndRefusesWhatBreaksItsCapsOrItsForm)
{
    const std::string head = "HTTP/1.1 200 OK\r\n";
    const std::string tooLarge = "it holds 11 bytes, more than the 10 bytes allowed";
    const AnswerRow rows[] = {
        {"length", head + "Content-Length: 5\r\n\r\nhelloEXTRA", false, 200, "hello"},
        {"repeated length", head + "Content-Length: 2, 2\r\ncontent-length:2\r\n\r\nhi", false, 200, "hi"},
        {"chunked over length",
         head + "Transfer-Encoding: gzip, Chunked\r\nContent-Length: 99\r\n\r\n3;x=y\r\nabc\r\n"
                "7\r\ndefghij\r\n0\r\nTrailer: t\r\n\r\n",
         false, 200, "abcdefghij"},
        {"to the close, bare LF", "HTTP/1.0 200 OK\nX: y\n\nbody", true, 200, "body"},
        {"coded, not chunked", head + "Transfer-Encoding: gzip\r\nContent-Length: 1\r\n\r\nab", true, 200, "ab"},
        {"status 299, no reason", "HTTP/1.1 299\r\n\r\nx", true, 299, "x"},
        {"interim answer", "HTTP/1.1 100 Continue\r\n\r\n" + head + "Content-Length: 1\r\n\r\nx", false, 200, "x"},
        {"redirect, body unread",
         "HTTP/1.1 302 Found\r\nX: y\r\n Location: /folded\r\nlocation:  /b \r\nLocation: /c\r\n\r\nmore", false, 302,
         "", "/b"},
        {"no content", "HTTP/1.1 204 No Content\r\n\r\n", false, 204, ""},
        {"lengths differ", head + "Content-Length: 5, 6\r\n\r\n", false, 0,
         R"(its Content-Length is not one number: "5, 6")"},
        {"negative length", head + "Content-Length: -1\r\n\r\n", false, 0,
         R"(its Content-Length is not one number: "-1")"},
        {"length over the cap", head + "Content-Length: 11\r\n\r\n", false, 0, tooLarge},
        {"close over the cap", head + "\r\n0123456789abc", false, 0, tooLarge + " (and more was coming)"},
        {"chunk over the cap", head + "Transfer-Encoding: chunked\r\n\r\n10\r\n", false, 0,
         "it holds 16 bytes, more than the 10 bytes allowed (and more was coming)"},
        {"chunk size not hex", head + "Transfer-Encoding: chunked\r\n\r\n0x3\r\n", false, 0,
         R"(a chunk's size is not a hex number: "0x3")"},
        {"chunk size past 64 bits", head + "Transfer-Encoding: chunked\r\n\r\n10000000000000000\r\n", false, 0,
         R"(a chunk's size is not a hex number: "10000000000000000")"},
        {"endless chunk line", head + "Transfer-Encoding: chunked\r\n\r\n" + std::string(1025, '1'), false, 0,
         "a chunk's size line is longer than 1024 bytes"},
        {"chunk runs on", head + "Transfer-Encoding: chunked\r\n\r\n1\r\nab\r\n", false, 0,
         "a chunk runs on past its size"},
        {"seven lines", head + "A: 1\r\nB: 2\r\nC: 3\r\nD: 4\r\nE: 5\r\nF: 6\r\n", false, 0,
         "its header section has more than 6 lines"},
        {"unfinished long line", head + "X: " + std::string(190, 'y'), false, 0,
         "its header section is longer than 200 bytes"},
        {"not HTTP", "SSH-2.0-x\r\n", false, 0, R"(its status line is not HTTP/1: "SSH-2.0-x")"},
        {"status not digits", "HTTP/1.1 2:0 OK\r\n", false, 0, R"(its status line is not HTTP/1: "HTTP/1.1 2:0 OK")"},
        {"status 700", "HTTP/1.1 700 Odd\r\n", false, 0, R"(its status line is not HTTP/1: "HTTP/1.1 700 Odd")"},
        {"nothing", "", true, 0, "the server closed the connection without an answer"},
        {"closed in the head", head + "Content-Le", true, 0, "the connection closed before the header section ended"},
        {"closed in the body", head + "Content-Length: 5\r\n\r\nab", true, 0,
         "the connection closed after 2 of the 5 bytes announced"},
        {"closed in a chunk", head + "Transfer-Encoding: chunked\r\n\r\n5\r\nabc", true, 0,
         "the connection closed inside the chunked body, after 3 bytes"},
        {"unfinished", head + "Content-Length: 5\r\n\r\nab", false, -1, "ab"},
    };
    for (const AnswerRow& row : rows) {
        SCOPED_TRACE(row.name);
        const auto whole = readInPieces(row, row.bytes.size() + 1);
        EXPECT_EQ(whole, std::make_tuple(row.status, row.bodyOrRefusal, row.location));
        EXPECT_EQ(readInPieces(row, 1), whole) << "byte by byte";
    }
}

TEST(HttpUrlTest, ResolvesRedirectsAsABrowserAndFollowsOnlyHttpAndNeverDownToIt)
{
    const std::pair<const char*, RedirectStep> rows[] = {
        {"/x", {"http://h/x", ""}},
        {"c", {"http://h/a/c", ""}},
        {"../../../c?d#f", {"http://h/c?d", ""}},
        {"?z", {"http://h/a/b?z", ""}},
        {"", {"http://h/a/b?q", ""}},
        {"//other:8080/p", {"http://other:8080/p", ""}},
        {"HTTPS://H2/./p/..", {"https://H2/", ""}},
        {"file:///etc/hostname", {"", "redirected from http to file, which is not followed"}},
    };
    for (const auto& [location, step] : rows)
        EXPECT_EQ(redirectStep("http://h/a/b?q#f", location), step) << location;
    EXPECT_EQ(redirectStep("HTTPS://h/", "http://h/").refusal, "redirected from https to http, which is not followed");
    EXPECT_EQ(redirectStep("https://h/a", "b").url, "https://h/b");
}

TEST(HttpUrlTest, AsksForThePathAndQueryEscapedAndRefusesUsersAndBadHosts)
{
    const std::string rest = "\r\nUser-Agent: Glowcast\r\nAccept: */*\r\nConnection: close\r\n\r\n";
    EXPECT_EQ(
        readHttpUrl("HTTP://[::1]/a b\x7f\xC3\xA9?c\"#d"),
        (HttpUrlReading{HttpUrl{false, "::1", 80, "GET /a%20b%7F%C3%A9?c%22 HTTP/1.1\r\nHost: [::1]" + rest}, ""}));
    EXPECT_EQ(readHttpUrl("https://h:8443"),
              (HttpUrlReading{HttpUrl{true, "h", 8443, "GET / HTTP/1.1\r\nHost: h:8443" + rest}, ""}));
    EXPECT_EQ(readHttpUrl("https://h:443"), readHttpUrl("https://h")) << "the scheme's own port, and no Host port";
    EXPECT_EQ(readHttpUrl("https://u:p@h/").refusal, "the URL names a user, and no user is sent");
    EXPECT_EQ(readHttpUrl("http://h:0/").refusal, R"(the URL's host "h:0" is not a host name or address)");
    EXPECT_EQ(readHttpUrl("ftp://h/").refusal, R"("ftp://h/" is not an http or https URL)");
}

} // namespace
} // namespace glowcast
