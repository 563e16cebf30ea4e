#include "core/bridge_bridge.h"

#include "fakes/fake_http_transport.h"
#include "fakes/fake_platform.h"
#include "fakes/fake_preferences.h"
#include "fakes/recording_log.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace glowcast {
namespace {

using namespace std::chrono_literals;

const std::string kPairingBody = R"({"devicetype":"com.tallowbrook.Glowcast"})";
const std::string kRefusal = R"([{"error":{"type":101,"address":"","description":"link button not pressed"}}])";
const std::string kAcceptance = R"([{"success":{"username":"fresh-user-1"}}])";
const std::string kUnauthorised = R"([{"error":{"type":1,"address":"/lights","description":"unauthorized user"}}])";

const AlertText kNoBridgeAlert{
    "Unable to find IP of bridge", "OK",
    "Have tried to discover the Bridge's IP but failed. Check your Internet connection and re-start this app, or OK "
    "this box and wait 15s for Lumenary to re-try. If your connection is fine then the lumenport portal may be "
    "temporarily unavailable. Try again in a little while"};

HttpRequest portalRequest()
{
    return {HttpMethod::Get, "http://portal.test/api/nupnp", "", 30s};
}

HttpRequest pairingRequest(const std::string& address = "192.168.1.20")
{
    return {HttpMethod::Post, "http://" + address + "/api", kPairingBody, 30s};
}

class BridgeBridgeTest : public ::testing::Test {
protected:
    FakeHttpTransport http;
    FakePreferences prefs;
    ManualSleeper sleeper;
    RecordingLog log;
    FakePushButtonWindow window;
    FakeAlert alert;
    std::optional<std::string> portal{"portal.test"};
    std::unique_ptr<BridgeBridge> client;

    BridgeBridge& bridge()
    {
        if (!client)
            client = std::make_unique<BridgeBridge>(http, prefs, sleeper, log, window, alert, portal);
        return *client;
    }

    // A bridge that knows its address and user name already, as in a later run.
    BridgeBridge& pairedBridge()
    {
        prefs.texts["lastusedbridgeIP"] = "192.168.1.20";
        prefs.texts["username"] = "alice";
        portal.reset();
        bridge().discoverBridge();
        http.sent.clear();
        log.lines.clear();
        return bridge();
    }

    // The lines this client writes, without the decoder's working.
    [[nodiscard]] std::vector<std::string> ownLines() const
    {
        std::vector<std::string> own;
        for (const std::string& line : log.lines)
            if (!line.starts_with("parsing: ") && !line.starts_with("left part '") && !line.starts_with("returnValue:"))
                own.push_back(line);
        return own;
    }
};

using Lines = std::vector<std::string>;

// ---- creation ----

TEST_F(BridgeBridgeTest, CreationLogsOnceAndStartsWithoutAddressOrPairing)
{
    bridge().awakeFromNib();
    EXPECT_EQ(log.lines, Lines{"bridge initing"});
    EXPECT_FALSE(bridge().bridgeIP());
    EXPECT_FALSE(bridge().loggedIn());
    EXPECT_TRUE(http.sent.empty());
    EXPECT_EQ(bridge().getUsername(), std::nullopt);
    prefs.texts["username"] = "bob";
    EXPECT_EQ(bridge().getUsername(), "bob");
}

// ---- discovery ----

TEST_F(BridgeBridgeTest, PortalListingOneBridgeGivesAndStoresItsAddress)
{
    const std::string reply = R"([{"id":"001788fffe4a","internalipaddress":"192.168.1.20"}])";
    http.replies.push_back(reply);
    bridge().discoverBridge();
    EXPECT_EQ(http.sent, std::vector<HttpRequest>{portalRequest()});
    EXPECT_EQ(bridge().bridgeIP(), "192.168.1.20");
    EXPECT_EQ(prefs.text("lastusedbridgeIP"), "192.168.1.20");
    EXPECT_EQ(ownLines(), (Lines{"bridge initing", "response from portal is " + reply, "Bridge IP: 192.168.1.20"}));
}

TEST_F(BridgeBridgeTest, PortalListingSeveralBridgesGivesTheLastListedAddress)
{
    http.replies.push_back(
        R"([{"id":"a1","internalipaddress":"10.0.0.1"},{"id":"b2","internalipaddress":"10.0.0.2"}])");
    bridge().discoverBridge();
    EXPECT_EQ(bridge().bridgeIP(), "10.0.0.2");
    EXPECT_EQ(prefs.text("lastusedbridgeIP"), "10.0.0.2");
}

TEST_F(BridgeBridgeTest, EmptyPortalListFallsBackToTheStoredAddressWithoutRewritingIt)
{
    prefs.texts["lastusedbridgeIP"] = "192.168.1.7";
    http.replies.push_back("[]");
    bridge().discoverBridge();
    EXPECT_EQ(bridge().bridgeIP(), "192.168.1.7");
    EXPECT_EQ(prefs.texts, (std::map<std::string, std::string, std::less<>>{{"lastusedbridgeIP", "192.168.1.7"}}));
    EXPECT_EQ(ownLines(), (Lines{"bridge initing", "response from portal is []", "Bridge IP: (null)",
                                 "no response from Portal API, using last used bridge IP"}));
}

TEST_F(BridgeBridgeTest, EmptyPortalListWithNothingStoredLeavesTheAddressAbsent)
{
    http.replies.push_back("[]");
    bridge().discoverBridge();
    EXPECT_FALSE(bridge().bridgeIP());
    EXPECT_TRUE(prefs.texts.empty());
    EXPECT_EQ(ownLines().back(), "no response from Portal API and no last used bridge IP");
    EXPECT_TRUE(alert.shown.empty());
}

TEST_F(BridgeBridgeTest, UnreachablePortalUsesTheStoredAddressWithoutPortalLines)
{
    prefs.texts["lastusedbridgeIP"] = "192.168.1.7";
    http.replies.push_back(std::nullopt);
    bridge().discoverBridge();
    EXPECT_EQ(bridge().bridgeIP(), "192.168.1.7");
    EXPECT_EQ(log.lines, (Lines{"bridge initing", "no response from Portal API, using last used bridge IP"}));
    EXPECT_TRUE(alert.shown.empty());
}

TEST_F(BridgeBridgeTest, PortalErrorPageIsNoAddress)
{
    prefs.texts["lastusedbridgeIP"] = "192.168.1.7";
    http.replies.push_back("<html><body>502 Bad Gateway</body></html>");
    bridge().discoverBridge();
    EXPECT_EQ(bridge().bridgeIP(), "192.168.1.7");
    EXPECT_EQ(prefs.text("lastusedbridgeIP"), "192.168.1.7");
}

TEST_F(BridgeBridgeTest, EmptyInternalAddressCountsAsAnAddress)
{
    prefs.texts["lastusedbridgeIP"] = "192.168.1.7";
    http.replies.push_back(R"([{"id":"x","internalipaddress":""}])");
    bridge().discoverBridge();
    EXPECT_EQ(bridge().bridgeIP(), "");
    EXPECT_EQ(prefs.text("lastusedbridgeIP"), "");
    EXPECT_EQ(ownLines().back(), "Bridge IP: ");
}

TEST_F(BridgeBridgeTest, WithoutAPortalDiscoveryGoesStraightToTheStoredAddress)
{
    portal.reset();
    prefs.texts["lastusedbridgeIP"] = "192.168.1.7";
    bridge().discoverBridge();
    EXPECT_TRUE(http.sent.empty());
    EXPECT_EQ(bridge().bridgeIP(), "192.168.1.7");
}

TEST_F(BridgeBridgeTest, PortalHostThatCannotFormAUrlIsNeverAsked)
{
    for (const std::string host : {"portal .test", "portal.test/x", "portal.test\r\nX: 1", "", "user@portal.test",
                                   "portal.test:80x", "[fe80::1"}) {
        SCOPED_TRACE(host);
        portal = host;
        client.reset();
        http.sent.clear();
        bridge().discoverBridge();
        EXPECT_TRUE(http.sent.empty());
        EXPECT_TRUE(ownLines().back() == "no response from Portal API and no last used bridge IP");
        EXPECT_TRUE(ownLines()[ownLines().size() - 2].starts_with("not asking the portal: its host '"));
    }
    EXPECT_EQ(ownLines()[ownLines().size() - 2], "not asking the portal: its host '[fe80::1' is not a valid URL host");
}

TEST_F(BridgeBridgeTest, PortalWithPortAndBracketedAddressesAreAsked)
{
    for (const std::string host : {"127.0.0.1:8080", "[::1]:8080", "[fe80::1]", "portal.example.org"}) {
        portal = host;
        client.reset();
        http.sent.clear();
        bridge().discoverBridge();
        ASSERT_EQ(http.sent.size(), 1u);
        EXPECT_EQ(http.sent[0].url, "http://" + host + "/api/nupnp");
    }
}

// ---- pairing ----

TEST_F(BridgeBridgeTest, NoAddressAlertsOnceAndSendsNothingToABridge)
{
    http.replies.push_back(std::nullopt);
    EXPECT_FALSE(bridge().logIn());
    EXPECT_EQ(alert.shown, std::vector<AlertText>{kNoBridgeAlert});
    EXPECT_EQ(http.sent, std::vector<HttpRequest>{portalRequest()});
    EXPECT_EQ(window.shows, 0);
    EXPECT_EQ(sleeper.calls, 0);

    // Each call tries discovery again and alerts again.
    EXPECT_FALSE(bridge().logIn());
    EXPECT_EQ(alert.shown.size(), 2u);
    EXPECT_EQ(http.sent, (std::vector<HttpRequest>{portalRequest(), portalRequest()}));
}

TEST_F(BridgeBridgeTest, TwoRefusalsThenAcceptanceTakesThreeIdenticalRequestsAndThreeSleeps)
{
    http.replies = {R"([{"internalipaddress":"192.168.1.20"}])", kRefusal, kRefusal, kAcceptance};
    EXPECT_TRUE(bridge().logIn());
    EXPECT_EQ(http.sent,
              (std::vector<HttpRequest>{portalRequest(), pairingRequest(), pairingRequest(), pairingRequest()}));
    EXPECT_EQ(prefs.text("username"), "fresh-user-1");
    EXPECT_TRUE(bridge().loggedIn());
    EXPECT_EQ(sleeper.calls, 3);
    EXPECT_EQ(sleeper.slept, 7500ms);
    EXPECT_EQ(window.shows, 1);
    EXPECT_EQ(window.fronts, 3);
    EXPECT_EQ(window.hides, 1);
    EXPECT_FALSE(window.visible);
    const Lines own = ownLines();
    EXPECT_EQ(std::count(own.begin(), own.end(), "Bridge Error: link button not pressed"), 2);
}

TEST_F(BridgeBridgeTest, ThirtyRefusalsGiveUpAndALaterCallStartsAFreshSeries)
{
    prefs.texts["lastusedbridgeIP"] = "192.168.1.20";
    portal.reset();
    for (int i = 0; i < 70; ++i)
        http.replies.push_back(kRefusal);
    EXPECT_FALSE(bridge().logIn());
    EXPECT_EQ(http.sent.size(), 30u);
    EXPECT_EQ(sleeper.calls, 30);
    EXPECT_EQ(sleeper.slept, 75s);
    EXPECT_FALSE(bridge().loggedIn());
    EXPECT_FALSE(window.visible);
    EXPECT_TRUE(alert.shown.empty());
    EXPECT_EQ(ownLines().back(), "Bridge Error: link button not pressed");

    EXPECT_FALSE(bridge().logIn());
    EXPECT_EQ(http.sent.size(), 60u);
    for (const HttpRequest& request : http.sent)
        EXPECT_EQ(request, pairingRequest());
}

TEST_F(BridgeBridgeTest, SecondLogInAfterSuccessSendsNothing)
{
    prefs.texts["lastusedbridgeIP"] = "192.168.1.20";
    portal.reset();
    http.replies = {kAcceptance};
    ASSERT_TRUE(bridge().logIn());
    prefs.texts.erase("username");
    EXPECT_TRUE(bridge().logIn());
    EXPECT_EQ(http.sent.size(), 1u);
    EXPECT_EQ(sleeper.calls, 1);
    EXPECT_EQ(window.shows, 2);
    EXPECT_EQ(window.hides, 2);
    EXPECT_FALSE(window.visible);
}

TEST_F(BridgeBridgeTest, SilentBridgeIsLoggedAndTheNextAttemptFollows)
{
    prefs.texts["lastusedbridgeIP"] = "192.168.1.20";
    portal.reset();
    http.replies = {std::nullopt, kAcceptance};
    EXPECT_TRUE(bridge().logIn());
    EXPECT_EQ(http.sent.size(), 2u);
    EXPECT_EQ(sleeper.calls, 2);
    EXPECT_EQ(ownLines(), (Lines{"bridge initing", "no response from Portal API, using last used bridge IP",
                                 "no response from Portal API"}));
}

TEST_F(BridgeBridgeTest, ErrorMembersWithoutADescriptionStillRefuse)
{
    prefs.texts["lastusedbridgeIP"] = "192.168.1.20";
    portal.reset();
    http.replies = {R"([{"error":"busy"}])", R"([{"error":{"type":101}}])", R"([{"error":{}}])", kAcceptance};
    EXPECT_TRUE(bridge().logIn());
    EXPECT_EQ(http.sent.size(), 4u);
    const Lines own = ownLines();
    EXPECT_EQ(Lines(own.end() - 3, own.end()), (Lines{"Bridge Error: busy", "Bridge Error: (null)", "Bridge Error: "}));
}

// A reply that is neither a refusal nor carries a user name is not an acceptance: it leaves the
// stored user name alone and the series goes on.
TEST_F(BridgeBridgeTest, ReplyWithoutAUserNameIsNotAnAcceptance)
{
    const std::vector<std::string> bodies = {"",
                                             "<html><body>500 Internal Server Error</body></html>",
                                             R"([{"success":{}}])",
                                             R"([{"success":"ok"}])",
                                             R"([{"success":{"username":""}}])",
                                             R"({"devicetype":"x"})"};
    prefs.texts["lastusedbridgeIP"] = "192.168.1.20";
    prefs.texts["username"] = "kept-user";
    portal.reset();
    for (const std::string& body : bodies)
        http.replies.push_back(body);
    http.replies.push_back(kAcceptance);

    EXPECT_TRUE(bridge().logIn());
    EXPECT_EQ(http.sent.size(), bodies.size() + 1);
    EXPECT_EQ(sleeper.calls, static_cast<int>(bodies.size() + 1));
    EXPECT_EQ(prefs.text("username"), "fresh-user-1");
    const Lines own = ownLines();
    EXPECT_EQ(std::count(own.begin(), own.end(), "Bridge Error: no user name in the pairing reply"),
              static_cast<std::ptrdiff_t>(bodies.size()));
}

TEST_F(BridgeBridgeTest, ThirtyRepliesWithoutAUserNameKeepTheStoredOne)
{
    prefs.texts["lastusedbridgeIP"] = "192.168.1.20";
    prefs.texts["username"] = "kept-user";
    portal.reset();
    for (int i = 0; i < 30; ++i)
        http.replies.push_back("{}");
    EXPECT_FALSE(bridge().logIn());
    EXPECT_FALSE(bridge().loggedIn());
    EXPECT_EQ(prefs.text("username"), "kept-user");
    EXPECT_EQ(http.sent.size(), 30u);
}

TEST_F(BridgeBridgeTest, UserNameThatCannotStandInAUrlIsNotStored)
{
    prefs.texts["lastusedbridgeIP"] = "192.168.1.20";
    portal.reset();
    http.replies = {R"([{"success":{"username":"a b"}}])", R"([{"success":{"username":"x/../y"}}])", kAcceptance};
    EXPECT_TRUE(bridge().logIn());
    EXPECT_EQ(http.sent.size(), 3u);
    EXPECT_EQ(prefs.text("username"), "fresh-user-1");
    const Lines own = ownLines();
    EXPECT_EQ(Lines(own.end() - 2, own.end()),
              (Lines{"Bridge Error: the user name 'a b' in the pairing reply cannot stand in a URL",
                     "Bridge Error: the user name 'x/../y' in the pairing reply cannot stand in a URL"}));
}

TEST_F(BridgeBridgeTest, AddressThatCannotFormAUrlIsNeverPairedWith)
{
    prefs.texts["lastusedbridgeIP"] = "192.168.1.20/evil";
    portal.reset();
    EXPECT_FALSE(bridge().logIn());
    EXPECT_TRUE(http.sent.empty());
    EXPECT_EQ(sleeper.calls, 0);
    EXPECT_FALSE(window.visible);
    EXPECT_EQ(ownLines().back(), "not pairing: the bridge address '192.168.1.20/evil' is not a valid URL host");
}

TEST_F(BridgeBridgeTest, EmptyAddressFromThePortalIsNeverPairedWith)
{
    http.replies = {R"([{"internalipaddress":""}])"};
    EXPECT_FALSE(bridge().logIn());
    EXPECT_EQ(http.sent.size(), 1u);
    EXPECT_TRUE(alert.shown.empty());
    EXPECT_EQ(ownLines().back(), "not pairing: the bridge address '' is not a valid URL host");
}

// ---- the four requests ----

TEST_F(BridgeBridgeTest, GetSendsOneRequestAndReturnsTheReplyUnchanged)
{
    pairedBridge();
    const std::string reply = R"({"1":{"state":{"on":true,"bri":144,"xy":[0.5128,0.4147]},"name":"Lamp 1"}})";
    http.replies.push_back(reply);
    EXPECT_EQ(bridge().sendGETRequestToUrl("lights"), reply);
    EXPECT_EQ(http.sent,
              (std::vector<HttpRequest>{{HttpMethod::Get, "http://192.168.1.20/api/alice/lights", "", 30s}}));
    EXPECT_EQ(window.hides, 1);
    EXPECT_TRUE(ownLines().empty());
}

TEST_F(BridgeBridgeTest, PutAndPostSendTheEncodedBodyGetAndDeleteNone)
{
    pairedBridge();
    http.replies = {"[]", "[]", "[]", "[]"};
    const Dictionary state{{"bri", 200.7}, {"xy", "[0.412,0.377]"}};
    EXPECT_TRUE(bridge().sendPUTRequest(state, "lights/3/state"));
    EXPECT_EQ(bridge().sendPOSTRequest(Dictionary{{"name", "Hall"}}, "groups"), "[]");
    EXPECT_EQ(bridge().sendDELETERequestToUrl("groups/1"), "[]");
    EXPECT_EQ(bridge().sendGETRequestToUrl("lights/3"), "[]");
    EXPECT_EQ(http.sent, (std::vector<HttpRequest>{
                             {HttpMethod::Put, "http://192.168.1.20/api/alice/lights/3/state",
                              R"({"bri":200,"xy":[0.412,0.377]})", 30s},
                             {HttpMethod::Post, "http://192.168.1.20/api/alice/groups", R"({"name":"Hall"})", 30s},
                             {HttpMethod::Delete, "http://192.168.1.20/api/alice/groups/1", "", 30s},
                             {HttpMethod::Get, "http://192.168.1.20/api/alice/lights/3", "", 30s},
                         }));
    // Only GET hides the push-button window.
    EXPECT_EQ(window.hides, 1);
}

TEST_F(BridgeBridgeTest, BodyTextsGoOutAsUtf8Bytes)
{
    pairedBridge();
    http.replies = {"[]"};
    EXPECT_TRUE(bridge().sendPUTRequest(Dictionary{{"name", "Caf\xC3\xA9"}}, "lights/1"));
    EXPECT_EQ(http.sent.at(0).body, "{\"name\":\"Caf\xC3\xA9\"}");
}

TEST_F(BridgeBridgeTest, BridgeErrorFailsEveryRequest)
{
    pairedBridge();
    http.replies = {kUnauthorised, kUnauthorised, kUnauthorised, kUnauthorised};
    EXPECT_EQ(bridge().sendGETRequestToUrl("lights"), std::nullopt);
    EXPECT_FALSE(bridge().sendPUTRequest(Dictionary{{"bri", 0}, {"sat", 0}}, "lights/1/state"));
    EXPECT_EQ(bridge().sendPOSTRequest(Dictionary{}, "groups"), std::nullopt);
    EXPECT_EQ(bridge().sendDELETERequestToUrl("groups/1"), std::nullopt);
    EXPECT_EQ(ownLines(), Lines(4, "Bridge Error: unauthorized user"));
    // A refused user name does not start pairing.
    EXPECT_EQ(http.sent.size(), 4u);
    EXPECT_EQ(prefs.text("username"), "alice");
}

TEST_F(BridgeBridgeTest, BareErrorTextIsStillABridgeError)
{
    pairedBridge();
    http.replies = {R"({"error":"rate limited"})"};
    EXPECT_FALSE(bridge().sendPUTRequest(Dictionary{{"bri", 1}}, "lights/1/state"));
    EXPECT_EQ(ownLines(), Lines{"Bridge Error: rate limited"});
}

TEST_F(BridgeBridgeTest, ZeroByteReplyIsASuccessButNoReplyIsAFailure)
{
    pairedBridge();
    http.replies = {"", "", "", ""};
    EXPECT_EQ(bridge().sendGETRequestToUrl("lights"), "");
    EXPECT_TRUE(bridge().sendPUTRequest(Dictionary{{"bri", 1}}, "lights/1/state"));
    EXPECT_EQ(bridge().sendPOSTRequest(Dictionary{}, "groups"), "");
    EXPECT_EQ(bridge().sendDELETERequestToUrl("groups/1"), "");
    EXPECT_TRUE(ownLines().empty());

    EXPECT_EQ(bridge().sendGETRequestToUrl("lights"), std::nullopt);
    EXPECT_FALSE(bridge().sendPUTRequest(Dictionary{{"bri", 1}}, "lights/1/state"));
    EXPECT_EQ(bridge().sendPOSTRequest(Dictionary{}, "groups"), std::nullopt);
    EXPECT_EQ(bridge().sendDELETERequestToUrl("groups/1"), std::nullopt);
    EXPECT_EQ(ownLines(), Lines(4, "no response from Bridge"));
    EXPECT_EQ(http.sent.size(), 8u);
}

TEST_F(BridgeBridgeTest, OnlyATopLevelErrorCounts)
{
    pairedBridge();
    // An error page sent with an error status, and a list whose error is not its first element.
    http.replies = {"<html>503 Service Unavailable</html>",
                    R"([{"success":{"/lights/1/state/bri":200}},{"error":{"type":201,"description":"off"}}])",
                    R"({"state":{"error":{"description":"nested"}}})"};
    EXPECT_TRUE(bridge().sendPUTRequest(Dictionary{{"bri", 200}}, "lights/1/state"));
    EXPECT_TRUE(bridge().sendPUTRequest(Dictionary{{"bri", 200}}, "lights/1/state"));
    EXPECT_TRUE(bridge().sendPUTRequest(Dictionary{{"bri", 200}}, "lights/1/state"));
    EXPECT_TRUE(ownLines().empty());
}

TEST_F(BridgeBridgeTest, MissingUserNameRunsPairingThenSendsWithTheNewName)
{
    prefs.texts["lastusedbridgeIP"] = "192.168.1.20";
    portal.reset();
    http.replies = {kRefusal, kAcceptance, "{}"};
    EXPECT_EQ(bridge().sendGETRequestToUrl("lights"), "{}");
    EXPECT_EQ(http.sent, (std::vector<HttpRequest>{
                             pairingRequest(),
                             pairingRequest(),
                             {HttpMethod::Get, "http://192.168.1.20/api/fresh-user-1/lights", "", 30s},
                         }));
    const Lines own = ownLines();
    ASSERT_GE(own.size(), 3u);
    EXPECT_EQ(own[2], "we don't have a username");
    EXPECT_EQ(sleeper.calls, 2);
    // The GET hides the window that pairing showed and hid.
    EXPECT_EQ(window.shows, 1);
    EXPECT_EQ(window.hides, 2);
}

TEST_F(BridgeBridgeTest, FailedPairingStillSendsTheRequestWithTheMissingNameText)
{
    prefs.texts["lastusedbridgeIP"] = "192.168.1.20";
    portal.reset();
    for (int i = 0; i < 30; ++i)
        http.replies.push_back(kRefusal);
    http.replies.push_back(kUnauthorised);
    EXPECT_FALSE(bridge().sendPUTRequest(Dictionary{{"bri", 10}}, "lights/2/state"));
    ASSERT_EQ(http.sent.size(), 31u);
    EXPECT_EQ(http.sent.back().url, "http://192.168.1.20/api/(null)/lights/2/state");
    EXPECT_EQ(ownLines().back(), "Bridge Error: unauthorized user");
}

TEST_F(BridgeBridgeTest, NoAddressFailsSilentlyWithoutABridgeRequest)
{
    http.replies = {std::nullopt, std::nullopt};
    EXPECT_EQ(bridge().sendGETRequestToUrl("lights"), std::nullopt);
    EXPECT_EQ(window.hides, 1);
    EXPECT_FALSE(bridge().sendPUTRequest(Dictionary{{"bri", 1}}, "lights/1/state"));
    EXPECT_EQ(window.hides, 1);
    // Only the two portal requests, one per call, and only discovery's own lines.
    EXPECT_EQ(http.sent, (std::vector<HttpRequest>{portalRequest(), portalRequest()}));
    EXPECT_EQ(ownLines(), (Lines{"bridge initing", "no response from Portal API and no last used bridge IP",
                                 "no response from Portal API and no last used bridge IP"}));
    EXPECT_TRUE(alert.shown.empty());
}

TEST_F(BridgeBridgeTest, DiscoveryRunsOnlyUntilAnAddressIsFound)
{
    prefs.texts["username"] = "alice";
    http.replies = {R"([{"internalipaddress":"192.168.1.20"}])", "[]", "[]"};
    EXPECT_TRUE(bridge().sendPUTRequest(Dictionary{{"bri", 1}}, "lights/1/state"));
    EXPECT_TRUE(bridge().sendPUTRequest(Dictionary{{"bri", 2}}, "lights/1/state"));
    ASSERT_EQ(http.sent.size(), 3u);
    EXPECT_EQ(http.sent[0], portalRequest());
    EXPECT_EQ(http.sent[2].url, "http://192.168.1.20/api/alice/lights/1/state");
}

// Ids, user names and addresses go into the URL verbatim, but text that would not form a valid
// URL (or would form a different one) is never sent.
TEST_F(BridgeBridgeTest, PathThatCannotFormAUrlIsNeverSent)
{
    pairedBridge();
    for (const std::string id :
         {"1 2", "1#frag", "1?on=true", "1\r\nHost: evil", "1\x01", "caf\xC3\xA9", "1%2", "1%zz"}) {
        SCOPED_TRACE(id);
        log.lines.clear();
        EXPECT_FALSE(bridge().sendPUTRequest(Dictionary{{"bri", 1}}, "lights/" + id + "/state"));
        EXPECT_EQ(bridge().sendGETRequestToUrl("lights/" + id), std::nullopt);
        EXPECT_EQ(ownLines().size(), 2u);
        EXPECT_TRUE(ownLines().front().starts_with("not sending a request to an invalid URL: http://192.168.1.20/"));
    }
    EXPECT_TRUE(http.sent.empty());
    log.lines.clear();
    EXPECT_EQ(bridge().sendDELETERequestToUrl("lights/1\r\nX: y"), std::nullopt);
    EXPECT_EQ(ownLines(),
              Lines{"not sending a request to an invalid URL: http://192.168.1.20/api/alice/lights/1\\r\\nX: y"});
}

TEST_F(BridgeBridgeTest, UserNameOrAddressThatCannotFormAUrlIsNeverSent)
{
    prefs.texts["lastusedbridgeIP"] = "192.168.1.20";
    prefs.texts["username"] = "ali/ce";
    portal.reset();
    EXPECT_EQ(bridge().sendGETRequestToUrl("lights"), std::nullopt);
    prefs.texts["username"] = "ali ce";
    EXPECT_EQ(bridge().sendGETRequestToUrl("lights"), std::nullopt);

    client.reset();
    prefs.texts["lastusedbridgeIP"] = "192.168.1.20#x";
    prefs.texts["username"] = "alice";
    EXPECT_EQ(bridge().sendGETRequestToUrl("lights"), std::nullopt);
    EXPECT_TRUE(http.sent.empty());
    EXPECT_EQ(ownLines().back(), "not sending a request to an invalid URL: http://192.168.1.20#x/api/alice/lights");
}

TEST_F(BridgeBridgeTest, ValidUnusualTextsGoOutVerbatim)
{
    prefs.texts["lastusedbridgeIP"] = "[fe80::17]:8080";
    prefs.texts["username"] = "A-b_c.~1%41";
    portal.reset();
    http.replies = {"[]", "[]"};
    EXPECT_TRUE(bridge().sendPUTRequest(Dictionary{{"bri", 1}}, "lights/a%20b/state"));
    EXPECT_EQ(bridge().sendGETRequestToUrl("lights/x:y@z/(1)"), "[]");
    ASSERT_EQ(http.sent.size(), 2u);
    EXPECT_EQ(http.sent[0].url, "http://[fe80::17]:8080/api/A-b_c.~1%41/lights/a%20b/state");
    EXPECT_EQ(http.sent[1].url, "http://[fe80::17]:8080/api/A-b_c.~1%41/lights/x:y@z/(1)");
}

} // namespace
} // namespace glowcast
