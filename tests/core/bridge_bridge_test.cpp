#include "core/bridge/bridge_bridge.h"

#include "support/fake_http_transport.h"
#include "support/fake_platform.h"
#include "support/fake_preferences.h"
#include "support/recording_log.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

namespace glowcast {
namespace {

using namespace std::chrono_literals;
using Lines = std::vector<std::string>;
using Requests = std::vector<HttpRequest>;

const std::string kRefusal = R"([{"error":{"type":101,"address":"","description":"link button not pressed"}}])";
const std::string kAcceptance = R"([{"success":{"username":"fresh-user-1"}}])";
const std::string kUnauthorised = R"([{"error":{"type":1,"address":"/lights","description":"unauthorized user"}}])";
const std::string kNoStoredAddress = "no response from Portal API and no last used bridge IP";
const std::string kUsingStoredAddress = "no response from Portal API, using last used bridge IP";

const HttpRequest kPortalRequest{HttpMethod::Get, "http://portal.test/api/nupnp", "", 30s};
const HttpRequest kPairingRequest{HttpMethod::Post, "http://192.168.1.20/api",
                                  R"({"devicetype":"com.tallowbrook.Glowcast"})", 30s};

class BridgeBridgeTest : public ::testing::Test {
protected:
    FakeHttpTransport http;
    FakePreferences prefs;
    ManualSleeper sleeper;
    RecordingLog log;
    FakeLinkButtonPrompt prompt;
    FakeAlert alert;
    std::optional<std::string> portal{"portal.test"};
    std::unique_ptr<BridgeBridge> client;

    BridgeBridge& bridge()
    {
        if (!client)
            client = std::make_unique<BridgeBridge>(http, prefs, sleeper, log, prompt, alert, portal);
        return *client;
    }

    // No portal: the client goes straight to the stored address, as in a later run.
    BridgeBridge& storedBridge(const std::string& address = "192.168.1.20")
    {
        prefs.texts["lastusedbridgeIP"] = address;
        portal.reset();
        return bridge();
    }
};

// Each row: the portal's host (none: no portal), its reply, the stored address, the address taken,
// the lines after "bridge initing", and the portal URL asked (empty: none).
TEST_F(BridgeBridgeTest, DiscoveryTakesThePortalsLastAddressOrFallsBackToTheStoredOne)
{
    const std::string one = R"([{"id":"a1b2c3d4e5f6","internalipaddress":"192.168.1.20"}])";
    const std::string two =
        R"([{"id":"a1","internalipaddress":"10.0.0.1"},{"id":"b2","internalipaddress":"10.0.0.2"}])";
    const std::string empty = R"([{"internalipaddress":""}])";
    const std::string portalUrl = "http://portal.test/api/nupnp";
    const std::string portalTest = "portal.test";
    const std::string seven = "192.168.1.7";
    using Text = std::optional<std::string>;
    const std::string badPortal = "not asking the portal: its host 'portal.test";
    // clang-format off
    const std::tuple<Text, Text, Text, Text, Lines, std::string> rows[] = {
        {portalTest, one, {}, "192.168.1.20", {"response from portal is " + one, "Bridge IP: 192.168.1.20"}, portalUrl},
        {portalTest, two, seven, "10.0.0.2", {"response from portal is " + two, "Bridge IP: 10.0.0.2"}, portalUrl},
        {portalTest, "[]", seven, seven, {"response from portal is []", "Bridge IP: (null)", kUsingStoredAddress}, portalUrl},
        {portalTest, "[]", {}, {}, {"response from portal is []", "Bridge IP: (null)", kNoStoredAddress}, portalUrl},
        {portalTest, {}, seven, seven, {kUsingStoredAddress}, portalUrl},
        // An address nothing could be sent to is neither used nor stored over the one that worked.
        {portalTest, empty, seven, seven, {"response from portal is " + empty, "Bridge IP: ", "the portal's bridge address '' is not a valid host, not used", kUsingStoredAddress}, portalUrl},
        {portalTest, {}, "evil host", {}, {"the last used bridge IP 'evil host' is not a valid host, not used", kNoStoredAddress}, portalUrl},
        {{}, one, seven, seven, {kUsingStoredAddress}, ""},
        // Which hosts pass is the URL check's own table; here, that the portal goes through it.
        {"[::1]:8080", {}, {}, {}, {kNoStoredAddress}, "http://[::1]:8080/api/nupnp"},
        {"portal.test\r\nX: 1", one, {}, {}, {badPortal + "\\r\\nX: 1' is not a valid URL host", kNoStoredAddress}, ""},
    };
    // clang-format on
    for (const auto& [host, reply, stored, address, after, asked] : rows) {
        SCOPED_TRACE(host.value_or("no portal") + " " + reply.value_or("no reply"));
        client.reset();
        log.lines.clear();
        prefs.texts.clear();
        http.sent.clear();
        if (stored)
            prefs.texts["lastusedbridgeIP"] = *stored;
        portal = host;
        http.replies = {reply};
        bridge().discoverBridge();
        EXPECT_EQ(bridge().bridgeIP(), address);
        EXPECT_EQ(prefs.text("lastusedbridgeIP"), address ? address : stored)
            << "a found address is stored, a fallback kept";
        Lines lines{"bridge initing"};
        lines.insert(lines.end(), after.begin(), after.end());
        EXPECT_EQ(testing::inOrder(log, lines), lines);
        for (const std::string& fallback : {kUsingStoredAddress, kNoStoredAddress})
            EXPECT_EQ(log.count(fallback), std::ranges::count(lines, fallback));
        EXPECT_EQ(http.sent, (asked.empty() ? Requests{} : Requests{{HttpMethod::Get, asked, "", 30s}}));
    }
}

TEST_F(BridgeBridgeTest, NoAddressAlertsOnEachPairingAndSendsNothingToABridge)
{
    const AlertText noBridge{
        "Unable to find IP of bridge", "OK",
        "Have tried to discover the Bridge's IP but failed. Check your Internet connection and re-start this app, or "
        "OK this box and wait 15s for Lumenary to re-try. If your connection is fine then the lumenport portal may be "
        "temporarily unavailable. Try again in a little while"};
    EXPECT_FALSE(bridge().pair());
    EXPECT_FALSE(bridge().pair());
    EXPECT_EQ(alert.shown, (std::vector<AlertText>{noBridge, noBridge}));
    EXPECT_TRUE(prompt.begun.empty());
    // Requests fail without a word to the user.
    EXPECT_EQ(bridge().read("lights"), std::nullopt);
    EXPECT_FALSE(bridge().sendPUTRequest(Dictionary{{"bri", 1}}, "lights/1/state"));
    EXPECT_EQ(alert.shown.size(), 2u);
    EXPECT_EQ(http.sent, Requests(4, kPortalRequest));
}

TEST_F(BridgeBridgeTest, TwoRefusalsThenAcceptanceTakesThreeIdenticalRequestsAndThreeSleeps)
{
    // The second refusal is a user name one character longer than any a bridge gives; the longest is taken.
    const std::string longest(128, 'u');
    const auto naming = [](const std::string& name) { return R"([{"success":{"username":")" + name + R"("}}])"; };
    http.replies = {R"([{"internalipaddress":"192.168.1.20"}])", kRefusal, naming(longest + "u"), naming(longest)};
    EXPECT_TRUE(bridge().pair());
    EXPECT_EQ(http.sent, (Requests{kPortalRequest, kPairingRequest, kPairingRequest, kPairingRequest}));
    EXPECT_EQ(prefs.text("username"), longest);
    EXPECT_EQ(sleeper.slept, 7500ms);
    EXPECT_EQ(prompt.begun, std::vector<std::string>{"192.168.1.20"});
    EXPECT_EQ(prompt.attempts, 3);
    EXPECT_EQ(prompt.ends, 1);
    EXPECT_EQ(log.count("Bridge Error: link button not pressed"), 1);

    // A second call after success sends nothing, even with the user name gone.
    prefs.texts.erase("username");
    EXPECT_TRUE(bridge().pair());
    EXPECT_EQ(http.sent.size(), 4u);
    EXPECT_EQ(prompt.ends, 2);
}

TEST_F(BridgeBridgeTest, AQuitAskedForDuringPairingEndsItAfterTheAttemptThatRunsAndStartsNoOther)
{
    // During which sleep the quit is asked for (0: before the pairing starts), the pairing requests, the line.
    const std::tuple<int, std::size_t, const char*> rows[] = {
        {0, 0, "quitting: no pairing"}, {1, 1, "quitting: the pairing stops"}, {3, 3, "quitting: the pairing stops"}};
    for (const auto& [stopDuringSleep, pairingRequests, line] : rows) {
        SCOPED_TRACE(stopDuringSleep);
        client.reset();
        http.sent.clear();
        sleeper = {};
        BridgeBridge& pairing = storedBridge();
        http.replies.assign(30, kRefusal);
        if (stopDuringSleep == 0)
            pairing.stopPairing();
        sleeper.duringSleep = [&, stop = stopDuringSleep] {
            if (sleeper.calls == stop)
                pairing.stopPairing();
        };
        EXPECT_FALSE(pairing.pair());
        EXPECT_EQ(http.sent.size(), pairingRequests);
        EXPECT_EQ(sleeper.slept, 2500ms * stopDuringSleep);
        EXPECT_EQ(log.lines.back(), line);
        EXPECT_FALSE(pairing.pair()) << "none starts again";
        EXPECT_EQ(http.sent.size(), pairingRequests);
    }
}

// A reply that is neither a refusal nor carries a usable user name is not an acceptance: it is
// logged, leaves the stored user name alone, and the series goes on: 30 attempts, 2.5 s apart.
TEST_F(BridgeBridgeTest, RepliesWithoutAUsableUserNameAreNotAnAcceptance)
{
    const std::string noName = "Bridge Error: no user name in the pairing reply";
    const std::vector<std::pair<std::optional<std::string>, std::string>> rows = {
        {std::nullopt, "no response from Portal API"},
        {R"([{"error":"busy"}])", "Bridge Error: busy"},
        {R"([{"error":{"type":101}}])", "Bridge Error: (null)"},
        {R"([{"error":{}}])", "Bridge Error: "},
        {"<html><body>500 Internal Server Error</body></html>", noName},
        {R"([{"success":{}}])", noName},
        {R"([{"success":{"username":""}}])", noName},
        {R"([{"success":{"username":".."}}])",
         "Bridge Error: the user name '..' in the pairing reply cannot stand in a URL"},
    };
    Lines expected;
    for (const auto& [reply, line] : rows) {
        http.replies.push_back(reply);
        expected.push_back(line);
    }
    expected.resize(30, "no response from Portal API"); // the attempts after them get no reply
    prefs.texts["username"] = "kept-user";
    EXPECT_FALSE(storedBridge().pair());
    EXPECT_EQ(http.sent, Requests(30, kPairingRequest));
    EXPECT_EQ(sleeper.slept, 75s);
    EXPECT_EQ(prefs.text("username"), "kept-user");
    EXPECT_EQ(testing::inOrder(log, expected), expected);

    EXPECT_FALSE(bridge().pair()) << "a later call starts a fresh series";
    EXPECT_EQ(http.sent.size(), 60u);
}

// Each method sends its request and returns the reply unchanged; only a top-level error fails a
// request, a zero-byte reply succeeds, no reply at all fails; text that cannot form a URL is never sent.
// A pulse of the beat's goes only to a bridge found and paired: no discovery, no pairing, no log line.
TEST_F(BridgeBridgeTest, APulseGoesOnlyToAPairedBridgeAndLogsNothing)
{
    const Dictionary body{{"bri", 120.0}};
    EXPECT_FALSE(storedBridge().putQuietly(body, "lights/1/state")) << "not found yet";
    bridge().discoverBridge();
    EXPECT_FALSE(bridge().putQuietly(body, "lights/1/state")) << "no user name";
    prefs.texts["username"] = "alice";
    log.lines.clear();
    http.replies = {R"([{"error":{"description":"no"}}])"};
    EXPECT_TRUE(bridge().putQuietly(body, "lights/1/state"));
    EXPECT_EQ(http.sent,
              (Requests{{HttpMethod::Put, "http://192.168.1.20/api/alice/lights/1/state", R"({"bri":120})", 30s}}));
    EXPECT_TRUE(log.lines.empty());
    EXPECT_TRUE(prompt.begun.empty()) << "no pairing";
}

TEST_F(BridgeBridgeTest, RequestsOfAPairedBridge)
{
    prefs.texts["username"] = "alice"; // a bridge that knows its address and user name already
    storedBridge().discoverBridge();
    log.lines.clear();
    const std::string lights = R"({"1":{"state":{"on":true,"bri":144,"xy":[0.5128,0.4147]},"name":"Lamp 1"}})";
    http.replies = {"[]", "[]", "[]", lights};
    EXPECT_TRUE(bridge().sendPUTRequest(Dictionary{{"bri", 200.7}, {"xy", "[0.412,0.377]"}}, "lights/3/state"));
    EXPECT_EQ(bridge().sendPOSTRequest(Dictionary{{"name", "Caf\xC3\xA9"}}, "groups"), "[]");
    EXPECT_EQ(bridge().sendDELETERequestToUrl("groups/1"), "[]");
    EXPECT_EQ(prompt.ends, 0);
    EXPECT_EQ(bridge().read("lights"), lights);
    EXPECT_EQ(prompt.ends, 1) << "only GET ends the link-button prompt";
    EXPECT_EQ(
        http.sent,
        (Requests{
            {HttpMethod::Put, "http://192.168.1.20/api/alice/lights/3/state", R"({"bri":200,"xy":[0.412,0.377]})", 30s},
            {HttpMethod::Post, "http://192.168.1.20/api/alice/groups", "{\"name\":\"Caf\xC3\xA9\"}", 30s},
            {HttpMethod::Delete, "http://192.168.1.20/api/alice/groups/1", "", 30s},
            {HttpMethod::Get, "http://192.168.1.20/api/alice/lights", "", 30s},
        }));

    const std::vector<std::pair<std::optional<std::string>, std::string>> rows = {
        // the reply, and the line each method logs (empty when the reply is a success)
        {kUnauthorised, "Bridge Error: unauthorized user"},
        {R"({"error":"rate limited"})", "Bridge Error: rate limited"},
        {std::nullopt, "no response from Bridge"},
        {"", ""},
        {R"([{"success":{"/lights/1/state/bri":200}},{"error":{"type":201,"description":"off"}}])", ""},
        {R"({"state":{"error":{"description":"nested"}}})", ""},
    };
    for (const auto& [reply, failure] : rows) {
        SCOPED_TRACE(reply.value_or("no reply"));
        log.lines.clear();
        http.sent.clear();
        http.replies.assign(4, reply);
        const bool ok = failure.empty();
        const std::optional<std::string> returned = ok ? reply : std::nullopt;
        EXPECT_EQ(bridge().read("lights"), returned);
        EXPECT_EQ(bridge().sendPUTRequest(Dictionary{{"bri", 1}}, "lights/1/state"), ok);
        EXPECT_EQ(bridge().sendPOSTRequest(Dictionary{}, "groups"), returned);
        EXPECT_EQ(bridge().sendDELETERequestToUrl("groups/1"), returned);
        for (const auto& other : rows) // each method logs the failure once, and a success none
            EXPECT_EQ(log.count(other.second), other.second == failure && !ok ? 4 : 0) << other.second;
        EXPECT_EQ(http.sent.size(), 4u) << "a refused user name does not start pairing";
    }
    EXPECT_EQ(prefs.text("username"), "alice");

    http.sent.clear();
    log.lines.clear();
    const std::string lamp = "lights/1\r\nHost: evil";
    EXPECT_FALSE(bridge().sendPUTRequest(Dictionary{{"bri", 1}}, lamp + "/state"));
    EXPECT_EQ(bridge().read(lamp), std::nullopt);
    EXPECT_EQ(bridge().sendDELETERequestToUrl(lamp), std::nullopt);
    const std::string url =
        R"(not sending a request to an invalid URL: http://192.168.1.20/api/alice/lights/1\r\nHost: evil)";
    EXPECT_EQ(log.lines, (Lines{url + "/state", url, url}));
    prefs.texts["username"] = "ali/ce";
    EXPECT_EQ(bridge().read("lights"), std::nullopt);
    EXPECT_TRUE(http.sent.empty());
}

// Without a user name a request runs pairing first; when that fails, it still goes out with the
// missing name's text, and the bridge refuses it.
TEST_F(BridgeBridgeTest, MissingUserNameRunsPairingThenSendsWithTheNewNameOrNone)
{
    http.replies.assign(30, kRefusal);
    http.replies.push_back(kUnauthorised);
    EXPECT_FALSE(storedBridge().sendPUTRequest(Dictionary{{"bri", 10}}, "lights/2/state"));
    ASSERT_EQ(http.sent.size(), 31u);
    EXPECT_EQ(http.sent.back().url, "http://192.168.1.20/api/(null)/lights/2/state");
    EXPECT_EQ(log.lines.back(), "Bridge Error: unauthorized user");

    http.sent.clear();
    prompt = {};
    http.replies = {kRefusal, kAcceptance, "{}"};
    EXPECT_EQ(bridge().read("lights"), "{}");
    EXPECT_EQ(http.sent, (Requests{kPairingRequest,
                                   kPairingRequest,
                                   {HttpMethod::Get, "http://192.168.1.20/api/fresh-user-1/lights", "", 30s}}));
    EXPECT_EQ(log.count("we don't have a username"), 2);
    EXPECT_EQ(prompt.begun.size(), 1u);
    EXPECT_EQ(prompt.ends, 2) << "the GET ends the prompt that pairing began and ended";
}

} // namespace
} // namespace glowcast
