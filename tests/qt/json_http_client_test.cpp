// The HTTP side of the lamp systems that speak JSON: what a request carries, a redirect refused, and
// https to a self-signed server: answered with its certificate pinned, refused without.

#include "adapters/http/json_http_client.h"
#include "support/canned_http_server.h"
#include "support/recording_listener.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <QUuid>

namespace glowcast {
namespace {

using testing::CannedHttpServer;

const std::string kToken = "SECRET-" + QUuid::createUuid().toString(QUuid::Id128).toStdString();

HttpOutcome callOnce(JsonHttpClient& client, const JsonHttpCall& call)
{
    return testing::answerOf<HttpOutcome>([&](auto done) { client.call(call, std::move(done)); })
        .value_or(HttpOutcome{});
}

// The token goes on the wire alone: never to the host a redirect names, nor into the log.
TEST(JsonHttpClientTest, PostsJsonWithTheTokenAndFollowsNoRedirect)
{
    CannedHttpServer server{"HTTP/1.1 302 Found\r\nLocation: http://elsewhere.example/\r\nContent-Length: 0\r\n\r\n"};
    RecordingLog log;
    JsonHttpClient client{{server.address(), "lamp system ha: ", std::nullopt}, log};
    (void)callOnce(client, {HttpMethod::Post, "/api/states", R"({"a":1})", {{"Authorization", "Bearer " + kToken}}});
    EXPECT_EQ(log.lines,
              std::vector<std::string>{
                  "lamp system ha: POST /api/states: redirected to http://elsewhere.example/; not followed"});
    const std::string head = server.heads.empty() ? "" : server.heads.front();
    EXPECT_TRUE(head.starts_with("POST /api/states HTTP/1.1\r\n") &&
                head.find("\r\nAuthorization: Bearer " + kToken) != std::string::npos &&
                head.find("\r\nContent-Type: application/json") != std::string::npos)
        << head;
}

TEST(JsonHttpClientTest, HttpsIsAnsweredWithTheCaPinnedAndNothingWithoutAUsableCaFile)
{
    QTemporaryDir dir;
    const QString cert = dir.filePath(QStringLiteral("cert.pem"));
    const std::optional<QSslConfiguration> tls = testing::selfSignedTls(dir.path());
    ASSERT_TRUE(tls);
    CannedHttpServer server{"HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\n[]", *tls};

    const JsonHttpCall call{HttpMethod::Get, "/", {}, {}};
    RecordingLog log;
    JsonHttpClient pinned{{server.address(), "ha: ", std::filesystem::path{cert.toStdString()}}, log};
    const HttpOutcome answered = callOnce(pinned, call);
    ASSERT_TRUE(answered.reply) << answered.failure;
    EXPECT_EQ(answered.reply->body, "[]");
    JsonHttpClient store{{server.address(), "ha: ", std::nullopt}, log};
    EXPECT_FALSE(callOnce(store, call).reply);
    ASSERT_EQ(log.lines.size(), 1u) << "the pinned call logs nothing";
    EXPECT_TRUE(log.lines.front().starts_with("ha: GET /: its certificate is not trusted (")) << log.lines.front();

    JsonHttpClient unusable{{"https://127.0.0.1:1", "ha: ", std::filesystem::path{"/proc/self"}}, log};
    EXPECT_EQ(callOnce(unusable, {}).failure, "the CA file /proc/self: it is a directory, not a regular file");
}

} // namespace
} // namespace glowcast
