#include "core/bridge/bridge_fields.h"
#include "core/bridge/bridge_overload.h"
#include "core/bridge/lamp_care.h"
#include "core/bridge/lamp_record.h"
#include "core/json/json_codec.h"
#include "core/lamp_care/lamp_pacer.h"
#include "core/lamp_care/latency_record.h"
#include "core/lamp_care/send_schedule.h"
#include "support/fake_lamp_bridge.h"
#include "support/recording_log.h"

#include <gtest/gtest.h>

namespace glowcast {
namespace {

using namespace std::chrono_literals;
using Calls = std::vector<std::string>;
using Times = std::vector<long>;

const LampTarget kRed{255, Chromaticity{0.64, 0.33}};
const LampTarget kZero{};

std::vector<LampTargetCommand> lamps(int count, const LampTarget& target = kRed)
{
    std::vector<LampTargetCommand> commands;
    for (int i = 1; i <= count; ++i)
        commands.push_back({std::to_string(i), target});
    return commands;
}

TEST(LampRestorerTest, PutsBackOnBrightnessAndTheColourInTheLampsOwnMode)
{
    // clang-format off
    const std::pair<const char*, const char*> rows[] = {
        {R"({"on":true,"bri":200,"xy":[0.3127,0.329],"ct":153,"colormode":"xy"})", R"({"on":true,"bri":200,"xy":[0.3127,0.3290]})"},
        {R"({"on":false,"bri":10,"xy":[0.5,0.4],"ct":366,"colormode":"ct"})", R"({"bri":10,"ct":366,"on":false})"},
        {R"({"on":true,"bri":254,"hue":8000,"sat":140,"colormode":"hs"})", R"({"on":true,"bri":254,"hue":8000,"sat":140})"},
        {R"({"state":{"on":true,"bri":1}})", R"({"on":true,"bri":1})"},
        {R"({"on":"maybe","bri":300,"xy":[2,0],"colormode":"xy"})", ""},
        {R"({"on":true,"bri":0,"hue":65535,"sat":255,"colormode":"hs"})", R"({"on":true,"bri":0,"hue":65535,"sat":255})"},
        {R"({"bri":255,"hue":0,"sat":0,"colormode":"hs"})", R"({"bri":255,"hue":0,"sat":0})"},
        {R"({"bri":256,"hue":65536,"sat":256,"colormode":"hs"})", ""},
        {R"({"on":"true","ct":1,"colormode":"ct"})", R"({"on":true,"ct":1})"},
        {R"({"ct":1000,"colormode":"ct"})", R"({"ct":1000})"},
        {R"({"on":"false","ct":1001,"colormode":"ct"})", R"({"on":false})"},
        {R"({"on":true,"bri":12x})", R"({"on":true})"},
    };
    // clang-format on
    for (const auto& [record, body] : rows) {
        RecordingLog log;
        const auto restore = restoreBodyFrom("1", dictionaryFromJSON(record, log), log);
        EXPECT_EQ(restore ? JSONFromDictionary(*restore) : "", body) << record;
    }
    RecordingLog log;
    (void)restoreBodyFrom("1", Dictionary{{"on", true}}, log); // usable: nothing logged
    (void)restoreBodyFrom("1", Dictionary{{"on", "maybe"}, {"bri", "300"}, {"colormode", "xy"}}, log);
    EXPECT_EQ(log.lines, std::vector<std::string>{"lamp 1: state 'on', 'bri', 'xy' unusable, not put back"});
}

TEST(LampRestorerTest, RestoresEachColouredLampOnceAfterTheDelayAndStopsForANewState)
{
    const SteadyTime t0{};
    const Dictionary first{{"bri", 1}};
    const Dictionary second{{"bri", 2}};
    LampRestorer<Dictionary> restorer;
    restorer.setDelay(10s);
    restorer.remember("1", first);
    restorer.remember("2", second);
    restorer.remember("3", first); // never answered, so never coloured
    restorer.playerChanged(PlayerActivity::Paused, t0);
    EXPECT_EQ(restorer.due(), std::nullopt); // nothing coloured yet
    restorer.coloured("1", t0 + 2s);
    restorer.coloured("2", t0 + 2s);
    EXPECT_EQ(restorer.due(), t0 + 12s);
    restorer.setDelay(10s); // the same delay keeps what was remembered
    EXPECT_FALSE(restorer.needsSnapshot("1"));
    restorer.playerChanged(PlayerActivity::Playing, t0 + 10s);
    EXPECT_EQ(restorer.due(), std::nullopt);
    restorer.playerChanged(PlayerActivity::Paused, t0 + 20s);
    restorer.playerChanged(PlayerActivity::Gone, t0 + 25s);
    EXPECT_EQ(restorer.due(), t0 + 30s);

    // Lamp 1 is put back, then a new cover colours it: the restore stops, lamp 1 is read afresh,
    // and lamp 2 keeps its own state for the restore that follows.
    EXPECT_EQ(restorer.takeNext(t0 + 30s), (LampRestore<Dictionary>{"1", first}));
    EXPECT_TRUE(restorer.needsSnapshot("1"));
    restorer.remember("1", second);
    restorer.coloured("1", t0 + 31s);
    EXPECT_EQ(restorer.takeNext(t0 + 31s), std::nullopt);
    EXPECT_EQ(restorer.takeNext(t0 + 41s), (LampRestore<Dictionary>{"2", second}));
    EXPECT_EQ(restorer.takeNext(t0 + 41s), (LampRestore<Dictionary>{"1", second}));
    EXPECT_EQ(restorer.takeNext(t0 + 41s), std::nullopt);
    EXPECT_TRUE(restorer.needsSnapshot("2")); // the next state begins a new session

    restorer.remember("2", first);
    restorer.coloured("2", t0 + 42s);
    ASSERT_EQ(restorer.due(), t0 + 52s);
    restorer.setDelay(std::nullopt);
    EXPECT_EQ(restorer.due(), std::nullopt);
    EXPECT_FALSE(restorer.needsSnapshot("2"));
}

TEST(LampPacerTest, SlowsDownOnOverloadAndSpeedsUpAfterQuietBatches)
{
    LampPacer pacer;
    // o: the bridge was overloaded; b: a batch with an overload ended; q: a quiet batch ended.
    const std::pair<char, long> steps[] = {{'o', 100}, {'o', 200}, {'o', 400}, {'o', 400}, {'b', 400},
                                           {'q', 200}, {'q', 100}, {'q', 50},  {'q', 0},   {'o', 100}};
    for (const auto& [step, interval] : steps) {
        if (step == 'o')
            pacer.overloaded();
        else
            pacer.batchEnded(step == 'b');
        EXPECT_EQ(pacer.interval().count(), interval) << step;
    }
    pacer.setPace(7); // 1030 / 7 = 147.1, rounded up, longer than the slowing
    EXPECT_EQ(pacer.interval().count(), 148);
    EXPECT_EQ(pacer.waitBefore(SteadyTime{}).count(), 0) << "nothing sent yet";
    pacer.sent(SteadyTime{1s});
    EXPECT_EQ(pacer.waitBefore(SteadyTime{1100ms}).count(), 48);
    EXPECT_EQ(pacer.waitBefore(SteadyTime{2s}).count(), 0);
    pacer.setPace(0); // no pace: only the slowing is left
    EXPECT_EQ(pacer.interval().count(), 100);
}

TEST(LatencyRecordTest, GivesNearestRankMedianAndP95OfTheLast50Samples)
{
    std::vector<long> lastFifty(60, 9000); // the first ten are forgotten
    for (long i = 0; i < 50; ++i)
        lastFifty[static_cast<std::size_t>(10 + i)] = 50 - i;
    const std::pair<std::vector<long>, std::optional<LatencyFigures>> rows[] = {
        {{}, std::nullopt},
        {{5, 1, 3}, LatencyFigures{3ms, 5ms, 3}},
        {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20}, LatencyFigures{10ms, 19ms, 20}},
        {lastFifty, LatencyFigures{25ms, 48ms, 50}},
    };
    for (const auto& [samples, figures] : rows) {
        LatencyRecord record;
        for (const long taken : samples)
            record.add(std::chrono::milliseconds{taken});
        EXPECT_EQ(record.figures(), figures) << samples.size() << " samples";
    }
}

// Each row, in order for one system: how long until the lamps change, the system's median latency and
// samples, its offset, when its first state goes out, how late its lamp changes (a system slower than the
// delay), and the line told.
TEST(SendScheduleTest, TheFirstStateGoesOutEarlyByTheLatencyLateByTheOffsetAndLatenessIsToldOnce)
{
    const std::tuple<decltype(0ms), LatencyFigures, decltype(0ms), SendPlan, std::string> rows[] = {
        {600ms, {150ms, 190ms, 3}, 0ms, {450ms, 0ms}, ""}, // the median counts
        {600ms, {400ms, 400ms, 2}, 0ms, {600ms, 0ms}, ""}, // too few samples: counts as 0 ms
        {600ms, {400ms, 400ms, 10}, 250ms, {450ms, 0ms}, ""},
        {600ms, {720ms, 720ms, 10}, 0ms, {0ms, 120ms}, "lamp system ha is 120 ms late for the delay of 600 ms"},
        {600ms, {5ms, 5ms, 50}, 0ms, {595ms, 0ms}, "lamp system ha is on time for the delay again"},
    };
    LateNotice notice;
    for (const auto& [changeIn, figures, offset, plan, told] : rows) {
        const SendPlan planned = planSend(changeIn, countedLatency(figures), offset);
        EXPECT_EQ(planned, plan) << changeIn.count() << " " << figures.median.count() << " " << offset.count();
        EXPECT_EQ(notice.told("lamp system ha", planned, 600ms).value_or(""), told);
    }
}

TEST(BridgeOverloadTest, ReadsARetryAfterInSecondsOnly)
{
    const std::pair<const char*, std::optional<std::chrono::seconds>> rows[] = {
        {"2", 2s},  {"9", 9s},   {" 120\t", 120s},    {"", {}},
        {"-1", {}}, {"1.5", {}}, {"99999999999", {}}, {"Wed, 21 Oct 2015 07:28:00 GMT", {}}};
    for (const auto& [header, wait] : rows)
        EXPECT_EQ(retryAfterFromHeader(header), wait) << header;
    EXPECT_EQ(retryAfterFromHeader(std::string_view("12", 1)), 1s); // its own bytes, never what follows them
}

// Lamp 1 has a colour temperature only, lamp 2 dims only, lamp 3 is of a kind not known, the others are not listed.
struct LampCareTest : ::testing::Test {
    LampCareTest()
    {
        care.readLampList(dictionaryFromJSON(
            R"({"1":{"type":"Color temperature light","capabilities":{"control":)"
            R"({"ct":{"min":153,"max":500}}}},"2":{"type":"Dimmable light"},"3":{"type":"Lava lamp"}})",
            log));
    }
    RecordingLog log;
    SleptTime time;
    FakeLampBridge bridge{time};
    LampCare care{bridge, time, time.sleeper, log};
};

TEST_F(LampCareTest, WithoutSettingsSendsEveryBodyAsItIsAtOnceAndAPaceSpreadsThemEvenly)
{
    care.send({{"1", kRed}, {"2", kZero}, {"3", kRed}});
    care.send({{"1", kRed}});
    EXPECT_EQ(bridge.calls,
              (Calls{R"(PUT 1 {"bri":255,"xy":[0.640,0.330]})", R"(PUT 2 {"bri":0,"sat":0})",
                     R"(PUT 3 {"bri":255,"xy":[0.640,0.330]})", R"(PUT 1 {"bri":255,"xy":[0.640,0.330]})"}));
    EXPECT_EQ(time.sleeper.calls, 0);
    bridge.sentAt.clear();
    care.setSettings(settingsOf({{"pace", 10}})); // twelve lamps at ten a second, the first after the last send
    care.send(lamps(12));
    EXPECT_EQ(bridge.sentAt, (Times{103, 206, 309, 412, 515, 618, 721, 824, 927, 1030, 1133, 1236}));
}

// The bridge takes 10, 20 and 30 ms to answer the three states; the pace's waits are not counted, nor is
// the state it refused.
TEST_F(LampCareTest, MeasuresEachAcceptedStateFromItsRequestToItsReply)
{
    bridge.whileAnswering = [this, n = 0]() mutable { time.sleeper.sleep(std::chrono::milliseconds{10 * ++n}); };
    bridge.replies = {HttpReply{}, HttpReply{200, R"([{"error":{"type":201}}])", {}}, HttpReply{}};
    care.setSettings(settingsOf({{"pace", 10}}));
    care.send({{"1", kRed}, {"2", kRed}, {"3", kRed}});
    EXPECT_EQ(care.latency().figures(), (LatencyFigures{10ms, 30ms, 2}));
}

TEST_F(LampCareTest, AnOverloadedBridgeGetsOneResendAfterItsWaitAndTheNextCommandsSlowDown)
{
    const std::pair<std::vector<std::optional<HttpReply>>, Times> rows[] = {
        {{HttpReply{429, "", 2s}}, {0, 2000, 2100, 2200, 2300}}, // lamp 1, lamp 1 again, lamps 2 and 3
        {{HttpReply{503, "", {}}}, {0, 1000, 1100, 1200, 1300}},
        // A storm: one resend after at most 3 s, then no waiting past the batch's few seconds.
        {{HttpReply{429, "", 60s}, HttpReply{429, "", 60s}, HttpReply{429, "", 3s}, HttpReply{429, "", 3s}},
         {0, 3000, 3100, 3300, 3700}},
        {{std::nullopt}, {0, 0, 0, 0}}, // no reply: no resend
        {{HttpReply{503, "", 0s}}, {0, 0, 100, 200, 300}},
    };
    for (const auto& [replies, sentAt] : rows) {
        SleptTime clock;
        FakeLampBridge overloaded{clock};
        LampCare fresh{overloaded, clock, clock.sleeper, log};
        overloaded.replies.assign(replies.begin(), replies.end());
        fresh.send(lamps(3));
        fresh.send(lamps(1)); // the slowing holds through the batch after an overload
        EXPECT_EQ(overloaded.sentAt, sentAt);
    }
}

TEST_F(LampCareTest, PutsLampsBackOnceAfterThePauseAndNeverALampItCouldNotRead)
{
    care.setSettings(settingsOf({{"fitLamp", true}, {"restoreAfter", 5}}));
    care.setSettings(settingsOf({{"fitLamp", true}, {"restoreAfter", 5}})); // the kinds are read once
    EXPECT_EQ(log.count("lamp 3: kind 'Lava lamp' not known; it is sent what every lamp is sent"), 1);
    const std::string deleted = R"([{"error":{"type":3,"description":"resource, /lights/1/state, not available"}}])";
    bridge.replies = {HttpReply{200, R"({"state":{"on":true,"bri":200,"ct":366,"colormode":"ct"}})", {}}, HttpReply{},
                      std::nullopt, HttpReply{}, HttpReply{200, deleted, {}}}; // lamp 1 is deleted before its restore
    care.send(lamps(2));
    care.playerChanged(PlayerActivity::Paused);
    EXPECT_EQ(care.restoreDue(), SteadyTime{5s});
    time.sleeper.sleep(4s);
    care.restoreIfDue();
    time.sleeper.sleep(1s);
    care.restoreIfDue();
    care.restoreIfDue();
    EXPECT_EQ(bridge.calls, (Calls{"GET 1", R"(PUT 1 {"bri":255,"ct":500})", "GET 2", R"(PUT 2 {"bri":255})",
                                   R"(PUT 1 {"on":true,"bri":200,"ct":366})"}));
    EXPECT_EQ(bridge.sentAt, (Times{0, 0, 0, 0, 5000}));
    EXPECT_EQ(log.lines.back(), "lamp 1 was not put back: the bridge answered HTTP 200 " + deleted);
    EXPECT_EQ(log.count("lamp 2: its own state could not be read; it will not be put back"), 1);
}

// Which lamps are passed over is the one rule every system follows (LampSystemsTest); here the bridge's own part
// of it: "transitiontime" is the fade, and an answer that is no success is no acceptance.
TEST_F(LampCareTest, APutBackWaitsForTheLampsFadeToEndAndFadesItself)
{
    care.setSettings(settingsOf({{"fade", 100}, {"restoreAfter", 5}, {"skipUnchanged", true}}));
    bridge.replies = {HttpReply{200, R"({"state":{"on":true,"bri":200}})", {}}, HttpReply{300, "[]", {}}};
    care.send(lamps(1));
    care.playerChanged(PlayerActivity::Paused);
    EXPECT_EQ(care.restoreDue(), SteadyTime{10s}); // the fade's 10 s outlast the 5 s
    time.sleeper.sleep(10s);
    care.send(lamps(1)); // the bridge's 300 was no acceptance: sent again, and the wait starts anew
    time.sleeper.sleep(10s);
    care.restoreIfDue();
    const std::string red = R"({"bri":255,"xy":[0.640,0.330],"transitiontime":100})";
    EXPECT_EQ(bridge.calls,
              (Calls{"GET 1", "PUT 1 " + red, "PUT 1 " + red, R"(PUT 1 {"on":true,"bri":200,"transitiontime":100})"}));
}

TEST(BridgeFieldsTest, ReadsListTextsExactlyOrNotAtAll)
{
    EXPECT_EQ(chromaticityFrom(" [ 0.3127 , 1 ] "), (Chromaticity{0.3127, 1.0}));
    const std::pair<Value, std::optional<std::int64_t>> numbers[] = {
        {1.5, std::nullopt}, {1e15, 1'000'000'000'000'000}, {1e15 + 2, std::nullopt}};
    for (const auto& [number, whole] : numbers)
        EXPECT_EQ(wholeNumberFrom(&number), whole) << describe(number);
    for (const char* bad : {"", "[0.1,0.2", "[0.1,0.2]x", "[1.5,0.2]", "[-0.1,0.2]", "[nan,0.2]", "[0.1,0.2,0.3]"})
        EXPECT_EQ(chromaticityFrom(bad), std::nullopt) << bad;
    EXPECT_EQ(chromaticityFrom("[0.1," + std::string(247, ' ') + "0.2]"), (Chromaticity{0.1, 0.2})); // 256 long
    EXPECT_EQ(chromaticityFrom("[0.1," + std::string(248, ' ') + "0.2]"), std::nullopt);
    EXPECT_EQ(gamutFrom("[[0.6915,0.3083],[0.17,0.7],[0.1532,0.0475]]"), gamutOfType("C"));
    EXPECT_EQ(gamutFrom("[[0.6915,0.3083],[0.17,0.7],[0.1532,0.0475]" + std::string(212, ' ') + "]"),
              gamutOfType("C")); // 256 long
    // Corners in either order; a triangle of less than 0.001 is none.
    EXPECT_EQ(gamutFrom("[[0.3,0.3],[0.31,0.35],[0.35,0.33]]"),
              (Gamut{{Chromaticity{0.3, 0.3}, Chromaticity{0.31, 0.35}, Chromaticity{0.35, 0.33}}}));
    for (const char* bad : {"[[0.6915,0.3083]", "[[0.1,0.1],[0.1,0.1],[0.2,0.2]]", "[[0.7,0.3],[0.2,0.7]]",
                            "[[0.3,0.3],[0.31,0.34],[0.34,0.32]]", "[[0.6915,0.3083],[0.17,0.7],[0.1532,0.0475]]x"})
        EXPECT_EQ(gamutFrom(bad), std::nullopt) << bad;
}

TEST(LampCapabilitiesTest, ReadsKindGamutAndRangeFromTheDecodedLampRecord)
{
    using enum LampKind;
    // The lamp's "type", its "capabilities" / "control", what is read, and whether a line is logged.
    const std::string ct = "Color temperature light";
    // clang-format off
    const std::tuple<std::string, std::string, LampCapabilities, bool> rows[] = {
        {"Extended color light", R"({"colorgamuttype":"C","colorgamut":[[0.6915,0.3083],[0.17,0.7],[0.1532,0.0475]],"ct":{"min":153,"max":500}})", {ExtendedColour, gamutOfType("C"), {}}, false},
        {"Color light", R"({"colorgamuttype":"A"})", {Colour, gamutOfType("A"), {}}, false},
        {"Color light", R"({"colorgamuttype":"B"})", {Colour, gamutOfType("B"), {}}, false},
        {"Color light", R"({"colorgamuttype":"other"})", {Colour, {}, {}}, true},
        {"color temperature light", R"({"ct":{"min":153,"max":454}})", {ColourTemperature, {}, MiredRange{153, 454}}, false},
        {ct, R"({"ct":{"min":500,"max":153}})", {ColourTemperature, {}, {}}, true},
        {ct, R"({"ct":{"min":50,"max":1000}})", {ColourTemperature, {}, MiredRange{50, 1000}}, false},
        {ct, R"({"ct":{"min":49,"max":500}})", {ColourTemperature, {}, {}}, true},
        {ct, R"({"ct":{"min":300,"max":300}})", {ColourTemperature, {}, MiredRange{300, 300}}, false},
        {ct, R"({"ct":{"min":153,"max":1001}})", {ColourTemperature, {}, {}}, true},
        {"Dimmable light", "{}", {Dimmable, {}, {}}, false},
        {"On/Off plug-in unit", "{}", {OnOff, {}, {}}, false},
        {"Lava lamp", "{}", {}, true},
    };
    // clang-format on
    RecordingLog log;
    // Corners are read when they arrive whole (the codec cuts a list of lists short), before the type.
    const Dictionary whole{
        {"type", "Color light"},
        {"capabilities", Dictionary{{"control", Dictionary{{"colorgamut", "[[0.7,0.3],[0.2,0.7],[0.15,0.05]]"},
                                                           {"colorgamuttype", "A"}}}}}};
    EXPECT_EQ(lampCapabilitiesFrom("7", whole, log).gamut,
              (Gamut{{Chromaticity{0.7, 0.3}, Chromaticity{0.2, 0.7}, Chromaticity{0.15, 0.05}}}));
    NullLog quiet;
    for (const auto& [type, control, expected, logs] : rows) {
        const Dictionary record =
            dictionaryFromJSON(R"({"type":")" + type + R"(","capabilities":{"control":)" + control + "}}", quiet);
        log.lines.clear();
        EXPECT_EQ(lampCapabilitiesFrom("7", record, log), expected) << type << control;
        EXPECT_EQ(log.lines.size(), logs ? 1u : 0u) << type << control;
    }
}

} // namespace
} // namespace glowcast
