// The cover change end to end, with real processes: glowcast under a private session bus and the
// bridge simulator on loopback. For 1, 5 and 10 enabled lamps and a 3000 x 3000 JPEG cover it times
// the span from posting the cover-changed notification to the simulator recording the last PUT
// (both instants on the simulator's clock: a marker request goes out just before the post). Beside
// it, the floor the program cannot beat: the cover's analysis in this process, and one lamp-state
// round trip. Then the program's resident memory and CPU use while idle. Prints Markdown.

#include "adapters/dbus/dbus_notification_centre.h"
#include "adapters/qt/qt_http_transport.h"
#include "cover_analysis.h"
#include "measure.h"
#include "support/private_session_bus.h"
#include "support/processes.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using namespace glowcast;

constexpr int kRuns = 7;

// The simulator's control interface over one kept-alive connection, so polling it costs little.
struct Sim {
    std::string address;
    QtHttpTransport* http;
    std::string get(const std::string& path)
    {
        return http->send({HttpMethod::Get, "http://" + address + path, {}, 10s}).value_or("");
    }
    void clear() { (void)http->send({HttpMethod::Delete, "http://" + address + "/sim/requests", {}, 10s}); }
    [[nodiscard]] QJsonArray requests()
    {
        return QJsonDocument::fromJson(QByteArray::fromStdString(get("/sim/requests"))).array();
    }
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    const QString appPath = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(GLOWCAST_APP);
    NullLog log;
    QtHttpTransport http(log);

    const QByteArray cover = bench::photographLikeCover();
    const std::vector<std::uint8_t> coverBytes(cover.begin(), cover.end());

    // The floor: decoding and analysing the cover in this process, the way the program does.
    const std::vector<double> analysis = bench::analysisMilliseconds(cover, kRuns, log);

    QTemporaryDir config;
    testing::PrivateSessionBus bus;
    const QString busAddress = bus.address();
    testing::Simulator simProcess{
        {QStringLiteral("--lamps"), QStringLiteral("10"), QStringLiteral("--user"), QStringLiteral("alice")}};
    Sim sim{simProcess.address, &http};
    if (busAddress.isEmpty() || sim.address.empty()) {
        std::fprintf(stderr, "app_cover_change_bench: no bus or no simulator\n");
        return 1;
    }
    QDBusConnection connection = QDBusConnection::connectToBus(busAddress, QStringLiteral("bench"));

    // One round trip: a lamp-state request answered by the simulator.
    std::vector<double> roundTrips;
    for (int i = 0; i < 20; ++i) {
        QElapsedTimer clock;
        clock.start();
        (void)http.send({HttpMethod::Put, "http://" + sim.address + "/api/alice/lights/1/state",
                         R"({"bri":255,"xy":[0.640,0.330]})", 30s});
        roundTrips.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
    }

    std::printf("Cover: 3000 x 3000 JPEG, %lld bytes. Runs per row: %d (median, min-max).\n\n",
                static_cast<long long>(cover.size()), kRuns);
    std::printf(
        "| enabled lamps | post -> last PUT (ms) | floor: analysis + n round trips (ms) | goal: floor + 20 %% |\n");
    std::printf("|---|---|---|---|\n");

    long idleRss = -1;
    double idleCpu = -1;
    for (const int lamps : {1, 5, 10}) {
        QString selection;
        for (int id = 1; id <= 10; ++id)
            selection += QStringLiteral("%1{\"id\":\"%2\",\"name\":\"Lamp %2\",\"enabled\":%3}")
                             .arg(id == 1 ? QString() : QStringLiteral(","))
                             .arg(id)
                             .arg(id <= lamps ? QStringLiteral("true") : QStringLiteral("false"));
        QFile preferences(QDir(config.path()).filePath(QStringLiteral("preferences.json")));
        preferences.open(QIODevice::WriteOnly | QIODevice::Truncate);
        preferences.write(QStringLiteral("{\"username\":\"alice\",\"lastusedbridgeIP\":\"%1\",\"lamps\":[%2]}")
                              .arg(QString::fromStdString(sim.address), selection)
                              .toUtf8());
        preferences.close();

        const QProcessEnvironment environment = testing::programEnvironment(busAddress, config.path());
        testing::Child app{appPath, {}, environment};
        app.waitForOutput("registering for notifications", 60'000);
        QThread::msleep(500); // let the second set-up of the delayed call finish

        std::vector<double> spans;
        for (int run = 0; run <= kRuns; ++run) {
            sim.clear();
            (void)sim.get("/api/alice/lights/1"); // the marker
            const Outcome posted =
                postNotification(connection, {"CoverdeckAlbumCoverChanged", "Coverdeck", {{"cover", coverBytes}}});
            if (!posted.ok()) {
                std::fprintf(stderr, "post failed: %s\n", posted.message.c_str());
                return 1;
            }
            const QDeadlineTimer deadline(60'000);
            QJsonArray requests;
            int puts = 0;
            while (puts < lamps && !deadline.hasExpired()) {
                QThread::msleep(5);
                (void)app.output();
                requests = sim.requests();
                puts = static_cast<int>(std::count_if(requests.begin(), requests.end(), [](const QJsonValue& r) {
                    return r.toObject().value(QStringLiteral("method")).toString() == QStringLiteral("PUT");
                }));
            }
            if (puts < lamps || requests.isEmpty()) {
                std::fprintf(stderr, "the lamps were not all coloured\n");
                return 1;
            }
            const double start = requests.first().toObject().value(QStringLiteral("time")).toDouble();
            const double end = requests.last().toObject().value(QStringLiteral("time")).toDouble();
            if (run > 0) // the first run warms up
                spans.push_back((end - start) * 1000.0);
        }
        const double floor = bench::median(analysis) + lamps * bench::median(roundTrips);
        std::printf("| %d | %.0f (%.0f-%.0f) | %.0f | %.0f |\n", lamps, bench::median(spans),
                    *std::min_element(spans.begin(), spans.end()), *std::max_element(spans.begin(), spans.end()), floor,
                    floor * 1.2);

        if (lamps == 10) {
            QThread::sleep(2);
            idleRss = bench::statusKb(app.pid(), "VmRSS");
            const double before = bench::cpuSeconds(app.pid());
            QThread::sleep(10);
            idleCpu = (bench::cpuSeconds(app.pid()) - before) / 10.0 * 100.0;
        }
    }
    std::printf("\nFloor parts: analysis (decode at 240 x 240 + 10 colours) %.0f ms; one PUT round trip %.2f ms.\n",
                bench::median(analysis), bench::median(roundTrips));
    std::printf("Idle, after the runs: resident memory %.1f MiB; CPU %.2f %% over 10 s.\n",
                static_cast<double>(idleRss) / 1024.0, idleCpu);
    return 0;
}
