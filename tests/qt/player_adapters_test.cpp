// The media players' adapters on a private session bus: the bus watcher and the cover reader with
// the core's follower between them, against players of the tests' own and a web server on loopback.

#include "adapters/covers/cover_file_decoder.h"
#include "adapters/dbus/mpris_watcher.h"
#include "adapters/http/qt_art_fetcher.h"
#include "adapters/process/steady_clock.h"
#include "adapters/qt/qt_timers.h"
#include "core/covers/cover_follower.h"
#include "support/canned_http_server.h"
#include "support/private_session_bus.h"
#include "support/recording_listener.h"
#include "support/recording_log.h"
#include "support/test_player.h"
#include "support/waiting.h"

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <map>

namespace glowcast {
namespace {

using namespace std::chrono_literals;
using testing::TestPlayer;
using Bytes = std::vector<std::uint8_t>;

QByteArray imageBytes(Qt::GlobalColor colour, const char* format)
{
    QImage image(8, 8, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}
const QByteArray kJpeg = imageBytes(Qt::red, "JPEG");
const QByteArray kPng = imageBytes(Qt::blue, "PNG");

// A player that plays a track with the given title and art.
QVariantMap track(const QString& title, const QVariant& art = {})
{
    QVariantMap metadata{{QStringLiteral("xesam:title"), title}};
    if (art.isValid())
        metadata.insert(QStringLiteral("mpris:artUrl"), art);
    return {{QStringLiteral("PlaybackStatus"), QStringLiteral("Playing")}, {QStringLiteral("Metadata"), metadata}};
}

// Answers by path with what it writes at once, and again every 5 ms after when there is more: a
// header section of short or long lines, or a body, that never ends. Any other path is answered
// with the PNG.
class WebServer : public QTcpServer {
public:
    inline static int s_dripping = 0; // connections still written to that the client has not closed
    WebServer() { listen(QHostAddress::LocalHost); }
    QString url(const char* path) const
    {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(serverPort()).arg(QLatin1String(path));
    }

protected:
    void incomingConnection(qintptr handle) override
    {
        auto* socket = new QTcpSocket(this);
        socket->setSocketDescriptor(handle);
        connect(socket, &QTcpSocket::readyRead, socket, [socket] {
            const auto whole = [](const QByteArray& head, const QByteArray& body) {
                return "HTTP/1.1 " + head + "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" +
                       body;
            };
            const std::map<QByteArray, std::pair<QByteArray, QByteArray>> answers{
                {"/silent", {}},
                {"/endless-head", {"HTTP/1.1 200 OK\r\n", QByteArray("X-Filler: 0123456789\r\n").repeated(1000)}},
                {"/long-head", {"HTTP/1.1 200 OK\r\n", ("X-Filler: " + QByteArray(2188, 'y') + "\r\n").repeated(10)}},
                {"/trickle", {"HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n", "x"}},
                {"/loop", {whole("302 Found\r\nLocation: /loop", {}), {}}},
                {"/to-file", {whole("302 Found\r\nLocation: file:///etc/hostname", {}), {}}},
                {"/exact", {whole("200 OK", QByteArray(1 << 20, 'x')), {}}},
                {"/page", {whole("200 OK\r\nContent-Type: text/html", "<html>hello</html>"), {}}}};
            const auto found = answers.find(socket->readAll().split(' ').value(1));
            const auto [first, more] = found != answers.end()
                                           ? found->second
                                           : std::pair{whole("200 OK\r\nContent-Type: image/png", kPng), QByteArray()};
            socket->write(first);
            if (more.isEmpty())
                return;
            ++s_dripping;
            connect(socket, &QTcpSocket::disconnected, socket, [] { --s_dripping; });
            auto* drip = new QTimer(socket);
            connect(drip, &QTimer::timeout, socket, [socket, more] { socket->write(more); });
            drip->start(5);
        });
    }
};

class PlayerAdaptersTest : public ::testing::Test, public CoverSink {
protected:
    void coverChanged(Bytes bytes, SteadyTime /*heard*/) override
    {
        sent.emplace_back(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    }
    bool sentEventually(const std::vector<QByteArray>& expected)
    {
        return testing::waitFor([&] { return sent == expected; });
    }
    bool follows(const char* name)
    {
        return testing::waitFor(
            [&] { return follower.status().busName == std::string{"org.mpris.MediaPlayer2."} + name; });
    }

    testing::PrivateSessionBus bus;
    QTemporaryDir files;
    RecordingLog log;
    QtArtFetcher fetcher{{std::size_t{1} << 20, 300ms, 1000ms, 5}};
    CoverFileSniffer sniffer{log};
    QtTimerScheduler timer;
    std::vector<QByteArray> sent;
    SteadyClock clock;
    CoverFollower follower{{}, fetcher, sniffer, *this, timer, clock, log};
    inline static int s_connections = 0; // a name once used stays taken in this process
    QDBusConnection connection =
        QDBusConnection::connectToBus(bus.address(), QStringLiteral("glowcast-%1").arg(++s_connections));
    MprisWatcher watcher{follower, log, connection};
};

TEST_F(PlayerAdaptersTest, FollowsLateArtARelabelledDataUriAndTwoPlayersTakingTurns)
{
    TestPlayer first(bus.address(), QStringLiteral("first"), track(QStringLiteral("One")));
    ASSERT_TRUE(watcher.start());
    ASSERT_TRUE(follows("first"));
    EXPECT_EQ(
        log.count("players: org.mpris.MediaPlayer2.first publishes no cover for \"One\"; the lamps stay as they are"),
        1);
    first.publish(
        track(QStringLiteral("One"), QStringLiteral("data:image/png;base64,") + QString::fromLatin1(kJpeg.toBase64())));
    ASSERT_TRUE(sentEventually({kJpeg}));

    {
        const QString late = files.filePath(QStringLiteral("late cover"));
        const QString url = QStringLiteral("file://") + QString(late).replace(u' ', QStringLiteral("%20"));
        TestPlayer second(bus.address(), QStringLiteral("second"), track(QStringLiteral("Two"), url));
        ASSERT_TRUE(follows("second"));
        const std::string missed = "players: org.mpris.MediaPlayer2.second: the cover " + url.toStdString() +
                                   " is not there yet; looking again for up to 2 s";
        ASSERT_TRUE(testing::waitFor([&] { return log.count(missed) == 1; }));
        QFile file(late); // the file appears while the follower looks again
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(kPng) == kPng.size());
        file.close();
        ASSERT_TRUE(sentEventually({kJpeg, kPng}));
    } // the second player quits: back to the first, and its cover
    ASSERT_TRUE(follows("first"));
    EXPECT_TRUE(sentEventually({kJpeg, kPng, kJpeg}));
}

// The art URL the bad player publishes ("%1" stands for a folder with a file of 2 MiB, "%2"
// for the web server), or what else it does, and the log line that must follow, whole: after
// "players: org.mpris.MediaPlayer2.bad: the cover " and before "; the lamps stay as they are"
// unless it starts with "players: ".
struct BadCase {
    const char* name;
    const char* art;
    const char* logged;
    std::function<void(TestPlayer&)> act = {};
    friend void PrintTo(const BadCase& row, std::ostream* out) { *out << row.name; }
};

class BadInputTest : public PlayerAdaptersTest, public ::testing::WithParamInterface<BadCase> {};

TEST_P(BadInputTest, IsLoggedAndTheNextGoodCoverStillWorks)
{
    WebServer web;
    QFile big(files.filePath(QStringLiteral("big")));
    ASSERT_TRUE(big.open(QIODevice::WriteOnly) && big.resize(qint64{2} << 20));
    TestPlayer player(bus.address(), QStringLiteral("bad"), track(QStringLiteral("Zero")));
    ASSERT_TRUE(watcher.start());
    ASSERT_TRUE(follows("bad"));
    const auto placed = [&](const QString& text) {
        return QString(text).replace(QStringLiteral("%1"), files.path()).replace(QStringLiteral("%2"), web.url(""));
    };
    player.publish(track(QStringLiteral("Bad"), placed(QString::fromUtf8(GetParam().art))));
    if (GetParam().act)
        GetParam().act(player);
    const QString logged = QString::fromUtf8(GetParam().logged);
    const std::string line = placed(logged.startsWith(QStringLiteral("players: "))
                                        ? logged
                                        : QStringLiteral("players: org.mpris.MediaPlayer2.bad: the cover ") + logged +
                                              QStringLiteral("; the lamps stay as they are"))
                                 .toStdString();
    EXPECT_TRUE(testing::waitFor([&] { return log.count(line) == 1; })) << ::testing::PrintToString(log.lines);
    TestPlayer good(bus.address(), QStringLiteral("good"), track(QStringLiteral("Good"), web.url("/cover")));
    EXPECT_TRUE(sentEventually({kPng}));
    EXPECT_TRUE(testing::waitFor([] { return WebServer::s_dripping == 0; })) << "a given-up connection is closed";
}

INSTANTIATE_TEST_SUITE_P(
    Players, BadInputTest,
    ::testing::Values(
        BadCase{"LargeFile", "file://%1/big",
                "file://%1/big could not be read: it holds 2097152 bytes, more than the 1048576 bytes allowed"},
        BadCase{"SilentServer", "%2/silent", "%2/silent could not be read: no byte within 300 ms"},
        BadCase{"EndlessHeaderSection", "%2/endless-head",
                "%2/endless-head could not be read: its header section has more than 100 lines"},
        BadCase{"LongHeaderLines", "%2/long-head",
                "%2/long-head could not be read: its header section is longer than 65536 bytes"},
        BadCase{"TricklingServer", "%2/trickle", "%2/trickle could not be read: no whole answer within 1000 ms"},
        BadCase{"EndlessRedirects", "%2/loop", "%2/loop could not be read: redirected more than 5 times"},
        BadCase{"RedirectToAFile", "%2/to-file",
                "%2/to-file could not be read: redirected from http to file, which is not followed"},
        BadCase{"WebPage", "%2/page", "%2/page is not an image (18 bytes)"},
        BadCase{"AtTheLimit", "%2/exact", "%2/exact is not an image (1048576 bytes)"},
        BadCase{"WrongTypes", "",
                "players: org.mpris.MediaPlayer2.bad sent a PropertiesChanged with the arguments (si), not "
                "(sa{sv}as); ignored",
                [](TestPlayer& p) {
                    p.publish(track(QStringLiteral("Bad"), QStringList{QStringLiteral("file:///x")}));
                    p.publish({{QStringLiteral("Metadata"), 42}, {QStringLiteral("PlaybackStatus"), 7}});
                    p.send({QStringLiteral("org.mpris.MediaPlayer2.Player"), 1});
                }},
        BadCase{"HugeStringsAndAFlood", "", "x is not read: the art URL has no scheme",
                [](TestPlayer& p) {
                    p.publish(track(QString(4 << 20, u'x'), QString(4 << 20, u'x')));
                    for (int i = 0; i < 2000; ++i) // the same again and again: read once
                        p.publish(track(QStringLiteral("Bad"), QStringLiteral("x")));
                }},
        BadCase{"QuitsMidFetch", "%2/silent", "players: no player to follow",
                [](TestPlayer& p) { p.connection().unregisterService(QStringLiteral("org.mpris.MediaPlayer2.bad")); }}),
    [](const auto& row) { return std::string{row.param.name}; });

// https: the server's certificate checked against the CAs, an answer read to the server's close, and no
// redirect down to http.
TEST(ArtFetcherTest, HttpsChecksTheCertificateReadsToTheCloseAndNeverRedirectsToHttp)
{
    QTemporaryDir folder;
    const std::optional<QSslConfiguration> tls = testing::selfSignedTls(folder.path());
    ASSERT_TRUE(tls);
    testing::CannedHttpServer cover{"HTTP/1.1 200 OK\r\n\r\n" + kPng, *tls};
    testing::CannedHttpServer down{"HTTP/1.1 302 Found\r\nLocation: http://127.0.0.1:1/\r\n\r\n", *tls};
    QtArtFetcher fetcher;
    const auto fetched = [&](const testing::CannedHttpServer& server) {
        return testing::answerOf<ArtFetchResult>([&](auto done) { fetcher.download(server.address(), done); })
            .value_or(ArtFetchResult{});
    };
    EXPECT_EQ(fetched(cover).reason, "The certificate is self-signed, and untrusted");
    QSslConfiguration trusting = QSslConfiguration::defaultConfiguration();
    trusting.addCaCertificates(folder.filePath(QStringLiteral("cert.pem")));
    QSslConfiguration::setDefaultConfiguration(trusting);
    EXPECT_EQ(fetched(cover), (ArtFetchResult{ArtFetchResult::Kind::Bytes, Bytes(kPng.begin(), kPng.end()), {}}));
    EXPECT_EQ(fetched(down).reason, "redirected from https to http, which is not followed");
}

} // namespace
} // namespace glowcast
