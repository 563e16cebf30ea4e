// The simulator speaks version 1 of the bridge's local API: one table of requests and the replies
// expected per area, each against a simulated bridge of its own; and the colour its live page gives
// a lamp's state. Its HTTP server, the lamp list and the lamps' values are the end-to-end tests' and
// bridge_client.py's to show.

#include "bridge_sim/lamp_light.h"
#include "bridge_sim/sim_bridge.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

namespace glowcast::sim {
namespace {

using enum LampKind;

struct Exchange {
    const char* method;
    std::string path;
    std::string body;
    // What the reply must hold: objects may have more members, but a null stands for a member that
    // must be absent; lists match item by item; a text "~PATTERN" matches texts that PATTERN matches whole.
    std::string reply;
    int status = 200;
    int waitMs = 0; // the simulator's time that passes before the request
};

bool matches(const QJsonValue& expected, const QJsonValue& actual)
{
    if (expected.isObject()) {
        const QJsonObject want = expected.toObject(), have = actual.toObject();
        return actual.isObject() && std::ranges::all_of(want.keys(), [&](const QString& key) {
                   return want[key].isNull() ? !have.contains(key) : matches(want[key], have[key]);
               });
    }
    if (expected.isArray()) {
        const QJsonArray want = expected.toArray(), have = actual.toArray();
        return actual.isArray() && want.size() == have.size() &&
               std::equal(want.begin(), want.end(), have.begin(), matches);
    }
    const QString text = expected.toString();
    if (text.startsWith(u'~'))
        return QRegularExpression(QRegularExpression::anchoredPattern(text.mid(1))).match(actual.toString()).hasMatch();
    return expected == actual;
}

QJsonValue parsed(const std::string& text)
{
    return QJsonDocument::fromJson(QByteArray::fromStdString("[" + text + "]")).array().at(0);
}

// Sends each request in turn to a simulated bridge with these lamps and users, as another client of
// the bridge would, and checks each reply.
void run(std::vector<LampKind> lamps, std::vector<std::string> users, const std::vector<Exchange>& table,
         int rateLimit = 0)
{
    std::chrono::steady_clock::time_point now{};
    SimBridge sim{
        {"127.0.0.1:80", std::move(lamps), std::nullopt, std::move(users), rateLimit, [&now] { return now; }}};
    for (const Exchange& row : table) {
        SCOPED_TRACE(std::string(row.method) + " " + row.path + " " + row.body);
        now += std::chrono::milliseconds(row.waitMs);
        const Reply reply = row.path.starts_with("/sim/") ? sim.handleControl(row.method, row.path, row.body)
                                                          : sim.handleApi(row.method, row.path, row.body);
        EXPECT_EQ(reply.status, row.status);
        EXPECT_EQ(reply.contentType, "application/json");
        if (row.status == 429)
            EXPECT_EQ(reply.headers, (std::vector<std::pair<std::string, std::string>>{{"Retry-After", "1"}}));
        else
            EXPECT_TRUE(matches(parsed(row.reply), parsed(reply.body))) << reply.body;
    }
}

// Errors carry the protocol's types and texts; pairing succeeds only while the link button is pressed.
TEST(BridgeProtocolTest, ErrorsCarryTheProtocolsTypesAndTextsAndPairingWaitsForTheLinkButton)
{
    const auto error = [](int type, const std::string& address, const std::string& description) {
        return R"([{"error":{"type":)" + std::to_string(type) + R"(,"address":")" + address + R"(","description":")" +
               description + R"("}}])";
    };
    const std::string state = "/api/alice/lights/1/state";
    run(std::vector<LampKind>(3, ExtendedColour), {"alice"},
        {
            {"GET", "/api/mallory/lights", "", error(1, "/lights", "unauthorized user")},
            {"PUT", state, "{\"bri\":", error(2, "/lights/1/state", "body contains invalid json")},
            {"GET", "/api/alice/lights/9", "", error(3, "/lights/9", "resource, /lights/9, not available")},
            {"PATCH", "/api/alice/lights", "{}",
             error(4, "/lights", "method, PATCH, not available for resource, /lights")},
            {"PUT", state, "{}", error(5, "/lights/1/state", "invalid/missing parameters in body")},
            {"PUT", state, R"({"foo":1})", error(6, "/lights/1/state/foo", "parameter, foo, not available")},
            {"PUT", state, R"({"bri":300})", error(7, "/lights/1/state/bri", "invalid value, 300, for parameter, bri")},
            {"PUT", state, R"({"on":false})", R"([{"success":{"/lights/1/state/on":false}}])"},
            {"PUT", state, R"({"bri":1})",
             error(201, "/lights/1/state/bri", "parameter, bri, is not modifiable. Device is set to off.")},
            {"POST", "/api", R"({"devicetype":"demo#one"})", error(101, "", "link button not pressed")},
            {"POST", "/api", "{}", R"([{"error":{"type":5,"address":"/"}}])"},
            {"POST", "/api", R"({"devicetype":")" + std::string(41, 'd') + R"("})",
             R"([{"error":{"type":7,"address":"/devicetype"}}])"},
            {"POST", "/sim/linkbutton", "", R"({"pressed":true})"},
            {"POST", "/api", R"({"devicetype":"demo#one","note":"more members are let be"})",
             R"([{"success":{"username":"~[0-9a-f]{32}","clientkey":null}}])"},
            {"POST", "/api/", R"({"devicetype":"demo#two","generateclientkey":true})",
             R"([{"success":{"username":"~[0-9a-f]{32}","clientkey":"~[0-9A-F]{32}"}}])"},
            {"GET", "/api/config", "",
             R"({"bridgeid":"024743FFFE000001","mac":"02:47:43:00:00:01","linkbutton":null,"whitelist":null})"},
        });
}

TEST(BridgeProtocolTest, TooManyLampCommandsASecondAreTurnedAwayForASecond)
{
    run(std::vector<LampKind>(3, ExtendedColour), {"alice"},
        {
            {"PUT", "/api/alice/lights/1/state", R"({"on":true})", "[{}]"},
            {"PUT", "/api/alice/groups/0/action", R"({"on":true})", "[{}]"},
            {"PUT", "/api/alice/lights/2/state", R"({"on":true})", "", 429},
            {"GET", "/api/alice/lights", "", "{}"}, // reading is not a lamp command
            {"PUT", "/api/alice/lights/2/state", R"({"bri":9})", "", 429, 999},
            {"PUT", "/api/alice/lights/2/state", R"({"bri":9})", R"([{"success":{"/lights/2/state/bri":9}}])", 200, 1},
        },
        2);
}

TEST(LampLightTest, TurnsChromaticityAndBrightnessBackIntoSrgb)
{
    struct Row {
        double x, y;
        int bri;
        std::array<int, 3> rgb;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const Row rows[] = {
        {0.640, 0.330, 255, {255, 1, 0}},       {0.300, 0.600, 255, {0, 255, 0}},       // the red and green primaries
        {0.150, 0.060, 255, {0, 0, 255}},       {0.3127, 0.3290, 255, {255, 255, 255}}, // blue, D65 white
        {0.3127, 0.3290, 128, {128, 128, 128}}, {0.640, 0.330, 0, {0, 0, 0}},
        {0.5, 0.0, 255, {255, 255, 255}},       {nan, 0.3, 255, {255, 255, 255}}, // unusable points show white
        {0.3127, 0.3290, 999, {255, 255, 255}}, {0.3127, 0.3290, -4, {0, 0, 0}},  // brightness clamped
    };
    for (const Row& row : rows) {
        const auto rgb = srgbFromXyBri(row.x, row.y, row.bri);
        for (std::size_t i = 0; i < 3; ++i)
            EXPECT_LE(std::abs(rgb[i] - row.rgb[i]), 2)
                << row.x << "," << row.y << "," << row.bri << " component " << i;
    }
    EXPECT_EQ(hexColour({255, 0, 16}), "#ff0010");
}

} // namespace
} // namespace glowcast::sim
