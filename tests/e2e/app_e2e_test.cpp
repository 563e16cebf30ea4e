// The whole program with real processes: glowcast under a private session bus, the bridge
// simulator on a loopback port, covers posted by glowcast-post-cover and by gdbus.

#include "adapters/dbus_notification_centre.h"
#include "support/processes.h"
#include "support/private_session_bus.h"

#include <QBuffer>
#include <QDBusConnection>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace glowcast::testing {
namespace {

const QString kApp = QStringLiteral(GLOWCAST_APP);
const QByteArray kListening = "registering for notifications";
const std::string kRed = "PUT /api/alice/lights/1/state {\"bri\":255,\"xy\":[0.640,0.330]}";
const std::string kBlue = "PUT /api/alice/lights/3/state {\"bri\":96,\"xy\":[0.150,0.060]}";
const std::string kGreen1 = "PUT /api/alice/lights/1/state {\"bri\":96,\"xy\":[0.410,0.510]}";
const std::string kGreen3 = "PUT /api/alice/lights/3/state {\"bri\":96,\"xy\":[0.410,0.510]}";

QImage flat(const QColor& colour, int side)
{
    QImage image(side, side, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

// Two thirds pure red, one third (0, 0, 200): lamp 1 gets red, lamp 3 blue.
QImage redAndBlueCover()
{
    QImage cover = flat(QColor(0, 0, 200), 300);
    QPainter(&cover).fillRect(0, 0, 300, 200, QColor(255, 0, 0));
    return cover;
}

class AppEndToEndTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(config.isValid());
        ASSERT_FALSE(bus.address().isEmpty()) << "no private session bus";
        ASSERT_FALSE(sim.address.empty()) << "the simulator did not start";
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus.address());
        environment.insert(QStringLiteral("GLOWCAST_CONFIG_DIR"), config.path());
        environment.insert(QStringLiteral("GLOWCAST_PORTAL"), QString::fromStdString(sim.address));
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    }

    void writePreferences(const QByteArray& text)
    {
        QFile file(config.filePath(QStringLiteral("preferences.json")));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text);
    }
    // Known to the bridge as "alice", lamps 1 and 3 of 1..3 enabled, and a lamp 9 it no longer has.
    void writeSelection()
    {
        writePreferences(QByteArray::fromStdString(
            R"({"username":"alice","lastusedbridgeIP":")" + sim.address +
            R"(","lamps":[{"id":"9","name":"Gone","enabled":true},{"id":"1","name":"Lamp 1","enabled":true},)"
            R"({"id":"2","name":"Lamp 2","enabled":false},{"id":"3","name":"Lamp 3","enabled":true}]})"));
    }
    [[nodiscard]] QJsonObject preferences() const
    {
        QFile file(config.filePath(QStringLiteral("preferences.json")));
        return file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()).object() : QJsonObject();
    }
    // The saved lamps as "id+" (enabled) or "id-", in order.
    [[nodiscard]] std::string savedLamps() const
    {
        std::string out;
        for (const QJsonValue lamp : preferences()[QStringLiteral("lamps")].toArray())
            out += (out.empty() ? "" : " ") + lamp[QStringLiteral("id")].toString().toStdString() +
                   (lamp[QStringLiteral("enabled")].toBool() ? "+" : "-");
        return out;
    }

    bool postCover(const QImage& image, const char* format)
    {
        const QString path = config.filePath(QStringLiteral("cover.") + QLatin1String(format));
        image.save(path, format);
        return Child(QStringLiteral(GLOWCAST_POST_COVER), {path}, environment).exitCode() == 0;
    }
    static QByteArray png(const QImage& image)
    {
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "PNG");
        return bytes;
    }
    bool gdbusEmit(const QString& name, const QString& object, const QImage& image)
    {
        const QString list = QString::fromLatin1("0x" + png(image).toHex(',').replace(",", ", 0x"));
        return Child(QStringLiteral("gdbus"),
                     {QStringLiteral("emit"), QStringLiteral("--session"), QStringLiteral("--object-path"),
                      QStringLiteral("/org/glowcast/Notifications"), QStringLiteral("--signal"),
                      QStringLiteral("org.glowcast.DistributedNotifications.Posted"), name, object,
                      QStringLiteral("{'cover': <@ay [%1]>}").arg(list)},
                     environment)
                   .exitCode() == 0;
    }
    // Waits for as many lamp-state requests as expected, then compares them all.
    void expectPuts(const std::vector<std::string>& expected)
    {
        EXPECT_TRUE(waitFor([&] { return sim.requests(QStringLiteral("PUT")).size() >= expected.size(); }));
        EXPECT_EQ(sim.requests(QStringLiteral("PUT")), expected);
    }

    QTemporaryDir config;
    testing::PrivateSessionBus bus;
    Simulator sim{{QStringLiteral("--lamps"), QStringLiteral("3"), QStringLiteral("--user"), QStringLiteral("alice"),
                   QStringLiteral("--press-after"), QStringLiteral("1")}};
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
};

TEST_F(AppEndToEndTest, CoversPostedByTheToolAndByGdbusColourTheEnabledLampsInOrder)
{
    writeSelection();
    Child app{kApp, {}, environment};
    ASSERT_TRUE(app.waitForOutput(kListening)) << app.output().toStdString();
    sim.control(HttpMethod::Delete, "/sim/requests");

    ASSERT_TRUE(postCover(redAndBlueCover(), "PNG"));
    ASSERT_TRUE(postCover(flat(QColor(0, 200, 0), 64), "JPEG"));
    // Only the registered name from the registered object is delivered: these two red covers are not.
    ASSERT_TRUE(
        gdbusEmit(QStringLiteral("CoverdeckAlbumCoverChanged"), QStringLiteral("SomeoneElse"), redAndBlueCover()));
    ASSERT_TRUE(gdbusEmit(QStringLiteral("SomethingElseChanged"), QStringLiteral("Coverdeck"), redAndBlueCover()));
    ASSERT_TRUE(gdbusEmit(QStringLiteral("CoverdeckAlbumCoverChanged"), QStringLiteral("Coverdeck"),
                          flat(QColor(0, 200, 0), 4)));
    expectPuts({kRed, kBlue, kGreen1, kGreen3, kGreen1, kGreen3});
}

TEST_F(AppEndToEndTest, LampIdsThatWouldReachAnotherResourceAreLeftOut)
{
    sim.control(HttpMethod::Post, "/sim/lamps",
                R"({"lamps":[{"id":"1","name":"Desk"},{"id":"1/../../../../evil","name":"Evil"},)"
                R"({"id":"..","name":"Up"},{"id":"7/..","name":"Seven"}]})");
    writePreferences(
        QByteArray::fromStdString(R"({"username":"alice","lastusedbridgeIP":")" + sim.address +
                                  R"(","lamps":[{"id":"1","enabled":true},{"id":"1/../../../../evil","enabled":true},)"
                                  R"({"id":"..","enabled":true},{"id":"7/..","enabled":true}]})"));
    Child app{kApp, {}, environment};
    ASSERT_TRUE(app.waitForOutput(kListening)) << app.output().toStdString();
    EXPECT_TRUE(app.output().contains("lamp '7/..' has an id that cannot stand in a URL path, left out"));
    sim.control(HttpMethod::Delete, "/sim/requests");
    ASSERT_TRUE(postCover(redAndBlueCover(), "PNG"));
    ASSERT_TRUE(waitFor([&] { return !sim.requests(QStringLiteral("PUT")).empty(); }));
    // The next cover's request comes after whatever the first one sent.
    ASSERT_TRUE(postCover(flat(QColor(0, 200, 0), 64), "PNG"));
    expectPuts({kRed, kGreen1});
}

TEST_F(AppEndToEndTest, CoversThatPileUpBehindASlowBridgeEndWithTheNewest)
{
    writeSelection();
    Child app{kApp, {}, environment};
    ASSERT_TRUE(app.waitForOutput(kListening)) << app.output().toStdString();
    sim.control(HttpMethod::Post, "/sim/faults", R"({"mode":"none","latency_ms":300})");
    sim.control(HttpMethod::Delete, "/sim/requests");
    const QDBusConnection poster = QDBusConnection::connectToBus(bus.address(), QStringLiteral("poster"));
    for (int i = 0; i < 30; ++i) {
        Notification cover{"CoverdeckAlbumCoverChanged", "Coverdeck", {}};
        const QByteArray bytes = png(i == 29 ? redAndBlueCover() : flat(QColor(0, 200, 0), 8 + i));
        cover.userInfo["cover"].assign(bytes.begin(), bytes.end());
        ASSERT_TRUE(postNotification(poster, cover).posted);
    }
    // The first cover, then the newest: what came between is dropped, not sent 300 ms a lamp late.
    const auto endsWithTheNewest = [&] {
        const std::vector<std::string> puts = sim.requests(QStringLiteral("PUT"));
        return puts.size() >= 2 && puts.end()[-2] == kRed && puts.back() == kBlue;
    };
    ASSERT_TRUE(waitFor(endsWithTheNewest)) << app.output().toStdString();
    EXPECT_LE(sim.requests(QStringLiteral("PUT")).size(), 6u);
    EXPECT_TRUE(app.output().contains("the waiting one is dropped"));
}

TEST_F(AppEndToEndTest, SigtermSavesTheSelectionAndARestartRestoresIt)
{
    writeSelection();
    {
        Child app{kApp, {}, environment};
        ASSERT_TRUE(app.waitForOutput(kListening)) << app.output().toStdString();
        app.signal(SIGTERM);
        ASSERT_EQ(app.exitCode(), 0);
        EXPECT_TRUE(app.output().contains("hub should terminate"));
    }
    EXPECT_EQ(savedLamps(), "1+ 2- 3+"); // the bridge's lamps with the user's choices; lamp 9 is gone

    Child restarted{kApp, {}, environment};
    ASSERT_TRUE(restarted.waitForOutput(kListening)) << restarted.output().toStdString();
    sim.control(HttpMethod::Delete, "/sim/requests");
    ASSERT_TRUE(postCover(redAndBlueCover(), "PNG"));
    expectPuts({kRed, kBlue});
    restarted.signal(SIGINT);
    ASSERT_EQ(restarted.exitCode(), 0);
    EXPECT_EQ(savedLamps(), "1+ 2- 3+");
}

TEST_F(AppEndToEndTest, QuittingWhilePairingWaitsKeepsTheSavedSelection)
{
    // Nothing answers at that address and there is no portal: the set-up ends up pairing, which waits.
    writePreferences(
        R"({"username":"alice","lastusedbridgeIP":"127.0.0.1:9","lamps":[{"id":"1","name":"Desk","enabled":true}]})");
    environment.remove(QStringLiteral("GLOWCAST_PORTAL"));
    Child app{kApp, {}, environment};
    ASSERT_TRUE(app.waitForOutput("no response from Portal API")) << app.output().toStdString();

    // The first signal waits for the pairing to end; a second one quits at once.
    app.signal(SIGTERM);
    ASSERT_TRUE(app.waitForOutput("signal 15 received, quitting"));
    app.signal(SIGTERM);
    ASSERT_EQ(app.exitCode(), 0);
    EXPECT_TRUE(app.output().contains("no lamp list was read, keeping the saved selection"));
    EXPECT_EQ(savedLamps(), "1+");
}

TEST_F(AppEndToEndTest, ACorruptPreferencesFileIsKeptAsideAndTheProgramStillStarts)
{
    const QByteArray corrupt = "{\"username\": \"alice\", \"lamps\": [tru";
    writePreferences(corrupt);
    Child app{kApp, {}, environment}; // pairs afresh: the simulator presses its link button by itself
    ASSERT_TRUE(app.waitForOutput(kListening)) << app.output().toStdString();

    const QStringList aside =
        QDir(config.path()).entryList({QStringLiteral("preferences.json.corrupt-*")}, QDir::Files);
    ASSERT_EQ(aside.size(), 1);
    QFile kept(config.filePath(aside[0]));
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), corrupt);
    EXPECT_FALSE(preferences()[QStringLiteral("username")].toString().isEmpty());
    app.signal(SIGTERM);
    ASSERT_EQ(app.exitCode(), 0);
    EXPECT_EQ(savedLamps(), "1- 2- 3-");
}

} // namespace
} // namespace glowcast::testing
