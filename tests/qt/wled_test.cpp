// WLED: reading a device's segments and info, the bodies sent, and the adapter against the stand-in on
// loopback with the bad answers a device may give.

#include "adapters/qt/udp_datagram_sender.h"
#include "adapters/wled/wled_json.h"
#include "adapters/wled/wled_system.h"
#include "core/colour/srgb.h"
#include "support/processes.h"
#include "support/recording_listener.h"
#include "support/recording_log.h"
#include "support/waiting.h"

#include <QNetworkDatagram>

#include <gtest/gtest.h>

#include <map>
#include <memory>

namespace glowcast {
namespace {

using namespace std::chrono_literals;
using testing::waitFor;
using testing::words;

TEST(WledJsonTest, ReadsEachSegmentOnceAndLeavesOutWhatNoSegmentCanBe)
{
    std::string seventy = R"({"seg":[)";
    std::string firstSixtyFour;
    for (int id = 0; id < 70; ++id) {
        seventy += (id == 0 ? "" : ",") + (R"({"id":)" + std::to_string(id) + "}");
        if (id < 64)
            firstSixtyFour += (id == 0 ? "" : " ") + std::to_string(id) + ":Segment " + std::to_string(id);
    }
    seventy += "]}";
    const std::tuple<std::string, std::string, std::size_t> rows[] = {
        // the JSON, the segments as "ID:NAME" joined by spaces ("none" when no list was read), the lines logged
        {R"({"seg":[{"id":0,"n":"Desk"},{"id":2}]})", "0:Desk 2:Segment 2", 0},
        {R"({"seg":[]})", "", 0},
        {R"({"seg":[{"id":1},{"id":1,"n":"Twin"},{"n":"No id"},{"id":-1},{"id":256},{"id":1.5},7]})", "1:Segment 1", 6},
        {R"({"seg":[{"id":3,"n":"A\u001b[2Jb"}]})", "3:Segment 3", 1},
        {R"({"seg":{"id":0}})", "none", 0},
        {R"([{"id":0}])", "none", 0},
        {"", "none", 0},
        {seventy, firstSixtyFour, 1},
    };
    for (const auto& [json, read, logged] : rows) {
        RecordingLog log;
        const std::optional<std::vector<WledSegment>> segments = readWledSegments(json, log, "wled");
        std::string shown = segments ? "" : "none";
        for (const WledSegment& segment : segments.value_or(std::vector<WledSegment>{}))
            shown += (shown.empty() ? "" : " ") + std::to_string(segment.id) + ":" + segment.name;
        EXPECT_EQ(shown, read) << json.substr(0, 80);
        EXPECT_EQ(log.lines.size(), logged) << json.substr(0, 80);
    }
}

// Each row: /json/info's light capabilities and what the segment at position 1 becomes.
TEST(WledJsonTest, OnlySegmentsWithRgbAreColourLampsAndRgbwOnesTakeAFourthValue)
{
    const std::tuple<std::string, bool, bool> rows[] = {
        {R"({"leds":{"lc":7,"seglc":[2,1]}})", true, false},  {R"({"leds":{"lc":1,"seglc":[1,3]}})", true, true},
        {R"({"leds":{"lc":3,"seglc":[1,2]}})", false, false}, {R"({"leds":{"lc":7,"seglc":[1,6]}})", false, false},
        {R"({"leds":{"lc":7,"seglc":[1,7]}})", true, true},   {R"({"leds":{"lc":3}})", true, true},
        {R"({"leds":{"lc":4,"seglc":[1]}})", false, false},   {R"({})", true, false},
    };
    for (const auto& [info, colour, white] : rows) {
        const WledLamp lamp = wledLampOf({.id = 5, .name = {}, .colours = {}}, 1, readWledInfo(info).value());
        EXPECT_EQ(std::tuple(lamp.colour, lamp.white, lamp.lamp.capabilities.kind),
                  std::tuple(colour, white, colour ? LampKind::Colour : LampKind::Dimmable))
            << info;
    }
    EXPECT_FALSE(readWledInfo("<html></html>"));
    // The MAC is the device's identity: only 12 hex digits are one.
    for (const auto& [json, mac] :
         {std::pair(R"({"mac":"02005E00A1ED"})", "02005e00a1ed"), std::pair(R"({"mac":"02:00:5e:00:a1:ed"})", ""),
          std::pair(R"({"mac":"02005e00a1eg"})", ""), std::pair(R"({"mac":2005})", "")})
        EXPECT_EQ(readWledInfo(json).value_or(WledInfo{}).mac, mac) << json;
}

TEST(WledJsonTest, ACoverBodyLeavesOutTheSwitchAndTheFadeWhenTheStatesHaveNone)
{
    // 370 mired is 2703 K on the black-body curve, (0.4591, 0.4106).
    EXPECT_EQ(
        wledCoverBody({{{.id = 4, .lamp = {}}, {false, 1, {}, 370, {}}},
                       {{.id = 7, .white = true, .lamp = {}}, {false, 200, Chromaticity{0.1, 0.4}, {}, {}}}}),
        R"({"seg":[{"id":4,"bri":1,"fx":0,"col":[[255,173,89]]},{"id":7,"bri":201,"fx":0,"col":[[0,255,228,0]]}]})");
    // With the beat on, the device's effect stays, and each segment's slots hold the body's colours from its own on.
    EXPECT_EQ(wledCoverBody({{{.id = 4, .lamp = {}}, {false, 1, {}, 370, {}}},
                             {{.id = 7, .white = true, .lamp = {}}, {false, 200, Chromaticity{0.1, 0.4}, {}, {}}},
                             {{.id = 8, .colour = false, .lamp = {}}, {false, 9, {}, {}, {}}}},
                            true),
              R"({"seg":[{"id":4,"bri":1,"col":[[255,173,89],[0,255,228]]},)"
              R"({"id":7,"bri":201,"col":[[0,255,228,0],[255,173,89,0]]},{"id":8,"bri":9}]})");
    // Slots as read: a short one, a long one and a hex text are left out, and at most three kept.
    RecordingLog log;
    const auto read = readWledSegments(
        R"({"seg":[{"id":2,"col":[[1,2],[1,2,3,4,5],"FF0000",[9,8,7],[6,5,4,3],[3,2,1],[0,0,0]]}]})", log, "wled");
    EXPECT_EQ(
        wledRestoreBody(read->front()),
        R"({"seg":[{"id":2,"on":false,"bri":255,"col":[[9,8,7],[6,5,4,3],[3,2,1]],"fx":0,"pal":0,"sx":128,"ix":128}]})");
    EXPECT_EQ(wledRestoreBody({.id = 2, .name = {}, .colours = {}}),
              R"({"seg":[{"id":2,"on":false,"bri":0,"fx":0,"pal":0,"sx":128,"ix":128}]})");
}

// The adapter on the stand-in at the address, started.
testing::StartedSystem wledAt(const std::string& address)
{
    return testing::StartedSystem{[&](Log& log) {
        return std::make_unique<WledSystem>(SystemRecord{"wled", SystemKind::Wled, "http://" + address, {}, {}}, log,
                                            WledSystem::Options{});
    }};
}

// Against the stand-in: the segments read, a cover sent in one POST, each segment put back as it was
// read, and the device gone before a restore.
TEST(WledSystemTest, SendsACoverInOnePostPutsEachSegmentBackAsItWasReadAndMissesADeviceGone)
{
    auto sim = std::make_unique<testing::StandIn>(QStringLiteral(GLOWCAST_WLED_SIM));
    ASSERT_FALSE(sim->address.empty());
    const std::string address = "http://" + sim->address;
    auto wled = wledAt(sim->address);
    ASSERT_TRUE(wled.waitForTold(2));
    EXPECT_EQ(wled.listener.told[0], "id 02005e00a1ed") << "its MAC from /json/info";
    EXPECT_EQ(wled.listener.told[1], "lamps 0,1,2,3");
    EXPECT_EQ(wled.listener.lamps[1].capabilities, (LampCapabilities{LampKind::Colour, kSrgbGamut, std::nullopt}));

    std::map<std::string, std::optional<ReadLampState>> reads; // the answers come in any order
    for (const char* key : {"0", "1", "8"})
        wled.system->readState(key, [&, key](std::optional<ReadLampState> read) { reads[key] = read; });
    ASSERT_TRUE(waitFor([&] { return reads.size() == 3; }, 5'000));
    ASSERT_TRUE(reads["0"] && reads["1"]);
    EXPECT_FALSE(reads["8"]) << "no segment 8";

    const LampState red{true, 254, Chromaticity{0.64, 0.33}, {}, 4};
    EXPECT_EQ(wled.system->batchLimit(), 4u);
    EXPECT_EQ(testing::sent(*wled.system, {{"0", red}, {"1", red}, {"2", {true, 127, {}, {}, 4}}, {"8", {}}}),
              SendResult::Delivered);
    // The page shows what the LEDs give off at the device's brightness of 200: red, and white only at 128.
    const std::string page = sim->control(HttpMethod::Get, "/");
    EXPECT_NE(page.find("background-color: #c80000"), std::string::npos) << page;
    EXPECT_NE(page.find("background-color: #646464"), std::string::npos) << page;
    for (const char* key : {"0", "1"})
        EXPECT_EQ(testing::restored(*wled.system, key, *reads[key]), SendResult::Delivered);
    std::vector<std::string> posts; // each a line of the stand-in's output
    for (const QByteArray& line : sim->output().split('\n'))
        if (line.startsWith("POST "))
            posts.push_back(line.toStdString());
    EXPECT_EQ(posts,
              (std::vector<std::string>{
                  R"(POST /json/state {"seg":[{"id":0,"on":true,"bri":255,"fx":0,"col":[[255,0,0]]},)"
                  R"({"id":1,"on":true,"bri":255,"fx":0,"col":[[255,0,0,0]]},{"id":2,"on":true,"bri":128}],"tt":4})",
                  R"(POST /json/state {"seg":[{"id":0,"on":true,"bri":128,"col":[[255,160,0],)"
                  R"([0,0,0],[0,0,0]],"fx":9,"pal":6,"sx":100,"ix":200}]})",
                  R"(POST /json/state {"seg":[{"id":1,"on":true,"bri":129,"col":[[255,160,0,0],)"
                  R"([0,0,0,0],[0,0,0,0]],"fx":9,"pal":6,"sx":101,"ix":199}]})"}));

    sim.reset();
    EXPECT_EQ(testing::restored(*wled.system, "0", *reads["0"]), SendResult::NoAnswer);
    EXPECT_EQ(wled.listener.told.back(), "state unreachable: no answer from " + address);
    EXPECT_EQ(wled.log.count("lamp system wled: segment 0 not put back: no answer from " + address), 1);
}

// Each row: how the stand-in answers and what the adapter tells after its MAC (/json/info answers well in
// every row), the device's address added to a state.
TEST(WledSystemTest, AnswersNoDeviceGivesAreAState)
{
    std::string sixtyFour = "lamps 0";
    for (int id = 1; id < 64; ++id)
        sixtyFour += "," + std::to_string(id);
    const std::pair<const char*, std::string> rows[] = {
        {"--hostile html", "state unreachable: no segment list from http://"},
        {"--hostile deep", "state unreachable: no segment list from http://"},
        {"--segments 0", "lamps "},
        {"--segments 64", sixtyFour},
    };
    for (const auto& [arguments, told] : rows) {
        testing::StandIn sim{QStringLiteral(GLOWCAST_WLED_SIM), words(arguments)};
        ASSERT_FALSE(sim.address.empty());
        auto wled = wledAt(sim.address);
        ASSERT_TRUE(wled.waitForTold(2)) << arguments;
        EXPECT_EQ(wled.listener.told[1], told + (told.starts_with("state") ? sim.address : "")) << arguments;
    }
}

// The sound sync's datagrams leave whole, to an address at once.
TEST(UdpDatagramSenderTest, SendsADatagramWholeToAnAddressAtOnce)
{
    QUdpSocket receiver;
    ASSERT_TRUE(receiver.bind(QHostAddress::LocalHost));
    RecordingLog log;
    UdpDatagramSender sender{log};
    const std::vector<std::uint8_t> bytes{'0', '0', '0', '0', '2', 0, 0, 0, 0xff};
    std::vector<QByteArray> heard;
    sender.send("127.0.0.1", receiver.localPort(), bytes);
    ASSERT_TRUE(testing::waitFor([&] {
        while (receiver.hasPendingDatagrams())
            heard.push_back(receiver.receiveDatagram().data());
        return !heard.empty();
    }));
    EXPECT_EQ(heard.front(), QByteArray("00002\0\0\0\xff", 9));
    EXPECT_TRUE(log.lines.empty());
}

} // namespace
} // namespace glowcast
