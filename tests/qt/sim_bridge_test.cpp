// The simulator speaks version 1 of the bridge's local API: a table file of requests and the replies
// expected per area (tests/data/bridge_protocol*.tsv), each against a simulated bridge of its own; and
// the colour its live page gives a lamp's state. Its HTTP server, the lamp list and the lamps' values
// are the end-to-end tests' and bridge_client.py's to show.

#include "bridge_sim/lamp_light.h"
#include "bridge_sim/sim_bridge.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <limits>
#include <tuple>

namespace glowcast::sim {
namespace {

using enum LampKind;

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

// Sends each request of the table file in turn to a simulated bridge with three extended colour lamps
// and the user alice, as another client of the bridge would, and checks each reply. A line holds the
// METHOD, PATH, BODY, REPLY and, when not 200, the STATUS and the simulator's time in ms that passes
// before the request, apart by tabs. The REPLY is what the reply must hold: objects may have more
// members, but a null stands for a member that must be absent; lists match item by item; a text
// "~PATTERN" matches texts that PATTERN matches whole. A line starting with '#' is a comment.
void run(const char* file, std::size_t rows, int rateLimit = 0)
{
    std::chrono::steady_clock::time_point now{};
    SimBridge sim{
        {"127.0.0.1:80", std::vector<LampKind>(3, ExtendedColour), std::nullopt, {"alice"}, rateLimit, [&now] {
             return now;
         }}};
    std::ifstream in(std::string(GLOWCAST_TEST_DATA "/") + file);
    std::size_t read = 0;
    for (std::string line; std::getline(in, line);) {
        if (line.starts_with('#'))
            continue;
        ++read;
        const QStringList field = QString::fromStdString(line).split(u'\t');
        const auto text = [&](int at) { return field.value(at).toStdString(); };
        SCOPED_TRACE(line);
        const int status = field.value(4, QStringLiteral("200")).toInt();
        now += std::chrono::milliseconds(field.value(5).toInt());
        const Reply reply = text(1).starts_with("/sim/") ? sim.handleControl(text(0), text(1), text(2))
                                                         : sim.handleApi(text(0), text(1), text(2));
        EXPECT_EQ(reply.status, status);
        EXPECT_EQ(reply.contentType, "application/json");
        if (status == 429)
            EXPECT_EQ(reply.headers, (std::vector<std::pair<std::string, std::string>>{{"Retry-After", "1"}}));
        else
            EXPECT_TRUE(matches(parsed(text(3)), parsed(reply.body))) << reply.body;
    }
    EXPECT_EQ(read, rows);
}

// Errors carry the protocol's types and texts; pairing succeeds only while the link button is pressed.
TEST(BridgeProtocolTest, ErrorsCarryTheProtocolsTypesAndTextsAndPairingWaitsForTheLinkButton)
{
    run("bridge_protocol.tsv", 16);
}

// Two lamp commands a second at most: reading is not one.
TEST(BridgeProtocolTest, TooManyLampCommandsASecondAreTurnedAwayForASecond)
{
    run("bridge_protocol_rate_limit.tsv", 6, 2);
}

TEST(LampLightTest, TurnsChromaticityAndBrightnessBackIntoSrgb)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::tuple<double, double, int, std::array<int, 3>> rows[] = {
        // x, y, bri and the sRGB given
        {0.640, 0.330, 255, {255, 1, 0}},       {0.300, 0.600, 255, {0, 255, 0}},       // the red and green primaries
        {0.150, 0.060, 255, {0, 0, 255}},       {0.3127, 0.3290, 255, {255, 255, 255}}, // blue, D65 white
        {0.3127, 0.3290, 128, {128, 128, 128}}, {0.640, 0.330, 0, {0, 0, 0}},
        {0.5, 0.0, 255, {255, 255, 255}},       {nan, 0.3, 255, {255, 255, 255}}, // unusable points show white
        {0.3127, 0.3290, 999, {255, 255, 255}}, {0.3127, 0.3290, -4, {0, 0, 0}},  // brightness clamped
    };
    for (const auto& [x, y, bri, expected] : rows) {
        const auto rgb = srgbFromXyBri(x, y, bri);
        for (std::size_t i = 0; i < 3; ++i)
            EXPECT_LE(std::abs(rgb[i] - expected[i]), 2) << x << "," << y << "," << bri << " component " << i;
    }
}

} // namespace
} // namespace glowcast::sim
