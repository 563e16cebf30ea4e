// The cover change end to end, with real processes: glowcast under a private session bus and the
// bridge simulator on loopback. For 1, 5 and 10 enabled lamps and a 3000 x 3000 JPEG cover it times
// the span from posting the cover-changed notification to the simulator recording the last PUT
// (both instants on the simulator's clock: a marker request goes out just before the post). Beside
// it, the floor the program cannot beat: the cover's analysis in this process, and one lamp-state
// round trip. Then the program's resident memory and CPU use while idle. Prints Markdown.

#include "adapters/dbus_notification_centre.h"
#include "adapters/qt_cover_decoder.h"
#include "adapters/qt_http_transport.h"
#include "core/eyedropper.h"
#include "core/json_codec.h"
#include "core/lamp_colour.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using namespace glowcast;

constexpr int kRuns = 7;

class QuietLog final : public Log {
public:
    void write(std::string_view /*line*/) override {}
};

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

// A cover with large flat areas, gradients and grain, so that it compresses like a photograph.
QByteArray makeCover()
{
    QImage cover(3000, 3000, QImage::Format_RGB32);
    QPainter painter(&cover);
    QLinearGradient sky(0, 0, 0, 1800);
    sky.setColorAt(0, QColor(20, 60, 160));
    sky.setColorAt(1, QColor(230, 120, 40));
    painter.fillRect(0, 0, 3000, 1800, sky);
    painter.fillRect(0, 1800, 3000, 1200, QColor(30, 140, 60));
    painter.setBrush(QColor(240, 220, 30));
    painter.drawEllipse(1900, 500, 700, 700);
    painter.end();
    QRandomGenerator random(42);
    for (int y = 0; y < cover.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(cover.scanLine(y));
        for (int x = 0; x < cover.width(); ++x) {
            const int grain = static_cast<int>(random.bounded(21)) - 10;
            const QRgb p = line[x];
            line[x] = qRgb(std::clamp(qRed(p) + grain, 0, 255), std::clamp(qGreen(p) + grain, 0, 255),
                           std::clamp(qBlue(p) + grain, 0, 255));
        }
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    cover.save(&buffer, "JPEG", 90);
    return bytes;
}

class Child {
public:
    Child() { m_process.setProcessChannelMode(QProcess::MergedChannels); }
    ~Child()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            if (!m_process.waitForFinished(10'000))
                m_process.kill();
            m_process.waitForFinished(5'000);
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    bool start(const QString& program, const QStringList& arguments, const QProcessEnvironment& environment = {})
    {
        if (!environment.isEmpty())
            m_process.setProcessEnvironment(environment);
        m_process.start(program, arguments);
        return m_process.waitForStarted(10'000);
    }
    // Waits (at most 60 s) until the output holds text; returns the output up to there.
    QByteArray waitFor(const QByteArray& text)
    {
        const QDeadlineTimer deadline(60'000);
        while (!m_output.contains(text) && !deadline.hasExpired() && m_process.state() == QProcess::Running) {
            m_process.waitForReadyRead(100);
            m_output += m_process.readAll();
        }
        return m_output;
    }
    void drain() { m_output += m_process.readAll(); }
    [[nodiscard]] qint64 pid() const { return m_process.processId(); }

private:
    QProcess m_process;
    QByteArray m_output;
};

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

long residentKiB(qint64 pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

double cpuSeconds(qint64 pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    double ticks = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i)
        if (i == 14 || i == 15)
            ticks += std::stod(field);
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    const QString appPath = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(GLOWCAST_APP);
    QuietLog log;
    QtHttpTransport http(log);

    const QByteArray cover = makeCover();
    const std::vector<std::uint8_t> coverBytes(cover.begin(), cover.end());

    // The floor: decoding and analysing the cover in this process, the way the program does.
    std::vector<double> analysis;
    for (int i = 0; i < kRuns; ++i) {
        QElapsedTimer clock;
        clock.start();
        QtCoverDecoder decoder(log, QSize(240, 240));
        const auto image = decoder.decode(coverBytes);
        Eyedropper eyedropper(image.get(), log);
        const auto colours = eyedropper.getColours(10);
        for (const Colour& colour : colours)
            (void)JSONFromDictionary(lampStateBody(colour, log));
        analysis.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
    }

    QTemporaryDir config;
    Child bus;
    bus.start(QStringLiteral("dbus-daemon"),
              {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
    const QByteArray busOutput = bus.waitFor("\n");
    const QString busAddress = QString::fromUtf8(busOutput.left(busOutput.indexOf('\n'))).trimmed();
    Child simProcess;
    simProcess.start(QStringLiteral(GLOWCAST_BRIDGE_SIM),
                     {QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--lamps"), QStringLiteral("10"),
                      QStringLiteral("--user"), QStringLiteral("alice")});
    const QByteArray simOutput = simProcess.waitFor("\n");
    Sim sim{simOutput.mid(13, simOutput.indexOf('\n') - 13).trimmed().toStdString(), &http};
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

        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), busAddress);
        environment.insert(QStringLiteral("GLOWCAST_CONFIG_DIR"), config.path());
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        environment.remove(QStringLiteral("GLOWCAST_PORTAL"));
        Child app;
        app.start(appPath, {}, environment);
        app.waitFor("registering for notifications");
        QThread::msleep(500); // let the second set-up of the delayed call finish

        std::vector<double> spans;
        for (int run = 0; run <= kRuns; ++run) {
            sim.clear();
            (void)sim.get("/api/alice/lights/1"); // the marker
            const PostResult posted =
                postNotification(connection, {"CoverdeckAlbumCoverChanged", "Coverdeck", {{"cover", coverBytes}}});
            if (!posted.posted) {
                std::fprintf(stderr, "post failed: %s\n", posted.error.c_str());
                return 1;
            }
            const QDeadlineTimer deadline(60'000);
            QJsonArray requests;
            int puts = 0;
            while (puts < lamps && !deadline.hasExpired()) {
                QThread::msleep(5);
                app.drain();
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
        const double floor = median(analysis) + lamps * median(roundTrips);
        std::printf("| %d | %.0f (%.0f-%.0f) | %.0f | %.0f |\n", lamps, median(spans),
                    *std::min_element(spans.begin(), spans.end()), *std::max_element(spans.begin(), spans.end()), floor,
                    floor * 1.2);

        if (lamps == 10) {
            QThread::sleep(2);
            idleRss = residentKiB(app.pid());
            const double before = cpuSeconds(app.pid());
            QThread::sleep(10);
            idleCpu = (cpuSeconds(app.pid()) - before) / 10.0 * 100.0;
        }
    }
    std::printf("\nFloor parts: analysis (decode at 240 x 240 + 10 colours) %.0f ms; one PUT round trip %.2f ms.\n",
                median(analysis), median(roundTrips));
    std::printf("Idle, after the runs: resident memory %.1f MiB; CPU %.2f %% over 10 s.\n",
                static_cast<double>(idleRss) / 1024.0, idleCpu);
    return 0;
}
