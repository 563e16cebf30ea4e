#include "adapters/process/console_prompts.h"
#include "adapters/process/portal_host.h"
#include "adapters/qt/qt_http_transport.h"
#include "support/canned_http_server.h"
#include "support/recording_log.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace glowcast {
namespace {

using namespace std::chrono_literals;

// What a GET comes to by the recipe every HTTP client shares, with a cap of 8 bytes: "STATUS BODY",
// with " retry N" when the server asks for a wait, or the line saying why there is no reply.
std::string outcomeText(const std::string& address)
{
    RecordingLog log;
    QtHttpTransport http{log, {300ms, 8}};
    const std::optional<HttpReply> reply = http.exchange({HttpMethod::Get, address + "/api", "", 30s});
    if (!reply)
        return log.lines.empty() ? "" : log.lines.back().substr(("HTTP GET " + address + "/api: ").size());
    return std::to_string(reply->status) + " " + reply->body +
           (reply->retryAfter ? " retry " + std::to_string(reply->retryAfter->count()) : "");
}

TEST(HttpRecipeTest, AFinishedExchangeIsTheServersReplyOrWhyThereIsNone)
{
    const std::pair<QByteArray, std::string> rows[] = {
        {"HTTP/1.1 500 Internal Server Error\r\nContent-Length: 4\r\n\r\nbusy", "500 busy"},
        {"HTTP/1.1 503 Service Unavailable\r\nRetry-After: 3\r\nContent-Length: 0\r\n\r\n", "503  retry 3"},
        {"HTTP/1.1 302 Found\r\nLocation: http://elsewhere.invalid/\r\nContent-Length: 2\r\n\r\nno", "302 no"},
        {"HTTP/1.1 200 OK\r\nContent-Length: 8\r\n\r\nabcdefg\xFF",
         "200 abcdefg\xEF\xBF\xBD"}, // just at the cap, the invalid byte replaced
        {"HTTP/1.1 200 OK\r\nContent-Length: 50000000\r\n\r\n[", "a reply larger than 8 bytes, dropped"},
        {"HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n123456789", "a reply larger than 8 bytes, dropped"},
    };
    for (const auto& [answer, outcome] : rows)
        EXPECT_EQ(outcomeText(testing::CannedHttpServer{answer}.address()), outcome) << answer.toStdString();
    QTcpServer silent;
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost));
    EXPECT_EQ(outcomeText("http://127.0.0.1:" + std::to_string(silent.serverPort())), "no reply within 300 ms");
    EXPECT_EQ(outcomeText("http://127.0.0.1:1"), "no answer (Connection refused)");
}

TEST(PortalHostTest, ReadsHostOrHostAndPortAndIgnoresBlankValues)
{
    const std::pair<const char*, std::optional<std::string>> rows[] = {{nullptr, std::nullopt},
                                                                       {"", std::nullopt},
                                                                       {" \t\n", std::nullopt},
                                                                       {"portal.example.org", "portal.example.org"},
                                                                       {" 127.0.0.1:8080\n", "127.0.0.1:8080"}};
    for (const auto& [value, host] : rows) {
        value != nullptr ? setenv("GLOWCAST_PORTAL", value, 1) : unsetenv("GLOWCAST_PORTAL");
        EXPECT_EQ(portalHostFromEnvironment(), host) << (value != nullptr ? value : "unset");
    }
    unsetenv("GLOWCAST_PORTAL");
}

TEST(ConsolePromptsTest, LinkButtonPromptShowsOneLineWithADotPerAttempt)
{
    char* written = nullptr;
    std::size_t size = 0;
    std::FILE* out = open_memstream(&written, &size);
    ASSERT_NE(out, nullptr);
    ConsoleLinkButtonPrompt window{out};
    window.end();
    window.begin("10.0.0.2");
    window.attempt();
    window.attempt();
    window.end();
    window.attempt();
    std::fclose(out);
    EXPECT_EQ(std::string(written, size), "Press the link button on your lighting bridge now; waiting for it ..\n");
    std::free(written);
}

} // namespace
} // namespace glowcast
