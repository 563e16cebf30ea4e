// The real HTTP adapter and the bridge client against the bridge simulator on a free loopback port,
// then glowcastctl pairing with it through its portal.

#undef QT_NO_CAST_FROM_ASCII // every text here is ASCII

#include "core/bridge/bridge_bridge.h"
#include "support/fake_platform.h"
#include "support/fake_preferences.h"
#include "support/processes.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <set>
#include <tuple>

namespace glowcast::testing {
namespace {

TEST(BridgeSimulatorTest, RequestsArriveInOrderFaultsAndBadUrlsGiveNoReplyOrAReplyAndGlowcastctlPairsAndSets)
{
    Simulator sim{words("--lamps 3 --user alice --press-after 1")};
    ASSERT_FALSE(sim.address.empty()) << "the simulator did not start";
    RecordingLog log;
    QtHttpTransport http{log, {1500ms, std::size_t{8} << 20}}; // 1.5 s in place of the product's 30
    FakePreferences prefs;
    prefs.texts = {{"lastusedbridgeIP", sim.address}, {"username", "alice"}};
    ManualSleeper sleeper;
    FakeLinkButtonPrompt window;
    FakeAlert alert;
    BridgeBridge b{http, prefs, sleeper, log, window, alert, std::nullopt}; // the user "alice", without a portal
    ASSERT_TRUE(b.read("lights"));
    EXPECT_TRUE(b.sendPUTRequest(Dictionary{{"bri", 200.0}, {"xy", "[0.412,0.377]"}}, "lights/2/state"));
    EXPECT_TRUE(b.sendPOSTRequest(Dictionary{{"name", "Hall"}}, "groups"));
    EXPECT_EQ(b.sendDELETERequestToUrl("groups/2"), R"([{"success":"/groups/2 deleted"}])");
    EXPECT_EQ(sim.requests(),
              (std::vector<std::string>{"GET /api/alice/lights",
                                        R"(PUT /api/alice/lights/2/state {"bri":200,"xy":[0.412,0.377]})",
                                        R"(POST /api/alice/groups {"name":"Hall"})", "DELETE /api/alice/groups/2"}));
    // All went over one kept-alive connection.
    std::set<int> ports;
    for (const QJsonValue record : sim.records())
        ports.insert(record["port"].toInt());
    EXPECT_EQ(ports.size(), 1u);

    // The live page, which shows each lamp in the colour its state gives off (LampLightTest).
    EXPECT_NE(sim.control(HttpMethod::Get, "/").find("fetch(\"/sim/state\""), std::string::npos);

    // Injected faults: no reply, or a reply as the bridge expects. Each row: the fault, whether it is
    // answered, what the reply holds when it is, and a log line expected once (when not empty).
    const std::string noReply = "no response from Bridge";
    const std::tuple<std::string, bool, std::string, std::string> rows[] = {
        {R"({"mode":"noanswer"})", false, "",
         "HTTP GET http://" + sim.address + "/api/alice/lights: no reply within 1500 ms"},
        {R"({"mode":"drop"})", false, "", noReply},
        {R"({"mode":"oversized"})", false, "", noReply},
        {R"({"mode":"status","status":400,"body":"[{\"error\":{\"description\":\"bad\"}}]"})", false, "",
         "Bridge Error: bad"},
        {R"({"mode":"none","latency_ms":300})", true, "\"name\"", ""},
    };
    for (const auto& [fault, answered, contains, logLine] : rows) {
        SCOPED_TRACE(fault.substr(0, 80));
        log.lines.clear();
        sim.control(HttpMethod::Post, "/sim/faults", fault.substr(0, fault.size() - 1) + R"(,"count":1})");
        const std::optional<std::string> reply = b.read("lights");
        ASSERT_EQ(reply.has_value(), answered);
        if (reply) {
            EXPECT_NE(reply->find(contains), std::string::npos);
            EXPECT_EQ(log.count(noReply), 0);
        }
        EXPECT_EQ(log.count(logLine), logLine.empty() ? 0 : 1);
        EXPECT_TRUE(b.read("lights")) << "the client is usable afterwards";
    }

    // As a user would: pair through the portal while the button is pressed a moment after the first
    // attempt, in a private preferences directory (a further bridge's lamps listed and set are the
    // service walk's).
    QTemporaryDir config;
    const CommandRun pair = // with -v, the log lines too
        runProgram(GLOWCAST_CTL, words("pair -v"), programEnvironment({}, config.path(), sim.address), 60'000);
    EXPECT_EQ(pair.exitCode, 0) << pair.err;
    EXPECT_EQ(pair.out, "paired with the bridge at " + sim.address + "\n");
    EXPECT_NE(pair.err.find("Press the link button on your lighting bridge now"), std::string::npos);
    EXPECT_NE(pair.err.find("Bridge Error: link button not pressed"), std::string::npos);
    const CommandRun lights = runProgram(GLOWCAST_CTL, words("lights"), programEnvironment({}, config.path()), 30'000);
    EXPECT_EQ(lights.out, "1\tLamp 1\n2\tLamp 2\n3\tLamp 3\n") << lights.err;

    // A refused connection and URLs it cannot send as built are no reply.
    log.lines.clear();
    // Port 9 (discard) is closed on loopback in the test environment. Qt Network would resolve the dots
    // and rewrite the escape: sent exactly as built, or not at all.
    for (const std::string url :
         {"http://127.0.0.1:9/api/nupnp", "http://bad host/api", "ftp://127.0.0.1/api",
          "http://127.0.0.1:9/api/u/lights/1/../../../x/state", "http://127.0.0.1:9/api/%41lice/lights"}) {
        const bool put = url.ends_with("/state");
        EXPECT_EQ(http.send({put ? HttpMethod::Put : HttpMethod::Get, url, put ? "{}" : "", 30s}), std::nullopt) << url;
    }
    ASSERT_EQ(log.lines.size(), 5u);
    EXPECT_EQ(log.lines[1], "HTTP GET http://bad host/api not sent: not a valid http URL");
    EXPECT_EQ(log.lines[3], "HTTP PUT http://127.0.0.1:9/api/u/lights/1/../../../x/state not sent: its path would go "
                            "out as /api/x/state");
    EXPECT_EQ(log.lines[4], "HTTP GET http://127.0.0.1:9/api/%41lice/lights not sent: its path would go out as "
                            "/api/Alice/lights");
}

} // namespace
} // namespace glowcast::testing
