// Lamp systems beside the first bridge, with real processes: glowcast under a private session bus,
// the first bridge's simulator with 3 lamps, and beside it nothing; 3 zigbee2mqtt lamps (the stand-in
// on a Mosquitto broker of the bench's own); 3 lamps of a second simulated bridge; or a second bridge
// that never answers. Pace is off everywhere (no lamp-care pace; each system at 1000 states a second).
// For each case a red cover is posted as the cover-changed notification, and timed to the last lamp
// state: a bridge's on its simulator's clock from a marker request just before the post, zigbee2mqtt's
// as the stand-in's record of the message reaches the bench; and the first bridge's for the first cover
// apart (a silent bridge's send still waits then; after it the bridge is marked unreachable). Then the program's CPU
// use while idle with the broker connected. Prints Markdown.

#include "adapters/dbus/dbus_notification_centre.h"
#include "adapters/qt/qt_http_transport.h"
#include "measure.h"
#include "support/mosquitto_broker.h"
#include "support/private_session_bus.h"
#include "support/processes.h"
#include "support/waiting.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QElapsedTimer>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using namespace glowcast;
using testing::Child;
using testing::Simulator;

constexpr int kRuns = 25;

enum class Beside { Nothing, Zigbee2Mqtt, Zigbee2MqttNoDelay, SecondBridge, SilentBridge };

const char* caseName(Beside beside)
{
    switch (beside) {
    case Beside::Nothing:
        return "3 bridge lamps alone";
    case Beside::Zigbee2Mqtt:
        return "3 bridge lamps + 3 zigbee2mqtt lamps";
    case Beside::Zigbee2MqttNoDelay:
        return "the same, the broker with set_tcp_nodelay";
    case Beside::SecondBridge:
        return "3 bridge lamps + 3 lamps of a second bridge";
    case Beside::SilentBridge:
        return "3 bridge lamps + a second bridge that never answers";
    }
    return "";
}

// The simulator's lamp-state PUTs since its record was cleared, and the time of its first request
// (the marker) and of the last PUT, in milliseconds on its clock.
struct Puts {
    int count = 0;
    double marker = 0;
    double last = 0;
};

Puts putsOf(Simulator& sim)
{
    Puts puts;
    const QJsonArray records = sim.records();
    for (const QJsonValue request : records) {
        if (request[QStringLiteral("method")].toString() == QStringLiteral("PUT")) {
            ++puts.count;
            puts.last = request[QStringLiteral("time")].toDouble() * 1000.0;
        }
    }
    if (!records.isEmpty())
        puts.marker = records.first()[QStringLiteral("time")].toDouble() * 1000.0;
    return puts;
}

QByteArray redCover()
{
    QImage image(64, 64, QImage::Format_RGB32);
    image.fill(QColor(255, 0, 0));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

struct Result {
    std::vector<double> lastState;   // post -> last lamp state of any system
    std::vector<double> firstBridge; // post -> the first bridge's last PUT
    double idleCpu = -1;
    double warmUpFirstBridge = 0; // the first cover's: a silent bridge's send still waits then
};

std::optional<Result> measure(Beside beside, const QString& appPath, const QByteArray& cover)
{
    QTemporaryDir config;
    testing::PrivateSessionBus bus;
    Simulator first{
        {QStringLiteral("--lamps"), QStringLiteral("3"), QStringLiteral("--user"), QStringLiteral("alice")}};
    std::unique_ptr<Simulator> second;
    std::unique_ptr<testing::MosquittoBroker> broker;
    std::unique_ptr<QProcess> standIn;
    std::vector<qint64> setArrivals; // the bench's clock, ms
    QElapsedTimer clock;
    clock.start();

    std::string systems;
    if (beside == Beside::SecondBridge || beside == Beside::SilentBridge) {
        second = std::make_unique<Simulator>(
            QStringList{QStringLiteral("--lamps"), QStringLiteral("3"), QStringLiteral("--user"), QStringLiteral("bob"),
                        QStringLiteral("--bridge-id"), QStringLiteral("024743FFFE000002")});
        systems =
            R"({"id":"bridge-2","kind":"bridge","address":")" + second->address + R"(","user":"bob","pace":1000})";
    }
    const bool zigbee = beside == Beside::Zigbee2Mqtt || beside == Beside::Zigbee2MqttNoDelay;
    if (zigbee) {
        broker = std::make_unique<testing::MosquittoBroker>(
            beside == Beside::Zigbee2Mqtt ? "allow_anonymous true" : "allow_anonymous true\nset_tcp_nodelay true");
        standIn = std::make_unique<QProcess>();
        standIn->setProcessChannelMode(QProcess::SeparateChannels);
        QObject::connect(standIn.get(), &QProcess::readyReadStandardOutput, [&] {
            while (standIn->canReadLine())
                if (standIn->readLine().contains("/set "))
                    setArrivals.push_back(clock.elapsed());
        });
        standIn->start(QStringLiteral(GLOWCAST_ZIGBEE2MQTT_SIM),
                       {QStringLiteral("--broker"), QString::fromStdString(broker->address()),
                        QStringLiteral("--lamps"), QStringLiteral("3")});
        systems = R"({"id":"z2m","kind":"zigbee2mqtt","address":"mqtt://)" + broker->address() +
                  R"(/zigbee2mqtt","pace":1000})";
    }
    if (bus.address().isEmpty() || first.address.empty() || (second && second->address.empty()) ||
        (broker && !broker->running)) {
        std::fprintf(stderr, "systems_cover_change_bench: a component did not start\n");
        return std::nullopt;
    }
    for (Simulator* sim : {&first, second.get()})
        if (sim != nullptr)
            (void)sim->control(HttpMethod::Put,
                               "/api/" + std::string(sim == &first ? "alice" : "bob") + "/groups/0/action",
                               R"({"on":true})");

    QFile preferences(QDir(config.path()).filePath(QStringLiteral("preferences.json")));
    preferences.open(QIODevice::WriteOnly | QIODevice::Truncate);
    preferences.write(QByteArray::fromStdString(
        R"({"username":"alice","lastusedbridgeIP":")" + first.address +
        R"(","lamps":[{"id":"1","enabled":true},{"id":"2","enabled":true},{"id":"3","enabled":true}],"systems":[)" +
        systems + "]}"));
    preferences.close();
    const QProcessEnvironment environment = testing::programEnvironment(bus.address(), config.path());
    Child app{appPath, {QStringLiteral("--headless")}, environment};
    if (!app.waitForOutput("registering for notifications", 60'000)) {
        std::fprintf(stderr, "glowcast did not start: %s\n", app.output().constData());
        return std::nullopt;
    }
    // Every lamp of every system enabled, as a user would with glowcastctl.
    // The second bridge answers until its lamps are read: its fault is set after.
    const int lampCount = beside == Beside::Nothing ? 3 : 6;
    std::vector<std::string> off;
    const bool listed = testing::pollFor(
        [&] {
            const testing::CommandRun lamps =
                testing::runProgram(QStringLiteral(GLOWCAST_CTL), {QStringLiteral("lamps")}, environment);
            off.clear();
            int count = 0;
            bool firstBridgeRead = false;
            for (const QString& line : QString::fromStdString(lamps.out).split(u'\n', Qt::SkipEmptyParts)) {
                ++count;
                firstBridgeRead = firstBridgeRead || line.startsWith(QStringLiteral("3\t"));
                if (line.section(u'\t', 1, 1) == QStringLiteral("off"))
                    off.push_back(line.section(u'\t', 0, 0).toStdString());
            }
            return firstBridgeRead && count >= lampCount;
        },
        20'000);
    if (!listed) {
        std::fprintf(stderr, "the lamps were not all listed: %s\n", app.output().constData());
        return std::nullopt;
    }
    for (const std::string& id : off)
        (void)testing::runProgram(QStringLiteral(GLOWCAST_CTL), {QStringLiteral("enable"), QString::fromStdString(id)},
                                  environment);
    if (beside == Beside::SilentBridge)
        (void)second->control(HttpMethod::Post, "/sim/faults", R"({"mode":"noanswer"})");

    QDBusConnection connection =
        QDBusConnection::connectToBus(bus.address(), QStringLiteral("bench-%1").arg(static_cast<int>(beside)));
    const std::vector<std::uint8_t> coverBytes(cover.begin(), cover.end());
    Result result;
    for (int run = 0; run <= kRuns; ++run) {
        for (Simulator* sim : {&first, second.get()})
            if (sim != nullptr && !(sim == second.get() && beside == Beside::SilentBridge)) {
                (void)sim->control(HttpMethod::Delete, "/sim/requests");
                (void)sim->control(HttpMethod::Get, "/api/alice/lights/1"); // the marker
            }
        setArrivals.clear();
        const qint64 posted = clock.elapsed();
        if (!postNotification(connection, {"CoverdeckAlbumCoverChanged", "Coverdeck", {{"cover", coverBytes}}}).ok())
            return std::nullopt;
        const bool secondCounts = beside == Beside::SecondBridge;
        const bool done = testing::waitFor(
            [&] {
                return putsOf(first).count >= 3 && (!secondCounts || putsOf(*second).count >= 3) &&
                       (!zigbee || setArrivals.size() >= 3);
            },
            20'000);
        if (!done) {
            std::fprintf(stderr, "run %d of '%s': the lamps were not all sent a state\n%s\n", run, caseName(beside),
                         app.output().constData());
            return std::nullopt;
        }
        const Puts firstPuts = putsOf(first);
        double last = firstPuts.last - firstPuts.marker;
        if (secondCounts) {
            const Puts secondPuts = putsOf(*second);
            last = std::max(last, secondPuts.last - secondPuts.marker);
        }
        if (zigbee)
            last = std::max(last, static_cast<double>(setArrivals.back() - posted));
        if (run == 0)
            result.warmUpFirstBridge = firstPuts.last - firstPuts.marker;
        if (run > 0) { // the first run warms up
            result.lastState.push_back(last);
            result.firstBridge.push_back(firstPuts.last - firstPuts.marker);
        }
        QThread::msleep(300); // the next cover comes after this one's lamps have settled
    }
    if (beside == Beside::Zigbee2Mqtt) {
        QThread::sleep(2);
        const double before = bench::cpuSeconds(app.pid());
        QThread::sleep(10);
        result.idleCpu = (bench::cpuSeconds(app.pid()) - before) / 10.0 * 100.0;
    }
    if (standIn) {
        standIn->terminate();
        standIn->waitForFinished(5'000);
    }
    return result;
}

std::string spread(const std::vector<double>& values)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.1f (%.1f-%.1f)", bench::median(values),
                  *std::min_element(values.begin(), values.end()), *std::max_element(values.begin(), values.end()));
    return text;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    const QString appPath = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(GLOWCAST_APP);
    const QByteArray cover = redCover();
    std::printf("A 64 x 64 red PNG cover; %d runs per row after one warm-up (median, min-max).\n\n", kRuns);
    std::printf(
        "| beside the first bridge | post -> last lamp state (ms) | post -> the first bridge's last PUT (ms) | the "
        "same, first cover (ms) |\n");
    std::printf("|---|---|---|---|\n");
    double idleCpu = -1;
    for (const Beside beside : {Beside::Nothing, Beside::Zigbee2Mqtt, Beside::Zigbee2MqttNoDelay, Beside::SecondBridge,
                                Beside::SilentBridge}) {
        const std::optional<Result> result = measure(beside, appPath, cover);
        if (!result)
            return 1;
        std::printf("| %s | %s | %s | %.1f |\n", caseName(beside), spread(result->lastState).c_str(),
                    spread(result->firstBridge).c_str(), result->warmUpFirstBridge);
        std::fflush(stdout);
        if (result->idleCpu >= 0)
            idleCpu = result->idleCpu;
    }
    std::printf("\nIdle with the broker connected (3 zigbee2mqtt lamps): CPU %.2f %% over 10 s.\n", idleCpu);
    return 0;
}
