// A media player's new cover end to end, with real processes: glowcast under a private session bus,
// the bridge simulator on loopback, and a player of the tests' own in this process. For 1, 5 and 10
// enabled lamps it times the span from the player's PropertiesChanged (a new track whose art is a
// 3000 x 3000 JPEG file) to the simulator recording the last PUT, both instants on the simulator's
// clock (a marker request goes out just before the signal). Beside it the goal: the cover's analysis
// in this process, one lamp-state round trip per lamp, and 10 ms. Then the program's CPU use while
// three mpv players sit on the bus. Prints Markdown.
//
// With --http the cover comes over http from a server in this process instead of a file, the program
// runs --headless, and the shared libraries it maps are counted after the covers and again after an
// https download was tried. GLOWCAST_BENCH_APP names another build's glowcast, for a before and after.

#include "cover_analysis.h"
#include "measure.h"
#include "support/private_session_bus.h"
#include "support/processes.h"
#include "support/test_player.h"

#include <QDataStream>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSet>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <memory>

namespace {

using namespace glowcast;
using namespace std::chrono_literals;

constexpr int kRuns = 7;

QVariantMap track(const QString& title, const QString& art)
{
    return {{QStringLiteral("PlaybackStatus"), QStringLiteral("Playing")},
            {QStringLiteral("Metadata"),
             QVariantMap{{QStringLiteral("xesam:title"), title}, {QStringLiteral("mpris:artUrl"), art}}}};
}

// Answers every request with the cover of the moment, whole, and closes.
class CoverServer final : public QTcpServer {
public:
    QByteArray cover;
    CoverServer() { listen(QHostAddress::LocalHost); }

protected:
    void incomingConnection(qintptr handle) override
    {
        auto* socket = new QTcpSocket(this);
        socket->setSocketDescriptor(handle);
        connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
            if (!socket->readAll().endsWith("\r\n\r\n"))
                return;
            socket->write("HTTP/1.1 200 OK\r\nContent-Type: image/jpeg\r\nContent-Length: " +
                          QByteArray::number(cover.size()) + "\r\n\r\n" + cover);
            socket->disconnectFromHost();
        });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }
};

// The shared libraries a process maps, each counted once.
qsizetype sharedLibraries(qint64 pid)
{
    QFile maps(QStringLiteral("/proc/%1/maps").arg(pid));
    QSet<QByteArray> paths;
    if (maps.open(QIODevice::ReadOnly))
        for (const QByteArray& line : maps.readAll().split('\n')) {
            const QByteArray path = line.mid(line.indexOf('/'));
            if (line.contains('/') && (path.endsWith(".so") || path.contains(".so.")))
                paths.insert(path);
        }
    return paths.size();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    RecordingLog quiet;
    QtHttpTransport http(quiet);
    const QByteArray cover = bench::photographLikeCover();

    // The goal's parts: the cover's decoding and analysis the way the program does them, and one round trip.
    const std::vector<double> analysis = bench::analysisMilliseconds(cover, kRuns, quiet);
    QTemporaryDir work;
    testing::PrivateSessionBus bus;
    testing::Simulator sim{
        {QStringLiteral("--lamps"), QStringLiteral("10"), QStringLiteral("--user"), QStringLiteral("alice")}};
    if (bus.address().isEmpty() || sim.address.empty()) {
        std::fprintf(stderr, "player_cover_change_bench: no bus or no simulator\n");
        return 1;
    }
    std::vector<double> roundTrips;
    for (int i = 0; i < 20; ++i) {
        QElapsedTimer clock;
        clock.start();
        (void)sim.control(HttpMethod::Put, "/api/alice/lights/1/state", R"({"bri":255,"xy":[0.640,0.330]})");
        roundTrips.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
    }
    const QProcessEnvironment environment = testing::programEnvironment(bus.address(), work.path());
    const bool overHttp = application.arguments().contains(QStringLiteral("--http"));
    const QString program = qEnvironmentVariable("GLOWCAST_BENCH_APP", QStringLiteral(GLOWCAST_APP));
    CoverServer server;

    std::printf("Cover: 3000 x 3000 JPEG %s, %lld bytes. Runs per row: %d after one warm-up (median, min-max).\n\n",
                overHttp ? "over http" : "file", static_cast<long long>(cover.size()), kRuns);
    std::printf("| enabled lamps | PropertiesChanged -> last PUT (ms) | goal: analysis + n round trips + 10 ms |\n");
    std::printf("|---|---|---|\n");
    qint64 appPid = 0;
    std::unique_ptr<testing::Child> app;
    for (const int lamps : {1, 5, 10}) {
        app.reset(); // it saves its selection as it quits: before the new one is written
        QString selection;
        for (int id = 1; id <= 10; ++id)
            selection += QStringLiteral("%1{\"id\":\"%2\",\"enabled\":%3}")
                             .arg(id == 1 ? QString() : QStringLiteral(","))
                             .arg(id)
                             .arg(id <= lamps ? QStringLiteral("true") : QStringLiteral("false"));
        QFile preferences(work.filePath(QStringLiteral("preferences.json")));
        preferences.open(QIODevice::WriteOnly | QIODevice::Truncate);
        preferences.write(QStringLiteral(R"({"username":"alice","lastusedbridgeIP":"%1","lamps":[%2]})")
                              .arg(QString::fromStdString(sim.address), selection)
                              .toUtf8());
        preferences.close();
        app = std::make_unique<testing::Child>(
            program, overHttp ? QStringList{QStringLiteral("--headless")} : QStringList{}, environment);
        app->waitForOutput("registering for notifications");
        testing::waitFor([] { return false; }, 500); // the delayed call's second set-up
        testing::TestPlayer player(bus.address(), QStringLiteral("bench"),
                                   {{QStringLiteral("PlaybackStatus"), QStringLiteral("Playing")}});
        testing::waitFor([&] { return app->output().contains("following org.mpris.MediaPlayer2.bench"); }, 10'000);

        std::vector<double> spans;
        for (int run = 0; run <= kRuns; ++run) {
            // A cover file of its own per track, one byte longer each time, so that no two are the same.
            const QString path = work.filePath(QStringLiteral("cover-%1-%2.jpg").arg(lamps).arg(run));
            QFile file(path);
            file.open(QIODevice::WriteOnly);
            file.write(cover + QByteArray(run + 1, '\0'));
            file.close();
            sim.control(HttpMethod::Delete, "/sim/requests");
            (void)sim.control(HttpMethod::Get, "/api/alice/lights/1"); // the marker
            server.cover = cover + QByteArray(run + 1, '\0');
            const QString art =
                overHttp
                    ? QStringLiteral("http://127.0.0.1:%1/cover-%2-%3.jpg").arg(server.serverPort()).arg(lamps).arg(run)
                    : QStringLiteral("file://") + path;
            player.publish(track(QStringLiteral("Track %1").arg(run), art));
            QJsonArray requests;
            const bool done = testing::waitFor(
                [&] {
                    requests = sim.records();
                    return std::count_if(requests.begin(), requests.end(), [](const QJsonValue& r) {
                               return r[QStringLiteral("method")].toString() == QStringLiteral("PUT");
                           }) >= lamps;
                },
                60'000);
            if (!done) {
                std::fprintf(stderr, "the lamps were not all coloured:\n%s\n", app->output().constData());
                return 1;
            }
            if (run > 0)
                spans.push_back((requests.last()[QStringLiteral("time")].toDouble() -
                                 requests.first()[QStringLiteral("time")].toDouble()) *
                                1000.0);
        }
        const double goal = bench::median(analysis) + lamps * bench::median(roundTrips) + 10.0;
        std::printf("| %d | %.0f (%.0f-%.0f) | %.0f |\n", lamps, bench::median(spans),
                    *std::min_element(spans.begin(), spans.end()), *std::max_element(spans.begin(), spans.end()), goal);
    }
    std::printf("\nGoal parts: analysis (decode at 240 x 240 + 10 colours) %.0f ms; one PUT round trip %.2f ms.\n",
                bench::median(analysis), bench::median(roundTrips));
    if (overHttp) {
        std::printf("\nShared libraries mapped by glowcast --headless after those covers over http: %lld.\n",
                    static_cast<long long>(sharedLibraries(app->pid())));
        // The server speaks no TLS: the handshake fails, after the TLS library was loaded for it.
        testing::TestPlayer player(
            bus.address(), QStringLiteral("secure"),
            track(QStringLiteral("Secure"), QStringLiteral("https://127.0.0.1:%1/cover.jpg").arg(server.serverPort())));
        testing::waitFor([&] { return app->output().contains("/cover.jpg could not be read"); }, 10'000);
        std::printf("The same after an https download was tried: %lld.\n",
                    static_cast<long long>(sharedLibraries(app->pid())));
        return 0;
    }

    // Idle: three mpv players playing silence on the bus, nothing changing.
    QFile wav(work.filePath(QStringLiteral("silence.wav")));
    wav.open(QIODevice::WriteOnly);
    QDataStream out(&wav);
    out.setByteOrder(QDataStream::LittleEndian);
    out.writeRawData("RIFF", 4);
    out << quint32{36 + 16000};
    out.writeRawData("WAVEfmt ", 8);
    out << quint32{16} << quint16{1} << quint16{1} << quint32{8000} << quint32{16000} << quint16{2} << quint16{16};
    out.writeRawData("data", 4);
    out << quint32{16000};
    out.writeRawData(QByteArray(16000, '\0').constData(), 16000);
    wav.close();
    std::vector<std::unique_ptr<testing::Child>> players;
    for (int i = 0; i < 3; ++i)
        players.push_back(std::make_unique<testing::Child>(
            QStringLiteral("mpv"),
            QStringList{QStringLiteral("--no-config"), QStringLiteral("--script=/usr/lib/mpv-mpris/mpris.so"),
                        QStringLiteral("--no-video"), QStringLiteral("--ao=null"), QStringLiteral("--loop=inf"),
                        wav.fileName()},
            environment));
    testing::waitFor([] { return false; }, 3'000);
    appPid = app->pid();
    const double before = bench::cpuSeconds(appPid);
    testing::waitFor([] { return false; }, 10'000);
    std::printf("Idle with three mpv players playing on the bus: CPU %.2f %% over 10 s.\n",
                (bench::cpuSeconds(appPid) - before) / 10.0 * 100.0);
    return 0;
}
