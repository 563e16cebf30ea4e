// The HTTP side of the lamp systems that speak JSON: what a request carries, the answers that are no
// answer (a redirect, a reply over the cap, nobody listening, a CA file that holds no certificate), and
// https to a self-signed server: answered with its certificate pinned, refused without.

#include "adapters/http/json_http_client.h"
#include "support/canned_http_server.h"
#include "support/processes.h"
#include "support/recording_listener.h"

#include <gtest/gtest.h>

#include <QSslKey>
#include <QTemporaryDir>
#include <QUuid>

namespace glowcast {
namespace {

using testing::CannedHttpServer;

const std::string kToken = "SECRET-" + QUuid::createUuid().toString(QUuid::Id128).toStdString();

JsonHttpResult callOnce(JsonHttpClient& client, const JsonHttpCall& call)
{
    return testing::answerOf<JsonHttpResult>([&](auto done) { client.call(call, std::move(done)); })
        .value_or(JsonHttpResult{});
}

// Each row: the server's answer and what the client makes of it: "STATUS BODY", or the failure it logs.
TEST(JsonHttpClientTest, PostsJsonWithTheTokenOnTheWireOnlyAndAnswersThatAreNoAnswerAreLogged)
{
    const std::pair<QByteArray, std::string> rows[] = {
        {"HTTP/1.1 401 Unauthorized\r\nContent-Length: 17\r\n\r\n401: Unauthorized", "401 401: Unauthorized"},
        {"HTTP/1.1 302 Found\r\nLocation: http://elsewhere.example/api/states\r\nContent-Length: 0\r\n\r\n",
         "redirected to http://elsewhere.example/api/states; not followed"},
        {"HTTP/1.1 200 OK\r\nContent-Length: 50000000\r\n\r\n[", "a reply larger than 2048 bytes"},
        {"HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + QByteArray(3000, 'x'), "a reply larger than 2048 bytes"},
    };
    for (const auto& [answer, outcome] : rows) {
        CannedHttpServer server{answer};
        RecordingLog log;
        JsonHttpClient client{{server.address(), "lamp system ha: ", std::nullopt}, log};
        const JsonHttpResult result = callOnce(client, {JsonHttpCall::Method::Post,
                                                        "/api/states",
                                                        R"({"entity_id":"light.a"})",
                                                        {{"Authorization", "Bearer " + kToken}},
                                                        2048});
        EXPECT_EQ(result.answer ? std::to_string(result.answer->status) + " " + result.answer->body : result.failure,
                  outcome);
        EXPECT_EQ(log.lines, result.answer ? std::vector<std::string>{}
                                           : std::vector<std::string>{"lamp system ha: POST /api/states: " + outcome});
        ASSERT_EQ(server.heads.size(), 1u) << outcome;
        const std::string& head = server.heads.front();
        EXPECT_TRUE(head.starts_with("POST /api/states HTTP/1.1\r\n")) << head;
        EXPECT_NE(head.find("\r\nAuthorization: Bearer " + kToken), std::string::npos) << head;
        EXPECT_NE(head.find("\r\nContent-Type: application/json"), std::string::npos) << head;
    }
}

TEST(JsonHttpClientTest, HttpsIsAnsweredWithTheCaPinnedAndNothingWithoutAServerOrAUsableCaFile)
{
    // A throw-away self-signed certificate for 127.0.0.1, made here and now.
    QTemporaryDir dir;
    const QString cert = dir.filePath(QStringLiteral("cert.pem"));
    const QString key = dir.filePath(QStringLiteral("key.pem"));
    ASSERT_EQ(testing::runProgram(QStringLiteral("openssl"),
                                  testing::words("req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1 "
                                                 "-addext subjectAltName=IP:127.0.0.1 -keyout") +
                                      QStringList{key, QStringLiteral("-out"), cert})
                  .exitCode,
              0);
    QFile certFile(cert);
    QFile keyFile(key);
    ASSERT_TRUE(certFile.open(QIODevice::ReadOnly) && keyFile.open(QIODevice::ReadOnly));
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setLocalCertificate(QSslCertificate(certFile.readAll(), QSsl::Pem));
    tls.setPrivateKey(QSslKey(keyFile.readAll(), QSsl::Rsa, QSsl::Pem));
    CannedHttpServer server{"HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\n[]", tls};

    const JsonHttpCall call{JsonHttpCall::Method::Get, "/", {}, {}};
    RecordingLog log;
    JsonHttpClient pinned{{server.address(), "ha: ", std::filesystem::path{cert.toStdString()}}, log};
    const JsonHttpResult answered = callOnce(pinned, call);
    ASSERT_TRUE(answered.answer) << answered.failure;
    EXPECT_EQ(answered.answer->body, "[]");
    EXPECT_TRUE(log.lines.empty());
    JsonHttpClient store{{server.address(), "ha: ", std::nullopt}, log};
    EXPECT_FALSE(callOnce(store, call).answer);
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_TRUE(log.lines.front().starts_with("ha: GET /: its certificate is not trusted (")) << log.lines.front();

    JsonHttpClient closed{{"http://127.0.0.1:1", "ha: ", std::nullopt}, log};
    EXPECT_EQ(callOnce(closed, {}).failure, "no answer (Connection refused)");
    JsonHttpClient unusable{{"https://127.0.0.1:1", "ha: ", std::filesystem::path{"/proc/self"}}, log};
    EXPECT_EQ(callOnce(unusable, {}).failure, "the CA file /proc/self: it is a directory, not a regular file");
}

} // namespace
} // namespace glowcast
