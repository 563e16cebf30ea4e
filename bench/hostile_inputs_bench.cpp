// The hostile inputs of the robustness work, replayed against whole programs with real processes:
// glowcast under a private session bus, glowcastctl, and the bridge simulator on loopback. For each
// one it prints what reached the bridge or the disk, how much log it made, how long it took or how
// much memory it held. Run it once with the binaries of an older build and once with the current
// ones to compare:
//
//   hostile_inputs_bench [--app PATH] [--ctl PATH] [--only N]
//
// (default: this build's glowcast and glowcastctl, and every case; --only runs case N alone).

#include "adapters/dbus/dbus_control_service.h"
#include "adapters/dbus/dbus_notification_centre.h"
#include "measure.h"
#include "support/private_session_bus.h"
#include "support/processes.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusVirtualObject>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>

#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

using namespace glowcast;
using namespace glowcast::testing;
using glowcast::bench::statusKb;

QString g_app = QStringLiteral(GLOWCAST_APP);
QString g_ctl = QStringLiteral(GLOWCAST_CTL);

void row(const std::string& what, const std::string& value)
{
    std::printf("| %s | %s |\n", what.c_str(), value.c_str());
    std::fflush(stdout);
}

std::string jsonText(const std::string& text)
{
    std::string out = "\"";
    out.reserve(text.size() + 2);
    for (const char c : text) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

// One scene: a fresh simulator (lamps 1..3 unless told, user "alice") and configuration directory.
struct Scene {
    QTemporaryDir config;
    Simulator sim;
    QProcessEnvironment environment;

    explicit Scene(const QString& bus = {}, const QStringList& more = {QStringLiteral("--lamps"), QStringLiteral("3")})
        : sim(more + QStringList{QStringLiteral("--user"), QStringLiteral("alice")}),
          environment(programEnvironment(bus, config.path()))
    {
    }
    QString file(const char* name) const { return config.filePath(QLatin1String(name)); }
    void writePreferences(const std::string& lamps = "[]")
    {
        QFile out(file("preferences.json"));
        out.open(QIODevice::WriteOnly | QIODevice::Truncate);
        out.write(QByteArray::fromStdString(R"({"username":"alice","lastusedbridgeIP":")" + sim.address +
                                            R"(","lamps":)" + lamps + "}"));
    }
    [[nodiscard]] QJsonObject preferences() const
    {
        QFile in(file("preferences.json"));
        return in.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(in.readAll()).object() : QJsonObject();
    }
    // Sent as JSON by curl: the simulator's server takes form bodies (what glowcast sends) of a few
    // KiB only, and some faults carry whole lamp lists.
    void fault(const std::string& json)
    {
        QFile body(file("fault.json"));
        body.open(QIODevice::WriteOnly | QIODevice::Truncate);
        body.write(QByteArray::fromStdString(json));
        body.close();
        QProcess::execute(QStringLiteral("curl"),
                          {QStringLiteral("-sf"), QStringLiteral("-o"), QStringLiteral("/dev/null"),
                           QStringLiteral("-H"), QStringLiteral("Content-Type: application/json"),
                           QStringLiteral("--data-binary"), QLatin1Char('@') + body.fileName(),
                           QString::fromStdString("http://" + sim.address + "/sim/faults")});
    }
    // The bridge requests seen since the last call, as "METHOD path".
    [[nodiscard]] std::string seen()
    {
        std::string out;
        for (const std::string& request : sim.requests())
            out += (out.empty() ? "" : ", ") + request.substr(0, request.find(' ', request.find(' ') + 1));
        sim.control(HttpMethod::Delete, "/sim/requests");
        return out.empty() ? "none" : out;
    }
};

struct Run {
    int code = -1;
    double seconds = 0;
    std::string out;
    std::string err;
};

Run run(const QString& program, const QStringList& arguments, const QProcessEnvironment& environment,
        int timeoutMs = 30'000)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    QElapsedTimer clock;
    clock.start();
    process.start(program, arguments);
    Run result;
    if (process.waitForFinished(timeoutMs) && process.exitStatus() == QProcess::NormalExit)
        result.code = process.exitCode();
    result.seconds = static_cast<double>(clock.elapsed()) / 1000.0;
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(5'000);
    }
    result.out = process.readAllStandardOutput().toStdString();
    result.err = process.readAllStandardError().toStdString();
    return result;
}

// glowcast with its log in a file, so that a flood of log costs the bench no memory.
class App {
public:
    App(const Scene& scene, const QString& log, const QStringList& arguments = {})
    {
        m_log = log;
        m_process.setProcessEnvironment(scene.environment);
        m_process.setStandardOutputFile(QProcess::nullDevice());
        m_process.setStandardErrorFile(log);
        m_process.start(g_app, arguments);
        m_process.waitForStarted(10'000);
    }
    ~App()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(10'000);
        }
    }
    // Waits until the log holds one of the texts; reads only what is new each time.
    bool waitForLog(const std::vector<QByteArray>& texts, int timeoutMs = 120'000)
    {
        QFile file(m_log);
        return waitFor(
            [&] {
                if (!file.isOpen() && !file.open(QIODevice::ReadOnly))
                    return false;
                file.seek(std::max<qint64>(0, m_read - 512));
                const QByteArray fresh = file.readAll();
                m_read = file.pos();
                return std::any_of(texts.begin(), texts.end(), [&](const QByteArray& t) { return fresh.contains(t); });
            },
            timeoutMs);
    }
    bool quit()
    {
        ::kill(static_cast<pid_t>(m_process.processId()), SIGTERM);
        return m_process.waitForFinished(30'000);
    }
    [[nodiscard]] qint64 pid() const { return m_process.processId(); }
    [[nodiscard]] qint64 logBytes() const { return QFileInfo(m_log).size(); }
    [[nodiscard]] QByteArray log() const
    {
        QFile file(m_log);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

private:
    QProcess m_process;
    QString m_log;
    qint64 m_read = 0;
};

const std::vector<QByteArray> kSetUpDone{"registering for notifications", "hub abandoning setup"};

QByteArray encoded(const QImage& image, const char* format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

bool post(const QDBusConnection& bus, const QByteArray& cover)
{
    Notification notification{"CoverdeckAlbumCoverChanged", "Coverdeck", {}};
    notification.userInfo["cover"].assign(cover.begin(), cover.end());
    return postNotification(bus, notification).ok();
}

void pathTraversal(const QString& bus)
{
    {
        Scene scene;
        scene.writePreferences();
        (void)run(g_ctl,
                  {QStringLiteral("set"), QStringLiteral("1/../../../x"), QStringLiteral("255"), QStringLiteral("0"),
                   QStringLiteral("0")},
                  scene.environment);
        row("1. `glowcastctl set '1/../../../x' 255 0 0`: requests seen", scene.seen());
    }
    {
        Scene scene{bus};
        scene.sim.control(HttpMethod::Post, "/sim/lamps",
                          R"({"lamps":[{"id":"1","name":"Desk"},{"id":"1/../../../../evil","name":"Evil"},)"
                          R"({"id":"..","name":"Up"},{"id":"7/..","name":"Seven"}]})");
        scene.writePreferences(R"([{"id":"1","enabled":true},{"id":"1/../../../../evil","enabled":true},)"
                               R"({"id":"..","enabled":true},{"id":"7/..","enabled":true}])");
        App app{scene, scene.file("app.log")};
        app.waitForLog(kSetUpDone);
        (void)scene.seen();
        QImage red(64, 64, QImage::Format_RGB32);
        red.fill(Qt::red);
        post(QDBusConnection::connectToBus(bus, QStringLiteral("poster")), encoded(red, "PNG"));
        waitFor([&] { return scene.sim.requests(QStringLiteral("PUT")).size() >= 4; }, 5'000);
        row("1. lamp ids `1/../../../../evil`, `..`, `7/..` enabled beside `1`, one cover: requests seen",
            scene.seen());
    }
    {
        Scene scene;
        QFile(scene.file("preferences.json")).remove();
        QFile prefs(scene.file("preferences.json"));
        prefs.open(QIODevice::WriteOnly);
        prefs.write(QByteArray::fromStdString(R"({"lastusedbridgeIP":")" + scene.sim.address + R"("})"));
        prefs.close();
        scene.fault(R"({"mode":"status","status":200,"body":"[{\"success\":{\"username\":\"..\"}}]","count":1})");
        scene.sim.control(HttpMethod::Post, "/sim/linkbutton");
        (void)run(g_ctl, {QStringLiteral("pair")}, scene.environment, 90'000);
        (void)scene.seen();
        const Run lights = run(g_ctl, {QStringLiteral("lights")}, scene.environment);
        // The simulator records only what reaches /api; its answer elsewhere is {"error":"not found"}.
        const bool outside = lights.err.find("Bridge Error: not found") != std::string::npos;
        row("1. pairing reply with the user name `..`, then `glowcastctl lights`: user name stored, requests seen",
            jsonText(scene.preferences()[QStringLiteral("username")].toString().toStdString()) + "; " + scene.seen() +
                (outside ? " (the GET went outside /api)" : ""));
    }
}

void badPortalAddress()
{
    Scene scene;
    scene.writePreferences();
    scene.environment.insert(QStringLiteral("GLOWCAST_PORTAL"), QString::fromStdString(scene.sim.address));
    scene.fault(R"({"mode":"status","status":200,"body":"[{\"internalipaddress\":\"evil host\"}]",)"
                R"("path":"/nupnp","count":1})");
    const Run discovered = run(g_ctl, {QStringLiteral("discover")}, scene.environment);
    row("2. portal address `evil host`: `glowcastctl discover` prints; \"lastusedbridgeIP\" afterwards",
        jsonText(discovered.out.substr(0, discovered.out.find('\n'))) + "; " +
            jsonText(scene.preferences()[QStringLiteral("lastusedbridgeIP")].toString().toStdString()));
}

void garbageLampList(const QString& bus)
{
    Scene scene{bus};
    scene.writePreferences(R"([{"id":"1","name":"Desk","enabled":true},{"id":"2","name":"Hall","enabled":false}])");
    scene.fault(R"({"mode":"garbage","path":"/lights"})");
    App app{scene, scene.file("app.log")};
    app.waitForLog(kSetUpDone);
    app.quit();
    row("3. garbage lamp list at start-up, then quit: \"lamps\" saved",
        QJsonDocument(scene.preferences()[QStringLiteral("lamps")].toArray())
            .toJson(QJsonDocument::Compact)
            .toStdString());
}

void hugeLampList(const QString& bus)
{
    Scene scene{bus};
    scene.writePreferences();
    std::string lamps = "{";
    for (int i = 1; i <= 30'000; ++i)
        lamps += (i > 1 ? "," : "") + jsonText(std::to_string(i)) + R"(:{"name":")" + std::string(150, 'n') + "\"}";
    lamps += "}";
    scene.fault(R"({"mode":"status","status":200,"path":"/lights","body":)" + jsonText(lamps) + "}");
    {
        App app{scene, scene.file("app.log")};
        app.waitForLog(kSetUpDone);
        app.quit();
    }
    const qint64 bytes = QFileInfo(scene.file("preferences.json")).size();
    App again{scene, scene.file("again.log")};
    again.waitForLog(kSetUpDone);
    const bool keptAside = again.log().contains("kept it aside");
    row("4. 30,000 lamps with 150-character names: preferences file written; next start",
        std::to_string(bytes) + " bytes; " + (keptAside ? "set aside as corrupt" : "read back"));
}

void fifoPreferences()
{
    Scene scene;
    const QByteArray fifo = QFile::encodeName(scene.file("preferences.json"));
    ::mkfifo(fifo.constData(), 0600);
    const Run discover = run(g_ctl, {QStringLiteral("discover")}, scene.environment, 10'000);
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.2f s", discover.seconds);
    row("5. FIFO as preferences.json: `glowcastctl discover`",
        discover.code < 0 ? "still waiting after 10 s (killed)" : std::string("returned after ") + seconds);
}

void logForgingAndFlood(const QString& bus)
{
    {
        Scene scene{bus};
        scene.writePreferences();
        scene.fault(R"({"mode":"status","status":200,"path":"/lights",)"
                    R"("body":"{\"1\":{\"name\":\"Desk\r\n2026-01-01 00:00:00.000 glowcast[1] FORGED: x\"}}"})");
        App app{scene, scene.file("app.log")};
        app.waitForLog(kSetUpDone);
        app.quit();
        const QByteArray log = app.log();
        row("6. lamp named `Desk\\r\\n2026-01-01 00:00:00.000 glowcast[1] FORGED: x`: forged lines in the log",
            std::to_string(log.count("\n2026-01-01 00:00:00.000 glowcast[1] FORGED")));
    }
    const auto flood = [&](const std::string& what, const std::string& reply) {
        Scene scene{bus};
        scene.writePreferences();
        scene.fault(R"({"mode":"status","status":200,"path":"/lights","body":)" + jsonText(reply) + "}");
        App app{scene, scene.file("app.log")};
        QElapsedTimer clock;
        clock.start();
        app.waitForLog(kSetUpDone, 600'000);
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.1f s", static_cast<double>(clock.elapsed()) / 1000.0);
        row("6. " + what + " (" + std::to_string(reply.size()) + " bytes): bytes of log at start-up; time to set up",
            std::to_string(app.logBytes()) + "; " + seconds);
    };
    std::string nested = R"({"1":{"name":"Desk","n":)";
    for (int i = 0; i < 40; ++i)
        nested += R"({"n":)";
    nested += "\"" + std::string(8'300'000 - nested.size() - 100, 'x') + "\"" + std::string(40, '}') + "}}";
    flood("lamp list nested 40 deep around one long text", nested);
    std::string flat = R"({"1":{"name":"Desk"})";
    while (flat.size() < 8'300'000)
        flat += R"(,"a":{})";
    flood("lamp list of a million empty objects", flat + "}");
}

void hugeJpeg(const QTemporaryDir& work)
{
    QImage grey(8, 8, QImage::Format_Grayscale8);
    grey.fill(128);
    QByteArray jpeg = encoded(grey, "JPEG");
    const qsizetype frame = jpeg.indexOf("\xFF\xC0");
    for (const int at : {5, 6, 7, 8})
        jpeg[frame + at] = static_cast<char>(at % 2 == 1 ? 0xFF : 0xDC); // 65500 x 65500
    const QString path = work.filePath(QStringLiteral("huge.jpg"));
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(jpeg);
    file.close();
    const Run measured =
        run(QStringLiteral("/usr/bin/time"),
            {QStringLiteral("-f"), QStringLiteral("peak %M KiB"), g_ctl, QStringLiteral("colours"), path},
            QProcessEnvironment::systemEnvironment());
    const std::string peak = measured.err.substr(measured.err.rfind("peak "));
    row("7. `glowcastctl colours` on a " + std::to_string(jpeg.size()) + "-byte JPEG claiming 65500 x 65500: peak RSS",
        peak.substr(5, peak.find('\n') - 5));
}

void coverFlood(const QString& bus)
{
    const QDBusConnection poster = QDBusConnection::connectToBus(bus, QStringLiteral("flood"));
    const std::string lamps = R"([{"id":"1","enabled":true},{"id":"2","enabled":true},{"id":"3","enabled":true}])";
    {
        Scene scene{bus};
        scene.writePreferences(lamps);
        App app{scene, scene.file("app.log")};
        app.waitForLog(kSetUpDone);
        scene.fault(R"({"mode":"none","latency_ms":100})");
        (void)scene.seen();
        QImage cover(32, 32, QImage::Format_RGB32);
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < 100; ++i) {
            cover.fill(i == 99 ? QColor(255, 0, 0) : QColor(0, 40 + i * 2, 255 - i));
            post(poster, encoded(cover, "PNG"));
            while (clock.elapsed() < (i + 1) * 10)
                QThread::msleep(1);
        }
        QElapsedTimer sinceLast;
        sinceLast.start();
        const std::string red = R"({"bri":255,"xy":[0.640,0.330]})";
        const auto reds = [&] {
            const std::vector<std::string> puts = scene.sim.requests(QStringLiteral("PUT"));
            return std::count_if(puts.begin(), puts.end(), [&](const std::string& put) { return put.ends_with(red); });
        };
        waitFor([&] { return reds() >= 3; }, 120'000);
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.2f s", static_cast<double>(sinceLast.elapsed()) / 1000.0);
        row("8. 100 covers posted in 1 s, 100 ms bridge latency, 3 lamps: newest cover on all lamps after the last "
            "post; PUTs sent",
            std::string(seconds) + "; " + std::to_string(scene.sim.requests(QStringLiteral("PUT")).size()));
    }
    {
        Scene scene{bus};
        scene.writePreferences(lamps);
        App app{scene, scene.file("app.log")};
        app.waitForLog(kSetUpDone);
        scene.fault(R"({"mode":"none","latency_ms":1000})");
        // About 20 MB of noise, which no compression shrinks.
        QImage noise(2600, 2600, QImage::Format_RGB32);
        QRandomGenerator random(7);
        for (int y = 0; y < noise.height(); ++y)
            random.fillRange(reinterpret_cast<quint32*>(noise.scanLine(y)), noise.width());
        const QByteArray cover = encoded(noise, "PNG");
        const long before = statusKb(app.pid(), "VmRSS");
        for (int i = 0; i < 10; ++i)
            post(poster, cover);
        // Handled once no PUT has come for three latencies.
        std::size_t puts = 0;
        QElapsedTimer quiet;
        quiet.start();
        waitFor(
            [&] {
                const std::size_t now = scene.sim.requests(QStringLiteral("PUT")).size();
                if (now != puts) {
                    puts = now;
                    quiet.restart();
                }
                return puts > 0 && quiet.elapsed() > 3'000;
            },
            180'000);
        row("8. ten " + std::to_string(cover.size() / 1'000'000) +
                " MB covers at 1 s latency: RSS before; peak RSS; RSS once handled; PUTs sent",
            std::to_string(before / 1024) + " MiB; " + std::to_string(statusKb(app.pid(), "VmHWM") / 1024) + " MiB; " +
                std::to_string(statusKb(app.pid(), "VmRSS") / 1024) + " MiB; " + std::to_string(puts));
    }
}

// A call of the control interface's method, for the running glowcast.
QDBusMessage controlCall(const char* method)
{
    return QDBusMessage::createMethodCall(QLatin1String(control_bus::kService), QLatin1String(control_bus::kPath),
                                          QLatin1String(control_bus::kInterface), QLatin1String(method));
}

// The service (--headless) with 30 lamps, asked Status, Lamps and Settings every 100 ms for 5 s from a
// connection of its own: while a cover goes out at pace 1, behind a bridge that answers 429 past one lamp
// command a second, and behind 30,000 Status calls sent at once; then how long SIGTERM takes to end it.
void busyService(const QString& bus)
{
    const QDBusConnection asker = QDBusConnection::connectToBus(bus, QStringLiteral("asker"));
    // The slowest answer to each query over 5 s, and the number of calls that got no answer in 10 s.
    const auto ask = [&] {
        qint64 slowest = 0;
        int unanswered = 0;
        QElapsedTimer span;
        span.start();
        while (span.elapsed() < 5'000) {
            for (const char* method : {"Status", "Lamps", "Settings"}) {
                QElapsedTimer clock;
                clock.start();
                if (asker.call(controlCall(method), QDBus::Block, 10'000).type() != QDBusMessage::ReplyMessage)
                    ++unanswered;
                slowest = std::max(slowest, clock.elapsed());
            }
            QThread::msleep(100);
        }
        return std::to_string(slowest) + " ms" + (unanswered ? " (" + std::to_string(unanswered) + " unanswered)" : "");
    };
    std::string lamps = "[";
    for (int i = 1; i <= 30; ++i)
        lamps += (i > 1 ? "," : "") + std::string(R"({"id":")") + std::to_string(i) + R"(","enabled":true})";
    lamps += "]";
    QImage red(32, 32, QImage::Format_RGB32);
    red.fill(QColor(255, 0, 0));
    for (const bool overloaded : {false, true}) {
        const QStringList limit{QStringLiteral("--rate-limit"),
                                overloaded ? QStringLiteral("1") : QStringLiteral("1000")};
        Scene scene{bus, QStringList{QStringLiteral("--lamps"), QStringLiteral("30")} + limit};
        scene.writePreferences(lamps);
        if (!overloaded) { // pace 1: one lamp command a second
            QJsonObject preferences = scene.preferences();
            preferences.insert(QStringLiteral("pace"), 1);
            QFile out(scene.file("preferences.json"));
            out.open(QIODevice::WriteOnly | QIODevice::Truncate);
            out.write(QJsonDocument(preferences).toJson());
        }
        App app{scene, scene.file("app.log"), {QStringLiteral("--headless")}};
        app.waitForLog(kSetUpDone);
        post(asker, encoded(red, "PNG"));
        waitFor([&] { return !scene.sim.requests(QStringLiteral("PUT")).empty(); }, 10'000);
        const std::string slowest = ask();
        const std::size_t puts = scene.sim.requests(QStringLiteral("PUT")).size();
        QElapsedTimer clock;
        clock.start();
        const bool ended = app.quit();
        row(std::string("9. service, 30 lamps, ") +
                (overloaded ? "a bridge answering 429 past 1 command a second" : "a cover going out at pace 1") +
                ": slowest Status, Lamps or Settings over 5 s; PUTs by then; SIGTERM to exit",
            slowest + "; " + std::to_string(puts) + "; " +
                (ended ? std::to_string(clock.elapsed()) + " ms" : "not ended in 30 s"));
    }
    // The flood comes from a process of its own (this bench run with --flood), so that its 30,000 replies
    // do not queue before the asker's own in this process. Side by side, the same flood against a service
    // that answers every call at once with nothing (--answer-empty): the bus hands a service its calls in
    // the order they came, so any service waits that long before it sees a call behind the flood.
    Scene scene{bus};
    scene.writePreferences(lamps);
    const auto behindFlood = [&](const std::string& who) {
        QProcess flood;
        flood.setProcessEnvironment(scene.environment);
        flood.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--flood"), QStringLiteral("30000")});
        flood.waitForStarted(10'000);
        const std::string slowest = ask();
        flood.waitForFinished(60'000);
        row("9. " + who + " behind 30,000 Status calls sent at once: slowest Status, Lamps or Settings over 5 s",
            slowest);
    };
    {
        App app{scene, scene.file("app.log"), {QStringLiteral("--headless")}};
        app.waitForLog(kSetUpDone);
        behindFlood("service");
    }
    QProcess empty;
    empty.setProcessEnvironment(scene.environment);
    empty.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--answer-empty")});
    waitFor([&] { return asker.interface()->isServiceRegistered(QLatin1String(control_bus::kService)).value(); },
            10'000);
    behindFlood("a service answering every call with nothing at once,");
    empty.kill();
    empty.waitForFinished(10'000);
}

// The two helpers of case 9, each in a process of its own on the session bus it is given.
int floodWithStatus(int count)
{
    const QDBusConnection bus = QDBusConnection::sessionBus();
    const QDBusMessage status = controlCall("Status");
    for (int i = 0; i < count; ++i)
        bus.send(status);
    // Answered after all of the flood, which the bus delivers in order.
    return bus.call(status, QDBus::Block, 60'000).type() == QDBusMessage::ReplyMessage ? 0 : 1;
}

class EmptyAnswers final : public QDBusVirtualObject {
public:
    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        return connection.send(message.createReply(QVariantMap{}));
    }
};

int answerEmpty(QCoreApplication& application)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    EmptyAnswers answers;
    if (claimServiceName(bus) != NameClaim::Owned ||
        !bus.registerVirtualObject(QLatin1String(control_bus::kPath), &answers))
        return 1;
    return application.exec();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() == 3 && arguments[1] == QLatin1String("--flood"))
        return floodWithStatus(arguments[2].toInt());
    if (arguments.size() == 2 && arguments[1] == QLatin1String("--answer-empty"))
        return answerEmpty(application);
    QString only;
    for (qsizetype i = 1; i + 1 < arguments.size(); i += 2) {
        if (arguments[i] == QLatin1String("--app"))
            g_app = arguments[i + 1];
        else if (arguments[i] == QLatin1String("--ctl"))
            g_ctl = arguments[i + 1];
        else if (arguments[i] == QLatin1String("--only"))
            only = arguments[i + 1];
    }
    const auto wanted = [&](int number) { return only.isEmpty() || only == QString::number(number); };
    testing::PrivateSessionBus bus;
    QTemporaryDir work;
    if (bus.address().isEmpty() || !work.isValid()) {
        std::fprintf(stderr, "hostile_inputs_bench: no private session bus or no temporary directory\n");
        return 1;
    }
    std::printf("| hostile input | %s |\n|---|---|\n", qPrintable(g_app));
    if (wanted(1))
        pathTraversal(bus.address());
    if (wanted(2))
        badPortalAddress();
    if (wanted(3))
        garbageLampList(bus.address());
    if (wanted(4))
        hugeLampList(bus.address());
    if (wanted(5))
        fifoPreferences();
    if (wanted(6))
        logForgingAndFlood(bus.address());
    if (wanted(7))
        hugeJpeg(work);
    if (wanted(8))
        coverFlood(bus.address());
    if (wanted(9))
        busyService(bus.address());
    return 0;
}
