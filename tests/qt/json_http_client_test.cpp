// The HTTP side of the lamp systems that speak JSON: what a request carries, and the answers that are
// no answer (a redirect, a reply over the cap, nobody listening, a CA file that holds no certificate),
// and https to a self-signed server: answered with its certificate pinned, refused without.

#include "adapters/http/json_http_client.h"
#include "support/canned_http_server.h"
#include "support/recording_log.h"
#include "support/waiting.h"

#include <gtest/gtest.h>

#include <QProcess>
#include <QSslKey>
#include <QSslServer>
#include <QSslSocket>
#include <QTemporaryDir>
#include <QUuid>

namespace glowcast {
namespace {

using testing::CannedHttpServer;
using testing::waitFor;

const std::string kToken = "SECRET-" + QUuid::createUuid().toString(QUuid::Id128).toStdString();

JsonHttpResult callOnce(JsonHttpClient& client, const JsonHttpCall& call)
{
    std::optional<JsonHttpResult> result;
    client.call(call, [&](JsonHttpResult told) { result = std::move(told); });
    EXPECT_TRUE(waitFor([&] { return result.has_value(); }, 10'000));
    return result.value_or(JsonHttpResult{});
}

TEST(JsonHttpClientTest, PostsJsonWithItsHeaderFieldsAndLogsNeitherBodyNorToken)
{
    CannedHttpServer server{"HTTP/1.1 401 Unauthorized\r\nContent-Length: 17\r\n\r\n401: Unauthorized"};
    RecordingLog log;
    JsonHttpClient client{{server.address(), "lamp system ha: ", std::nullopt}, log};
    const JsonHttpResult result = callOnce(client, {JsonHttpCall::Method::Post,
                                                    "/api/services/light/turn_on",
                                                    R"({"entity_id":"light.a"})",
                                                    {{"Authorization", "Bearer " + kToken}}});
    ASSERT_TRUE(result.answer);
    EXPECT_EQ(result.answer->status, 401);
    EXPECT_EQ(result.answer->body, "401: Unauthorized");
    ASSERT_EQ(server.heads.size(), 1u);
    const std::string& head = server.heads.front();
    EXPECT_TRUE(head.starts_with("POST /api/services/light/turn_on HTTP/1.1\r\n")) << head;
    EXPECT_NE(head.find("\r\nAuthorization: Bearer " + kToken), std::string::npos) << head;
    EXPECT_NE(head.find("\r\nContent-Type: application/json"), std::string::npos) << head;
    EXPECT_TRUE(log.lines.empty());
}

TEST(JsonHttpClientTest, AnswersThatAreNoAnswerAreLoggedWithoutTheToken)
{
    struct Row {
        const char* name;
        QByteArray answer;
        std::string failure;
    };
    const std::string big(3000, 'x');
    const std::vector<Row> rows{
        {"redirect to another host",
         "HTTP/1.1 302 Found\r\nLocation: http://elsewhere.example/api/states\r\nContent-Length: 0\r\n\r\n",
         "GET /api/states: redirected to http://elsewhere.example/api/states; not followed"},
        {"50 MB announced", "HTTP/1.1 200 OK\r\nContent-Length: 50000000\r\n\r\n[",
         "GET /api/states: a reply larger than 2048 bytes"},
        {"over the cap unannounced", QByteArray::fromStdString("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + big),
         "GET /api/states: a reply larger than 2048 bytes"},
    };
    for (const Row& row : rows) {
        CannedHttpServer server{row.answer};
        RecordingLog log;
        JsonHttpClient client{{server.address(), "lamp system ha: ", std::nullopt}, log};
        JsonHttpCall call{JsonHttpCall::Method::Get, "/api/states", {}, {{"Authorization", "Bearer " + kToken}}, 2048};
        const JsonHttpResult result = callOnce(client, call);
        EXPECT_FALSE(result.answer) << row.name;
        EXPECT_EQ(log.lines, std::vector<std::string>{"lamp system ha: " + row.failure}) << row.name;
        EXPECT_EQ(server.heads.size(), 1u) << row.name;
    }
}

TEST(JsonHttpClientTest, NobodyListeningAndAnUnusableCaFileGiveNoAnswer)
{
    RecordingLog log;
    JsonHttpClient closed{{"http://127.0.0.1:1", "ha: ", std::nullopt}, log};
    EXPECT_EQ(callOnce(closed, {}).failure, "no answer (Connection refused)");
    JsonHttpClient pinned{{"https://127.0.0.1:1", "ha: ", std::filesystem::path{"/proc/self"}}, log};
    EXPECT_EQ(callOnce(pinned, {}).failure, "the CA file /proc/self: it is a directory, not a regular file");
}

TEST(JsonHttpClientTest, HttpsIsAnsweredWithTheCaPinnedAndRefusedWithTheSystemStore)
{
    // A throw-away self-signed certificate for 127.0.0.1, made here and now.
    QTemporaryDir dir;
    const QString cert = dir.filePath(QStringLiteral("cert.pem"));
    const QString key = dir.filePath(QStringLiteral("key.pem"));
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
                  {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                   QStringLiteral("rsa:2048"), QStringLiteral("-nodes"), QStringLiteral("-days"), QStringLiteral("1"),
                   QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1"), QStringLiteral("-addext"),
                   QStringLiteral("subjectAltName=IP:127.0.0.1"), QStringLiteral("-keyout"), key,
                   QStringLiteral("-out"), cert});
    ASSERT_TRUE(openssl.waitForFinished(30'000) && openssl.exitCode() == 0) << openssl.readAllStandardError().data();
    QFile certFile(cert);
    QFile keyFile(key);
    ASSERT_TRUE(certFile.open(QIODevice::ReadOnly) && keyFile.open(QIODevice::ReadOnly));

    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setLocalCertificate(QSslCertificate(certFile.readAll(), QSsl::Pem));
    tls.setPrivateKey(QSslKey(keyFile.readAll(), QSsl::Rsa, QSsl::Pem));
    QSslServer server;
    server.setSslConfiguration(tls);
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
    QObject::connect(&server, &QTcpServer::pendingConnectionAvailable, &server, [&server] {
        while (QTcpSocket* socket = server.nextPendingConnection()) {
            const auto answer = [socket] {
                if (!socket->readAll().contains("\r\n\r\n"))
                    return;
                socket->write("HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\n[]");
                socket->disconnectFromHost();
            };
            QObject::connect(socket, &QTcpSocket::readyRead, socket, answer);
            QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            if (socket->bytesAvailable() > 0)
                answer();
        }
    });
    const std::string address = "https://127.0.0.1:" + std::to_string(server.serverPort());

    JsonHttpCall call;
    call.path = "/";
    RecordingLog log;
    JsonHttpClient pinned{{address, "ha: ", std::filesystem::path{cert.toStdString()}}, log};
    const JsonHttpResult answered = callOnce(pinned, call);
    ASSERT_TRUE(answered.answer) << answered.failure;
    EXPECT_EQ(answered.answer->body, "[]");
    EXPECT_TRUE(log.lines.empty());

    JsonHttpClient store{{address, "ha: ", std::nullopt}, log};
    const JsonHttpResult refused = callOnce(store, call);
    EXPECT_FALSE(refused.answer);
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_TRUE(log.lines.front().starts_with("ha: GET /: its certificate is not trusted (")) << log.lines.front();
}

} // namespace
} // namespace glowcast
