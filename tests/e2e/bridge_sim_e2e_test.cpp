// The real HTTP adapter and the bridge client against the bridge simulator, started by each test
// on a free loopback port.

#include "../../tools/bridge_sim/lamp_light.h"
#include "adapters/qt_http_transport.h"
#include "adapters/qt_sleeper.h"
#include "core/bridge_bridge.h"
#include "core/json_codec.h"
#include "fakes/fake_platform.h"
#include "fakes/fake_preferences.h"
#include "fakes/recording_log.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>

namespace glowcast {
namespace {

using namespace std::chrono_literals;

// The simulator as a child process; stopped when the test ends.
class Simulator {
public:
    explicit Simulator(const QStringList& arguments = {})
    {
        m_process.setProgram(QStringLiteral(GLOWCAST_BRIDGE_SIM));
        m_process.setArguments(QStringList{QStringLiteral("--port"), QStringLiteral("0")} + arguments);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start();
        if (!m_process.waitForStarted(10'000))
            return;
        for (int i = 0; i < 100 && !m_process.canReadLine(); ++i)
            m_process.waitForReadyRead(100);
        const QString line = QString::fromUtf8(m_process.readLine()).trimmed();
        if (line.startsWith(QStringLiteral("listening on ")))
            m_address = line.mid(13).toStdString();
    }
    ~Simulator()
    {
        m_process.terminate();
        if (!m_process.waitForFinished(5'000))
            m_process.kill();
        m_process.waitForFinished(5'000);
    }
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // "127.0.0.1:PORT", or empty when the simulator did not start.
    [[nodiscard]] const std::string& address() const { return m_address; }

    // A control request under "/sim/"; returns the reply body.
    std::string control(HttpMethod method, const std::string& path, const std::string& body = {})
    {
        RecordingLog log;
        QtHttpTransport http{log, {5s, std::size_t{8} << 20}};
        return http.send({method, "http://" + m_address + path, body, 5s}).value_or("");
    }

    [[nodiscard]] QJsonArray requests()
    {
        return QJsonDocument::fromJson(QByteArray::fromStdString(control(HttpMethod::Get, "/sim/requests"))).array();
    }

private:
    QProcess m_process;
    std::string m_address;
};

// Calls a hook on each sleep instead of waiting, so a test can act between pairing attempts.
class HookSleeper final : public Sleeper {
public:
    std::function<void(int)> onSleep;
    int calls = 0;
    std::chrono::milliseconds slept{0};
    void sleep(std::chrono::milliseconds duration) override
    {
        ++calls;
        slept += duration;
        if (onSleep)
            onSleep(calls);
    }
};

class BridgeSimulatorTest : public ::testing::Test {
protected:
    Simulator sim{{QStringLiteral("--lamps"), QStringLiteral("3"), QStringLiteral("--user"), QStringLiteral("alice")}};
    RecordingLog log;
    QtHttpTransport http{log, {1500ms, std::size_t{8} << 20}};
    FakePreferences prefs;
    HookSleeper sleeper;
    FakePushButtonWindow window;
    FakeAlert alert;
    std::unique_ptr<BridgeBridge> client;

    void SetUp() override { ASSERT_FALSE(sim.address().empty()) << "the simulator did not start"; }

    BridgeBridge& bridge(std::optional<std::string> portal)
    {
        client = std::make_unique<BridgeBridge>(http, prefs, sleeper, log, window, alert, std::move(portal));
        return *client;
    }

    // A client that knows the simulator and the user "alice".
    BridgeBridge& pairedBridge()
    {
        prefs.texts["lastusedbridgeIP"] = sim.address();
        prefs.texts["username"] = "alice";
        return bridge(std::nullopt);
    }

    void setFault(const std::string& json) { sim.control(HttpMethod::Post, "/sim/faults", json); }

    [[nodiscard]] bool logged(const std::string& line) const
    {
        return std::find(log.lines.begin(), log.lines.end(), line) != log.lines.end();
    }
};

TEST_F(BridgeSimulatorTest, DiscoveryThroughThePortalFindsTheSimulator)
{
    BridgeBridge& b = bridge(sim.address());
    b.discoverBridge();
    EXPECT_EQ(b.bridgeIP(), sim.address());
    EXPECT_EQ(prefs.text("lastusedbridgeIP"), sim.address());
    const QJsonArray requests = sim.requests();
    ASSERT_EQ(requests.size(), 1);
    EXPECT_EQ(requests[0][QStringLiteral("method")].toString(), QStringLiteral("GET"));
    EXPECT_EQ(requests[0][QStringLiteral("path")].toString(), QStringLiteral("/api/nupnp"));
}

TEST_F(BridgeSimulatorTest, PairsWhenTheButtonIsPressedAfterTheSecondAttempt)
{
    prefs.texts["lastusedbridgeIP"] = sim.address();
    sleeper.onSleep = [this](int calls) {
        if (calls == 2)
            sim.control(HttpMethod::Post, "/sim/linkbutton", "{}");
    };
    BridgeBridge& b = bridge(std::nullopt);
    ASSERT_TRUE(b.logIn());
    EXPECT_EQ(sleeper.calls, 3);
    EXPECT_EQ(sleeper.slept, 7500ms);
    EXPECT_EQ(std::count(log.lines.begin(), log.lines.end(), "Bridge Error: link button not pressed"), 2);

    const QJsonArray requests = sim.requests();
    ASSERT_EQ(requests.size(), 3);
    for (const QJsonValue request : requests) {
        EXPECT_EQ(request[QStringLiteral("method")].toString(), QStringLiteral("POST"));
        EXPECT_EQ(request[QStringLiteral("path")].toString(), QStringLiteral("/api"));
        EXPECT_EQ(request[QStringLiteral("body")].toString(),
                  QStringLiteral(R"({"devicetype":"com.tallowbrook.Glowcast"})"));
    }
    // The bridge knows the new user name: the lamps can be read with it.
    const std::optional<std::string> username = prefs.text("username");
    ASSERT_TRUE(username);
    EXPECT_EQ(username->size(), 32u);
    EXPECT_TRUE(b.sendGETRequestToUrl("lights").has_value());
}

TEST_F(BridgeSimulatorTest, LampListKeepsAccentedNames)
{
    sim.control(HttpMethod::Post, "/sim/lamps", R"({"names":["Küche","Salle à manger","Lamp 3"]})");
    const std::optional<std::string> reply = pairedBridge().sendGETRequestToUrl("lights");
    ASSERT_TRUE(reply);
    const Dictionary lamps = dictionaryFromJSON(*reply, log);
    ASSERT_EQ(lamps.keys(), (std::vector<std::string>{"1", "2", "3"}));
    EXPECT_EQ(lamps.dictionary("1")->text("name"), "K\xC3\xBC"
                                                   "che");
    EXPECT_EQ(lamps.dictionary("2")->text("name"), "Salle \xC3\xA0 manger");
}

TEST_F(BridgeSimulatorTest, LampStatePutArrivesByteForByteAndChangesTheLamp)
{
    EXPECT_TRUE(pairedBridge().sendPUTRequest(Dictionary{{"bri", 200.0}, {"xy", "[0.412,0.377]"}}, "lights/2/state"));
    const QJsonArray requests = sim.requests();
    ASSERT_EQ(requests.size(), 1);
    EXPECT_EQ(requests[0][QStringLiteral("method")].toString(), QStringLiteral("PUT"));
    EXPECT_EQ(requests[0][QStringLiteral("path")].toString(), QStringLiteral("/api/alice/lights/2/state"));
    EXPECT_EQ(requests[0][QStringLiteral("body")].toString().toStdString(), R"({"bri":200,"xy":[0.412,0.377]})");

    const QJsonObject state =
        QJsonDocument::fromJson(QByteArray::fromStdString(sim.control(HttpMethod::Get, "/sim/state"))).object();
    const QJsonObject lamp = state[QStringLiteral("lamps")].toArray()[1].toObject();
    EXPECT_EQ(lamp[QStringLiteral("bri")].toInt(), 200);
    EXPECT_DOUBLE_EQ(lamp[QStringLiteral("xy")].toArray()[0].toDouble(), 0.412);
    // The live page shows the lamp in the colour that state gives off.
    EXPECT_EQ(lamp[QStringLiteral("colour")].toString().toStdString(),
              sim::hexColour(sim::srgbFromXyBri(0.412, 0.377, 200)));
    const std::string page = sim.control(HttpMethod::Get, "/");
    EXPECT_NE(page.find("<title>Glowcast bridge simulator</title>"), std::string::npos);
    EXPECT_NE(page.find("fetch(\"/sim/state\""), std::string::npos);
}

TEST_F(BridgeSimulatorTest, ConsecutiveRequestsAllArriveInOrder)
{
    BridgeBridge& b = pairedBridge();
    for (int i = 1; i <= 10; ++i)
        EXPECT_TRUE(b.sendPUTRequest(Dictionary{{"bri", i}, {"sat", 0}}, "lights/1/state"));
    EXPECT_TRUE(b.sendPOSTRequest(Dictionary{{"name", "Hall"}}, "groups").has_value());
    EXPECT_EQ(b.sendDELETERequestToUrl("groups/1"), R"([{"success":"/groups/1 deleted"}])");
    const QJsonArray requests = sim.requests();
    ASSERT_EQ(requests.size(), 12);
    EXPECT_EQ(requests[9][QStringLiteral("body")].toString(), QStringLiteral(R"({"bri":10,"sat":0})"));
    EXPECT_EQ(requests[10][QStringLiteral("method")].toString(), QStringLiteral("POST"));
    EXPECT_EQ(requests[11][QStringLiteral("method")].toString(), QStringLiteral("DELETE"));
    EXPECT_EQ(requests[11][QStringLiteral("body")].toString(), QString());
    // All twelve went over one kept-alive connection.
    const int port = requests[0][QStringLiteral("port")].toInt();
    EXPECT_GT(port, 0);
    for (const QJsonValue request : requests)
        EXPECT_EQ(request[QStringLiteral("port")].toInt(), port);
}

TEST_F(BridgeSimulatorTest, UnknownUserAndUnknownLampAreBridgeErrors)
{
    prefs.texts["lastusedbridgeIP"] = sim.address();
    prefs.texts["username"] = "mallory";
    EXPECT_EQ(bridge(std::nullopt).sendGETRequestToUrl("lights"), std::nullopt);
    EXPECT_TRUE(logged("Bridge Error: unauthorized user"));
    prefs.texts["username"] = "alice";
    EXPECT_FALSE(client->sendPUTRequest(Dictionary{{"bri", 1}}, "lights/9/state"));
    EXPECT_TRUE(logged("Bridge Error: resource, /lights/9/state, not available"));
}

// ---- injected faults, with a 1.5-second timeout in place of 30 ----

TEST_F(BridgeSimulatorTest, NoAnswerTimesOutAsNoReply)
{
    BridgeBridge& b = pairedBridge();
    setFault(R"({"mode":"noanswer"})");
    EXPECT_FALSE(b.sendPUTRequest(Dictionary{{"bri", 1}}, "lights/1/state"));
    EXPECT_TRUE(logged("no response from Bridge"));
    EXPECT_TRUE(logged("HTTP PUT http://" + sim.address() + "/api/alice/lights/1/state: no reply within 1500 ms"));
    sim.control(HttpMethod::Delete, "/sim/faults");
    // The client is usable afterwards.
    EXPECT_TRUE(b.sendPUTRequest(Dictionary{{"bri", 2}}, "lights/1/state"));
}

TEST_F(BridgeSimulatorTest, DroppedConnectionIsNoReply)
{
    BridgeBridge& b = pairedBridge();
    setFault(R"({"mode":"drop","count":1})");
    EXPECT_EQ(b.sendGETRequestToUrl("lights"), std::nullopt);
    EXPECT_TRUE(logged("no response from Bridge"));
    EXPECT_TRUE(b.sendGETRequestToUrl("lights").has_value());
}

TEST_F(BridgeSimulatorTest, ErrorStatusWithJsonBodyIsAReply)
{
    BridgeBridge& b = pairedBridge();
    setFault(R"({"mode":"status","status":500,"body":"{\"message\":\"busy\"}","count":1})");
    EXPECT_TRUE(b.sendPUTRequest(Dictionary{{"bri", 1}}, "lights/1/state"));
    setFault(R"({"mode":"status","status":503,"count":1})");
    EXPECT_TRUE(b.sendGETRequestToUrl("lights").has_value());
    setFault(R"({"mode":"status","status":400,"body":"[{\"error\":{\"description\":\"bad\"}}]","count":1})");
    EXPECT_FALSE(b.sendPUTRequest(Dictionary{{"bri", 1}}, "lights/1/state"));
    EXPECT_TRUE(logged("Bridge Error: bad"));
}

TEST_F(BridgeSimulatorTest, ZeroByteReplyIsAReply)
{
    setFault(R"({"mode":"status","status":200,"body":"","count":1})");
    EXPECT_EQ(pairedBridge().sendGETRequestToUrl("lights"), "");
    EXPECT_FALSE(logged("no response from Bridge"));
}

TEST_F(BridgeSimulatorTest, GarbageBodyIsReadWithReplacementCharacters)
{
    setFault(R"({"mode":"garbage","count":1})");
    const std::optional<std::string> reply = pairedBridge().sendGETRequestToUrl("lights");
    ASSERT_TRUE(reply);
    EXPECT_NE(reply->find("\xEF\xBF\xBD"), std::string::npos);
    EXPECT_EQ(QString::fromStdString(*reply).toStdString(), *reply); // valid UTF-8 throughout
}

TEST_F(BridgeSimulatorTest, OversizedBodyIsNoReply)
{
    BridgeBridge& b = pairedBridge();
    setFault(R"({"mode":"oversized","count":1})");
    EXPECT_EQ(b.sendGETRequestToUrl("lights"), std::nullopt);
    EXPECT_TRUE(logged("no response from Bridge"));
    // Just under the cap still counts.
    setFault(R"({"mode":"oversized","size":8388608,"count":1})");
    const std::optional<std::string> reply = b.sendGETRequestToUrl("lights");
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->size(), 8388608u);
}

TEST_F(BridgeSimulatorTest, LatencyWithinTheTimeoutStillAnswers)
{
    setFault(R"({"mode":"none","latency_ms":300,"count":1})");
    EXPECT_TRUE(pairedBridge().sendPUTRequest(Dictionary{{"bri", 3}}, "lights/1/state"));
}

TEST_F(BridgeSimulatorTest, SilentPortalAndSilentBridgeDuringPairing)
{
    setFault(R"({"mode":"noanswer","count":2})");
    prefs.texts["lastusedbridgeIP"] = sim.address();
    sleeper.onSleep = [this](int calls) {
        if (calls == 1)
            sim.control(HttpMethod::Post, "/sim/linkbutton", "{}");
    };
    BridgeBridge& b = bridge(sim.address());
    // The portal does not answer: the stored address serves. The first pairing attempt does not
    // answer either; the second, after the press, is accepted.
    EXPECT_TRUE(b.logIn());
    EXPECT_TRUE(logged("no response from Portal API, using last used bridge IP"));
    EXPECT_TRUE(logged("no response from Portal API"));
    EXPECT_EQ(sleeper.calls, 2);
    sim.control(HttpMethod::Delete, "/sim/faults");
}

struct CommandResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

CommandResult runCtl(const QStringList& arguments, const QProcessEnvironment& environment)
{
    QProcess ctl;
    ctl.setProcessEnvironment(environment);
    ctl.start(QStringLiteral(GLOWCAST_CTL), arguments);
    CommandResult result;
    if (!ctl.waitForFinished(120'000)) {
        ctl.kill();
        ctl.waitForFinished(5'000);
        return result;
    }
    result.exitCode = ctl.exitStatus() == QProcess::NormalExit ? ctl.exitCode() : -1;
    result.out = ctl.readAllStandardOutput().toStdString();
    result.err = ctl.readAllStandardError().toStdString();
    return result;
}

// As a user would: discover through the portal, pair while the button is pressed a moment after
// the first attempt, list the lamps, set one, all in a private preferences directory.
TEST(GlowcastctlTest, DiscoversPairsListsAndSetsALampOnTheSimulator)
{
    Simulator sim{{QStringLiteral("--press-after"), QStringLiteral("1")}};
    ASSERT_FALSE(sim.address().empty());
    sim.control(HttpMethod::Post, "/sim/lamps", R"({"names":["Küche","Hall"]})");
    QTemporaryDir config;
    ASSERT_TRUE(config.isValid());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("GLOWCAST_PORTAL"), QString::fromStdString(sim.address()));
    environment.insert(QStringLiteral("GLOWCAST_CONFIG_DIR"), config.path());

    const CommandResult discover = runCtl({QStringLiteral("discover")}, environment);
    EXPECT_EQ(discover.exitCode, 0) << discover.err;
    EXPECT_EQ(discover.out, sim.address() + "\n");

    const CommandResult pair = runCtl({QStringLiteral("pair")}, environment);
    EXPECT_EQ(pair.exitCode, 0) << pair.err;
    EXPECT_EQ(pair.out, "paired with the bridge at " + sim.address() + "\n");
    EXPECT_NE(pair.err.find("Press the link button on your lighting bridge now"), std::string::npos);
    EXPECT_NE(pair.err.find("Bridge Error: link button not pressed"), std::string::npos);

    const CommandResult lights = runCtl({QStringLiteral("lights")}, environment);
    EXPECT_EQ(lights.exitCode, 0) << lights.err;
    EXPECT_EQ(lights.out, "1\tK\xC3\xBC"
                          "che\n2\tHall\n");

    const CommandResult set = runCtl(
        {QStringLiteral("set"), QStringLiteral("2"), QStringLiteral("255"), QStringLiteral("0"), QStringLiteral("0")},
        environment);
    EXPECT_EQ(set.exitCode, 0) << set.err;
    const QJsonArray requests = sim.requests();
    ASSERT_FALSE(requests.isEmpty());
    const QJsonValue last = requests.last();
    EXPECT_EQ(last[QStringLiteral("method")].toString(), QStringLiteral("PUT"));
    EXPECT_TRUE(last[QStringLiteral("path")].toString().endsWith(QStringLiteral("/lights/2/state")));
    const std::string body = last[QStringLiteral("body")].toString().toStdString();
    EXPECT_TRUE(body == R"({"bri":255,"xy":[0.640,0.330]})" || body == R"({"xy":[0.640,0.330],"bri":255})") << body;

    // A bad colour is a bad command line, and nothing is sent.
    const CommandResult bad = runCtl(
        {QStringLiteral("set"), QStringLiteral("2"), QStringLiteral("256"), QStringLiteral("0"), QStringLiteral("0")},
        environment);
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_EQ(sim.requests().size(), requests.size());
}

TEST(QtHttpTransportTest, RefusedConnectionAndInvalidUrlsAreNoReply)
{
    RecordingLog log;
    QtHttpTransport http{log, {2s, std::size_t{8} << 20}};
    // Port 9 (discard) is closed on loopback in the test environment.
    EXPECT_EQ(http.send({HttpMethod::Get, "http://127.0.0.1:9/api/nupnp", "", 30s}), std::nullopt);
    EXPECT_EQ(http.send({HttpMethod::Get, "http://bad host/api", "", 30s}), std::nullopt);
    EXPECT_EQ(http.send({HttpMethod::Get, "ftp://127.0.0.1/api", "", 30s}), std::nullopt);
    ASSERT_EQ(log.lines.size(), 3u);
    EXPECT_EQ(log.lines[1], "HTTP GET http://bad host/api not sent: not a valid http URL");
}

} // namespace
} // namespace glowcast

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
