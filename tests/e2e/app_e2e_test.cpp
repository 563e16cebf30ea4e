// The whole program with real processes: glowcast under a private session bus, the bridge
// simulator on a loopback port, covers posted by glowcast-post-cover and by gdbus. Every wait is
// bounded; nothing leaves loopback.

#include "adapters/qt_http_transport.h"
#include "core/ports/http_transport.h"
#include "fakes/recording_log.h"
#include "qt/private_session_bus.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include <csignal>

namespace glowcast {
namespace {

using namespace std::chrono_literals;

constexpr int kStartTimeoutMs = 30'000;

// Polls until done() holds or the time is up; true when it holds.
bool waitFor(const std::function<bool()>& done, int timeoutMs = kStartTimeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(50);
        QCoreApplication::processEvents();
    }
    return true;
}

// A child process stopped (and, if need be, killed) when the test ends.
class Child {
public:
    Child() { m_process.setProcessChannelMode(QProcess::MergedChannels); }
    ~Child() { stop(); }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    bool start(const QString& program, const QStringList& arguments, const QProcessEnvironment& environment)
    {
        m_process.setProcessEnvironment(environment);
        m_process.start(program, arguments);
        return m_process.waitForStarted(10'000);
    }
    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(10'000)) {
            m_process.kill();
            m_process.waitForFinished(5'000);
        }
    }
    void signal(int signalNumber) { ::kill(static_cast<pid_t>(m_process.processId()), signalNumber); }
    bool waitForExit(int timeoutMs = 15'000) { return m_process.waitForFinished(timeoutMs); }
    [[nodiscard]] int exitCode() const { return m_process.exitCode(); }
    [[nodiscard]] QProcess::ExitStatus exitStatus() const { return m_process.exitStatus(); }

    // Everything the process has written so far.
    const QByteArray& output()
    {
        m_output += m_process.readAll();
        return m_output;
    }
    bool waitForOutput(const QByteArray& text, int timeoutMs = kStartTimeoutMs)
    {
        return waitFor(
            [&] {
                m_process.waitForReadyRead(50);
                return output().contains(text);
            },
            timeoutMs);
    }
    [[nodiscard]] QByteArray firstLine()
    {
        waitFor([&] {
            m_process.waitForReadyRead(50);
            return output().contains('\n');
        });
        return m_output.left(m_output.indexOf('\n'));
    }

private:
    QProcess m_process;
    QByteArray m_output;
};

struct Request {
    std::string method;
    std::string path;
    std::string body;
    friend bool operator==(const Request&, const Request&) = default;
};

void PrintTo(const Request& request, std::ostream* out)
{
    *out << request.method << " " << request.path << " " << request.body;
}

QByteArray encoded(const QImage& image, const char* format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

// A cover whose two dominant colours are known: two thirds pure red, one third (0, 0, 0.75).
QImage redAndBlueCover()
{
    QImage cover(300, 300, QImage::Format_RGB32);
    QPainter painter(&cover);
    painter.fillRect(0, 0, 300, 200, QColor(255, 0, 0));
    painter.fillRect(0, 200, 300, 100, QColor(0, 0, 200));
    return cover;
}

const std::string kRedBody = R"({"bri":255,"xy":[0.640,0.330]})";
const std::string kBlueBody = R"({"bri":96,"xy":[0.150,0.060]})";
const std::string kGreenBody = R"({"bri":96,"xy":[0.410,0.510]})";

class AppEndToEndTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(config.isValid());
        ASSERT_FALSE(bus.address().isEmpty()) << "no private session bus";
        ASSERT_TRUE(sim.start(QStringLiteral(GLOWCAST_BRIDGE_SIM),
                              {QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--lamps"),
                               QStringLiteral("3"), QStringLiteral("--user"), QStringLiteral("alice"),
                               QStringLiteral("--press-after"), QStringLiteral("1")},
                              QProcessEnvironment::systemEnvironment()));
        const QByteArray line = sim.firstLine();
        ASSERT_TRUE(line.startsWith("listening on ")) << line.toStdString();
        simAddress = line.mid(13).trimmed().toStdString();

        environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus.address());
        environment.insert(QStringLiteral("GLOWCAST_CONFIG_DIR"), config.path());
        environment.insert(QStringLiteral("GLOWCAST_PORTAL"), QString::fromStdString(simAddress));
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    }

    void writePreferences(const QByteArray& text)
    {
        QFile file(config.filePath(QStringLiteral("preferences.json")));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text);
    }

    // Known to the bridge as "alice", with lamps 1 and 3 of 1..3 enabled (and a lamp 9 it no longer has).
    void writeSelection()
    {
        writePreferences(QByteArray::fromStdString(
            R"({"username":"alice","lastusedbridgeIP":")" + simAddress +
            R"(","lamps":[{"id":"9","name":"Gone","enabled":true},{"id":"1","name":"Lamp 1","enabled":true},)"
            R"({"id":"2","name":"Lamp 2","enabled":false},{"id":"3","name":"Lamp 3","enabled":true}]})"));
    }

    [[nodiscard]] QJsonObject preferences() const
    {
        QFile file(config.filePath(QStringLiteral("preferences.json")));
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QJsonDocument::fromJson(file.readAll()).object();
    }

    // Starts glowcast and waits until it listens for covers.
    void startApp(Child& app)
    {
        ASSERT_TRUE(app.start(QStringLiteral(GLOWCAST_APP), {}, environment));
        ASSERT_TRUE(app.waitForOutput("registering for notifications")) << app.output().toStdString();
    }

    std::string control(HttpMethod method, const std::string& path)
    {
        RecordingLog log;
        QtHttpTransport http{log, {5s, std::size_t{16} << 20}};
        return http.send({method, "http://" + simAddress + path, {}, 5s}).value_or("");
    }

    // The lamp-state requests the simulator has recorded, in arrival order.
    std::vector<Request> puts()
    {
        std::vector<Request> found;
        const QJsonArray all =
            QJsonDocument::fromJson(QByteArray::fromStdString(control(HttpMethod::Get, "/sim/requests"))).array();
        for (const QJsonValue& value : all) {
            const QJsonObject request = value.toObject();
            if (request.value(QStringLiteral("method")).toString() == QStringLiteral("PUT"))
                found.push_back({"PUT", request.value(QStringLiteral("path")).toString().toStdString(),
                                 request.value(QStringLiteral("body")).toString().toStdString()});
        }
        return found;
    }

    bool waitForPuts(std::size_t count)
    {
        return waitFor([&] { return puts().size() >= count; });
    }

    int postCover(const QString& file)
    {
        QProcess poster;
        poster.setProcessEnvironment(environment);
        poster.setProcessChannelMode(QProcess::ForwardedChannels);
        poster.start(QStringLiteral(GLOWCAST_POST_COVER), {file});
        if (!poster.waitForFinished(15'000)) {
            poster.kill();
            poster.waitForFinished(5'000);
            return -1;
        }
        return poster.exitCode();
    }

    QString saveCover(const QImage& image, const QString& name, const char* format)
    {
        const QString path = config.filePath(name);
        QFile file(path);
        if (file.open(QIODevice::WriteOnly))
            file.write(encoded(image, format));
        return path;
    }

    QTemporaryDir config;
    testing::PrivateSessionBus bus;
    Child sim;
    std::string simAddress;
    QProcessEnvironment environment;
};

TEST_F(AppEndToEndTest, PostedCoversColourTheEnabledLampsOncePerCoverInCollectionOrder)
{
    writeSelection();
    Child app;
    startApp(app);
    control(HttpMethod::Delete, "/sim/requests");

    ASSERT_EQ(postCover(saveCover(redAndBlueCover(), QStringLiteral("cover.png"), "PNG")), 0);
    ASSERT_TRUE(waitForPuts(2)) << app.output().toStdString();

    // A second cover, a flat green JPEG: its requests follow the first cover's, with none between.
    QImage green(64, 64, QImage::Format_RGB32);
    green.fill(QColor(0, 200, 0));
    ASSERT_EQ(postCover(saveCover(green, QStringLiteral("green.jpg"), "JPEG")), 0);
    ASSERT_TRUE(waitForPuts(4)) << app.output().toStdString();

    EXPECT_EQ(puts(), (std::vector<Request>{{"PUT", "/api/alice/lights/1/state", kRedBody},
                                            {"PUT", "/api/alice/lights/3/state", kBlueBody},
                                            {"PUT", "/api/alice/lights/1/state", kGreenBody},
                                            {"PUT", "/api/alice/lights/3/state", kGreenBody}}));
}

TEST_F(AppEndToEndTest, ACoverPostedWithGdbusReachesTheLamps)
{
    writeSelection();
    Child app;
    startApp(app);
    control(HttpMethod::Delete, "/sim/requests");

    QImage green(4, 4, QImage::Format_RGB32);
    green.fill(QColor(0, 200, 0));
    QStringList bytes;
    for (const char byte : encoded(green, "PNG"))
        bytes << QStringLiteral("0x%1").arg(static_cast<unsigned char>(byte), 2, 16, QLatin1Char('0'));
    QProcess gdbus;
    gdbus.setProcessEnvironment(environment);
    gdbus.start(QStringLiteral("gdbus"),
                {QStringLiteral("emit"), QStringLiteral("--session"), QStringLiteral("--object-path"),
                 QStringLiteral("/org/glowcast/Notifications"), QStringLiteral("--signal"),
                 QStringLiteral("org.glowcast.DistributedNotifications.Posted"),
                 QStringLiteral("CoverdeckAlbumCoverChanged"), QStringLiteral("Coverdeck"),
                 QStringLiteral("{'cover': <@ay [%1]>}").arg(bytes.join(QStringLiteral(", ")))});
    ASSERT_TRUE(gdbus.waitForFinished(15'000));
    ASSERT_EQ(gdbus.exitCode(), 0) << gdbus.readAllStandardError().toStdString();

    ASSERT_TRUE(waitForPuts(2)) << app.output().toStdString();
    EXPECT_EQ(puts(), (std::vector<Request>{{"PUT", "/api/alice/lights/1/state", kGreenBody},
                                            {"PUT", "/api/alice/lights/3/state", kGreenBody}}));
}

TEST_F(AppEndToEndTest, ANotificationFromAnotherObjectIsIgnored)
{
    writeSelection();
    Child app;
    startApp(app);
    control(HttpMethod::Delete, "/sim/requests");

    QProcess gdbus;
    gdbus.setProcessEnvironment(environment);
    gdbus.start(QStringLiteral("gdbus"),
                {QStringLiteral("emit"), QStringLiteral("--session"), QStringLiteral("--object-path"),
                 QStringLiteral("/org/glowcast/Notifications"), QStringLiteral("--signal"),
                 QStringLiteral("org.glowcast.DistributedNotifications.Posted"),
                 QStringLiteral("CoverdeckAlbumCoverChanged"), QStringLiteral("SomeoneElse"),
                 QStringLiteral("{'cover': <@ay [0x01]>}")});
    ASSERT_TRUE(gdbus.waitForFinished(15'000));
    // Then a proper one: only its requests arrive.
    ASSERT_EQ(postCover(saveCover(redAndBlueCover(), QStringLiteral("cover.png"), "PNG")), 0);
    ASSERT_TRUE(waitForPuts(2));
    EXPECT_EQ(puts(), (std::vector<Request>{{"PUT", "/api/alice/lights/1/state", kRedBody},
                                            {"PUT", "/api/alice/lights/3/state", kBlueBody}}));
}

TEST_F(AppEndToEndTest, SigtermSavesTheSelectionAndARestartRestoresIt)
{
    writeSelection();
    {
        Child app;
        startApp(app);
        app.signal(SIGTERM);
        ASSERT_TRUE(app.waitForExit());
        EXPECT_EQ(app.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(app.exitCode(), 0);
        EXPECT_TRUE(app.output().contains("hub should terminate"));
    }
    // The bridge's lamps in its order, each with the user's choice; lamp 9 is gone.
    const QJsonArray lamps = preferences().value(QStringLiteral("lamps")).toArray();
    ASSERT_EQ(lamps.size(), 3);
    EXPECT_EQ(lamps[0].toObject().value(QStringLiteral("id")).toString(), QStringLiteral("1"));
    EXPECT_TRUE(lamps[0].toObject().value(QStringLiteral("enabled")).toBool());
    EXPECT_FALSE(lamps[1].toObject().value(QStringLiteral("enabled")).toBool());
    EXPECT_EQ(lamps[2].toObject().value(QStringLiteral("id")).toString(), QStringLiteral("3"));
    EXPECT_TRUE(lamps[2].toObject().value(QStringLiteral("enabled")).toBool());

    Child restarted;
    startApp(restarted);
    control(HttpMethod::Delete, "/sim/requests");
    ASSERT_EQ(postCover(saveCover(redAndBlueCover(), QStringLiteral("cover.png"), "PNG")), 0);
    ASSERT_TRUE(waitForPuts(2));
    EXPECT_EQ(puts()[0].path, "/api/alice/lights/1/state");
    EXPECT_EQ(puts()[1].path, "/api/alice/lights/3/state");

    restarted.signal(SIGINT);
    ASSERT_TRUE(restarted.waitForExit());
    EXPECT_EQ(restarted.exitCode(), 0);
    EXPECT_EQ(preferences().value(QStringLiteral("lamps")).toArray().size(), 3);
}

TEST_F(AppEndToEndTest, QuittingWhilePairingWaitsKeepsTheSavedSelection)
{
    // A bridge address where nothing answers: the set-up ends up pairing, which waits and retries.
    const QByteArray saved = R"({"username":"alice","lastusedbridgeIP":"127.0.0.1:9",)"
                             R"("lamps":[{"id":"1","name":"Desk","enabled":true}]})";
    writePreferences(saved);
    environment.remove(QStringLiteral("GLOWCAST_PORTAL"));
    Child app;
    ASSERT_TRUE(app.start(QStringLiteral(GLOWCAST_APP), {}, environment));
    ASSERT_TRUE(app.waitForOutput("no response from Portal API")) << app.output().toStdString();

    // The first signal waits for the pairing to end; a second one quits at once.
    app.signal(SIGTERM);
    ASSERT_TRUE(app.waitForOutput("signal 15 received, quitting"));
    app.signal(SIGTERM);
    ASSERT_TRUE(app.waitForExit());
    EXPECT_EQ(app.exitCode(), 0);
    EXPECT_TRUE(app.output().contains("no lamp list was read, keeping the saved selection"));
    const QJsonArray lamps = preferences().value(QStringLiteral("lamps")).toArray();
    ASSERT_EQ(lamps.size(), 1);
    EXPECT_EQ(lamps[0].toObject().value(QStringLiteral("id")).toString(), QStringLiteral("1"));
    EXPECT_TRUE(lamps[0].toObject().value(QStringLiteral("enabled")).toBool());
}

TEST_F(AppEndToEndTest, ACorruptPreferencesFileIsKeptAsideAndTheProgramStillStarts)
{
    const QByteArray corrupt = "{\"username\": \"alice\", \"lamps\": [tru";
    writePreferences(corrupt);
    Child app;
    startApp(app); // pairs afresh: the simulator presses its link button a second after asking

    const QStringList aside =
        QDir(config.path()).entryList({QStringLiteral("preferences.json.corrupt-*")}, QDir::Files);
    ASSERT_EQ(aside.size(), 1);
    QFile kept(config.filePath(aside[0]));
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), corrupt);
    EXPECT_FALSE(preferences().value(QStringLiteral("username")).toString().isEmpty());

    app.signal(SIGTERM);
    ASSERT_TRUE(app.waitForExit());
    EXPECT_EQ(preferences().value(QStringLiteral("lamps")).toArray().size(), 3);
}

} // namespace
} // namespace glowcast

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
