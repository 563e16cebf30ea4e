#include "core/lamp_systems/lamp_systems.h"

#include "core/lamp_systems/system_kinds.h"
#include "support/fake_lamp_systems.h"
#include "support/recording_log.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace glowcast {
namespace {

using namespace std::chrono_literals;
using Strings = std::vector<std::string>;
const LampCareSettings kRestoring{{}, false, {}, false, {}, false, std::chrono::seconds{30}};

TEST(LampSystemIdTest, TableIdsSplitBackIntoSystemAndKey)
{
    const std::vector<std::pair<std::string, std::string>> rows{
        {"7", ""}, // the first bridge's lamp
        {"z2m/0x00124b0001/l2", "z2m|0x00124b0001/l2"},
        {"Hue_9-Z/3", "Hue_9-Z|3"},
        {"A0/3", "A0|3"},
        {"/3", ""},
        {"z2m/", ""},
        {"z 2/3", ""},
        {std::string(33, 'a') + "/3", ""},
        {std::string(32, 'a') + "/3", std::string(32, 'a') + "|3"},
    };
    for (const auto& [id, split] : rows) {
        const auto parts = splitLampId(id);
        EXPECT_EQ(parts ? std::string{parts->system} + "|" + std::string{parts->key} : "", split) << id;
        EXPECT_TRUE(!parts || lampIdOf(parts->system, parts->key) == id) << id;
    }
    EXPECT_EQ(lampIdOf("", "7"), "7");
    EXPECT_EQ(systemKindNamed(systemKindName(SystemKind::Zigbee2Mqtt)), SystemKind::Zigbee2Mqtt);
    EXPECT_EQ(systemKindNamed("Bridge"), std::nullopt);
    EXPECT_EQ(systemStateName(SystemState::Ready), "ready");
}

class LampSystemsTest : public ::testing::Test {
protected:
    FakeTimeline timeline;
    FakeLampSystemFactory factory;
    RecordingLog log;
    LampSystems systems{factory, timeline, timeline, log, 3000ms};
    Strings lampsSent;
    int systemsChanged = 0;

    void SetUp() override
    {
        systems.onLampSent = [this](const std::string& id, const LampState&) { lampsSent.push_back(id); };
        systems.onSystemsChanged = [this] { ++systemsChanged; };
    }
    // A ready system "id" with lamps k1..kN.
    FakeLampSystem& ready(const std::string& id, SystemKind kind, int lamps, std::optional<int> pace = {})
    {
        const char* address = kind == SystemKind::Zigbee2Mqtt     ? "mqtt://host"
                              : kind == SystemKind::HomeAssistant ? "http://host"
                                                                  : "host";
        EXPECT_TRUE(systems.add({id, kind, address, pace, {}}).ok());
        factory.made.at(id)->told().lampsRead(colourLamps(lamps));
        log.lines.clear();
        return *factory.made.at(id);
    }
    // States for k1..kN of the system, each with the brightness.
    static std::vector<std::pair<std::string, LampState>> cover(const std::string& system, int count, int brightness)
    {
        std::vector<std::pair<std::string, LampState>> states;
        for (int i = 1; i <= count; ++i)
            states.emplace_back(system + "/k" + std::to_string(i), LampState{false, brightness, {}, {}, {}});
        return states;
    }
};

// Each row: the system, its pace and batch limit, and the time and size of each send, answered at once;
// the pace setting and the time the lamps change (with a delay).
TEST_F(LampSystemsTest, EachSystemSendsAtItsOwnPace)
{
    using Sends = std::vector<std::pair<std::int64_t, std::size_t>>;
    struct Row {
        SystemKind kind;
        std::optional<int> pace;
        std::size_t batch;
        Sends sends;
        std::optional<int> paceSetting = {};
        std::optional<std::chrono::milliseconds> changeIn = {};
    };
    const std::vector<Row> rows{
        {SystemKind::Bridge, {}, 1, {{0, 1}, {100, 1}, {200, 1}}},
        {SystemKind::HomeAssistant, {}, 1, {{0, 1}, {200, 1}, {400, 1}}},
        {SystemKind::Zigbee2Mqtt, 3, 1, {{0, 1}, {334, 1}, {668, 1}}},
        {SystemKind::Wled, 10, 2, {{0, 2}, {200, 1}}},
        // The pace setting caps a kind's own pace, never raises it; a system's own pace wins.
        {SystemKind::Bridge, {}, 1, {{0, 1}, {500, 1}, {1000, 1}}, 2},
        {SystemKind::Zigbee2Mqtt, {}, 1, {{0, 1}, {200, 1}, {400, 1}}, 20},
        {SystemKind::Zigbee2Mqtt, 20, 1, {{0, 1}, {50, 1}, {100, 1}}, 2},
        // The first state waits for its time, and the delay counts against the pace of the rest.
        {SystemKind::Zigbee2Mqtt, {}, 1, {{600, 1}, {800, 1}, {1000, 1}}, {}, 600ms},
    };
    for (const Row& row : rows) {
        LampCareSettings care;
        care.pace = row.paceSetting;
        systems.setCare(care);
        factory.batch = row.batch;
        FakeLampSystem& system = ready("s", row.kind, 3, row.pace);
        const SteadyTime start = timeline.now();
        systems.send(cover("s", 3, 100), true, row.changeIn);
        Sends sends;
        for (int ms = 0; ms <= 2000; ++ms, timeline.advance(1ms)) {
            while (sends.size() < system.sends.size())
                sends.emplace_back((timeline.now() - start) / 1ms, system.sends[sends.size()].commands.size());
            system.answerAll(SendResult::Delivered);
        }
        EXPECT_EQ(sends, row.sends);
        ASSERT_TRUE(systems.remove("s").ok());
    }
}

// Each row: the care settings, the states of the cover after a first one, whether it is a new cover, and
// the lamps sent and lines logged for it.
TEST_F(LampSystemsTest, ALampShowingItsStateOrFadingIsPassedOverAsOnTheFirstBridge)
{
    const LampState dim{false, 50, {}, {}, {}};
    const LampState fading{false, 50, {}, {}, 12};
    const LampState faded{false, 50, {}, {}, 10}; // a second's fade, over as the cover comes
    const std::tuple<bool, LampState, LampState, bool, Strings> rows[] = {
        {false, dim, dim, true, {}},
        {true, dim, dim, true, {"lamp z/k1 already shows bri 50, not sent again"}},
        {false, fading, fading, true, {"lamp z/k1 is still fading to bri 50 fade 12, not sent again"}},
        {false, fading, dim, false, {"lamp z/k1 is still fading and the cover is the same, bri 50 not sent"}},
        {false, fading, dim, true, {}},
        {false, faded, faded, true, {}},
    };
    for (const auto& [skip, first, second, coverChanged, lines] : rows) {
        LampCareSettings care;
        care.skipUnchanged = skip;
        systems.setCare(care);
        FakeLampSystem& system = ready("z", SystemKind::Zigbee2Mqtt, 1);
        systems.send({{"z/k1", first}});
        system.answerAll(SendResult::Delivered);
        timeline.advance(1s);
        lampsSent.clear();
        log.lines.clear();
        systems.send({{"z/k1", second}}, coverChanged);
        system.answerAll(SendResult::Delivered);
        EXPECT_EQ(lampsSent, lines.empty() ? Strings{"z/k1"} : Strings{}) << ::testing::PrintToString(lines);
        EXPECT_EQ(log.lines, lines);
        ASSERT_TRUE(systems.remove("z").ok());
    }
}

TEST_F(LampSystemsTest, ASlowSystemDelaysOnlyItsOwnLampsANewerCoverReplacesWhatWaitsAndRemovalForgetsIt)
{
    FakeLampSystem& slow = ready("slow", SystemKind::Zigbee2Mqtt, 3);
    FakeLampSystem& fast = ready("fast", SystemKind::Bridge, 2);
    auto states = cover("slow", 3, 10);
    const auto fastStates = cover("fast", 2, 20);
    states.insert(states.begin() + 1, fastStates.begin(), fastStates.end());
    systems.send(states);
    fast.answerAll(SendResult::Delivered);
    timeline.advance(100ms);
    EXPECT_EQ(fast.sends.size(), 2u);
    EXPECT_EQ(slow.sends.size(), 1u);

    systems.send(cover("slow", 2, 30)); // slow's first send still waits for its answer
    for (int i = 0; i < 2; ++i, timeline.advance(1000ms))
        slow.answerAll(SendResult::Delivered);
    ASSERT_EQ(slow.sends.size(), 3u);
    EXPECT_EQ(slow.sends[1].commands, (std::vector<LampStateCommand>{{"k1", {false, 30, {}, {}, {}}}}));
    EXPECT_EQ(slow.sends[2].commands, (std::vector<LampStateCommand>{{"k2", {false, 30, {}, {}, {}}}}));
    EXPECT_EQ(lampsSent, (Strings{"fast/k1", "slow/k1", "slow/k1"}));

    // Removed mid-cover, a system is stopped and its lamps forgotten; its timers went with it.
    int lampsChanged = 0;
    systems.onLampsChanged = [&] { ++lampsChanged; };
    fast.answerAll(SendResult::Delivered);
    systems.send(cover("slow", 3, 50));
    ASSERT_TRUE(systems.remove("slow").ok());
    timeline.advance(10s);
    EXPECT_EQ(lampsChanged, 1);
    EXPECT_EQ(systems.lamps().size(), 2u);
    EXPECT_EQ(systems.lamp("slow/k1"), nullptr);
    EXPECT_EQ(log.lines, Strings{"lamp system slow removed"});
    ASSERT_TRUE(systems.restart("fast").ok()); // its lamps are gone until the new adapter lists them
    EXPECT_EQ(lampsChanged, 2);
    factory.made.at("fast")->told().lampsRead(colourLamps(2));
    systems.stop(); // a quit: nothing is sent from now on
    systems.send(fastStates);
    EXPECT_TRUE(factory.made.at("fast")->sends.empty());
    EXPECT_EQ(systems.add({"z3", SystemKind::Zigbee2Mqtt, "mqtt://h", {}, {}}).message, "Glowcast is quitting");
}

TEST_F(LampSystemsTest, ARefusedStateIsLoggedAndASystemNotAnsweringOrNotReadyDropsItsStates)
{
    FakeLampSystem& z2m = ready("z2m", SystemKind::Zigbee2Mqtt, 3);
    systems.send(cover("z2m", 2, 50));
    z2m.answerAll(SendResult::Refused);
    timeline.advance(1s);
    z2m.answerAll(SendResult::Delivered);
    EXPECT_EQ(lampsSent, Strings{"z2m/k2"});
    EXPECT_EQ(log.lines, Strings{"lamp system z2m refused the state of lamp k1"});

    log.lines.clear();
    systems.send(cover("z2m", 2, 50));
    timeline.advance(2999ms);
    EXPECT_TRUE(log.lines.empty());
    timeline.advance(1ms);
    EXPECT_EQ(log.lines, Strings{"lamp system z2m is unreachable: no answer within 3000 ms, 1 lamp state dropped"});
    EXPECT_EQ(systems.statuses().front().state, SystemState::Unreachable);
    z2m.answerAll(SendResult::Delivered); // too late: not counted
    EXPECT_EQ(lampsSent, Strings{"z2m/k2"});

    log.lines.clear();
    for (const auto wait : {0ms, 60'000ms, 0ms}) { // asked to read its lamps again once a minute
        timeline.advance(wait);
        systems.send(cover("z2m", 1, 50));
    }
    EXPECT_EQ(z2m.refreshes, 1);
    EXPECT_EQ(z2m.sends.size(), 3u);
    EXPECT_EQ(log.count("lamp system z2m is unreachable: 1 lamp state dropped"), 3);

    z2m.told().lampsRead(colourLamps(3));
    EXPECT_EQ(log.lines.back(), "lamp system z2m answers again");
    systems.send(cover("z2m", 1, 50));
    z2m.answerAll(SendResult::NoAnswer); // the adapter's own: the same, at once
    EXPECT_EQ(log.lines.back(), "lamp system z2m is unreachable: no answer");

    z2m.told().stateChanged(SystemState::Offline, "the broker is away");
    systems.send(cover("z2m", 2, 50));
    EXPECT_EQ(z2m.sends.size(), 4u);
    EXPECT_EQ(log.lines.back(), "lamp system z2m is offline: 2 lamp states dropped");
    EXPECT_EQ(systems.statuses().front().detail, "the broker is away");
}

// Each state's time runs from its hand-over to the adapter, after its pace's wait, to its answer; only a
// delivered answer is a sample.
TEST_F(LampSystemsTest, MeasuresTheTimeFromHandingAStateOverToItsDeliveredAnswer)
{
    FakeLampSystem& z2m = ready("z2m", SystemKind::Zigbee2Mqtt, 4);
    systems.send(cover("z2m", 4, 50));
    const std::pair<std::chrono::milliseconds, SendResult> answers[] = {{40ms, SendResult::Delivered},
                                                                        {90ms, SendResult::Unconfirmed},
                                                                        {70ms, SendResult::Refused},
                                                                        {20ms, SendResult::Delivered}};
    for (std::size_t sent = 1; const auto& [after, result] : answers) {
        for (int ms = 0; ms < 1000 && z2m.sends.size() < sent; ++ms)
            timeline.advance(1ms);
        ASSERT_EQ(z2m.sends.size(), sent++);
        timeline.advance(after);
        z2m.answerAll(result);
    }
    EXPECT_EQ(systems.statuses().front().latency, (LatencyFigures{20ms, 40ms, 2}));
}

// A detail quoting a peer reaches the bus and a terminal as the log shows it, not as escape sequences.
TEST_F(LampSystemsTest, AStateDetailHasItsControlCharactersEscaped)
{
    FakeLampSystem& z2m = ready("z2m", SystemKind::Zigbee2Mqtt, 1);
    z2m.told().stateChanged(SystemState::Unreachable, "no answer"); // the same state with a new detail follows
    z2m.told().stateChanged(SystemState::Unreachable,
                            "redirected to http://h/\x1b]0;owned\x07\x1b[2J\xff; not followed");
    EXPECT_EQ(systems.statuses().front().detail,
              "redirected to http://h/\\x1B]0;owned\\x07\\x1B[2J\\xFF; not followed");
}

// The system listed first keeps the device, whichever of the two tells its id first; only a bridge is
// called one.
TEST_F(LampSystemsTest, TheSameDeviceTwiceIsRefusedAndStopped)
{
    FakeLampSystem& first = ready("b2", SystemKind::Bridge, 2);
    FakeLampSystem& second = ready("b3", SystemKind::Bridge, 2);
    FakeLampSystem& third = ready("w4", SystemKind::Wled, 2);
    FakeLampSystem& fourth = ready("w5", SystemKind::Wled, 2);
    first.told().identified("024743FFFE000002");
    second.told().identified("024743FFFE000002");
    second.told().lampsRead(colourLamps(2)); // told before it was stopped: not taken
    second.told().stateChanged(SystemState::Offline, "away");
    fourth.told().identified("02005e00a1ed");
    third.told().identified("02005e00a1ed");
    timeline.advance(0ms);
    EXPECT_EQ((std::vector<int>{first.stops, second.stops, third.stops, fourth.stops}), (std::vector<int>{0, 1, 0, 1}));
    const auto statuses = systems.statuses();
    EXPECT_EQ(std::tuple(statuses[1].state, statuses[1].detail, statuses[1].lampCount),
              std::tuple(SystemState::Refused, std::string("the same bridge as b2"), 0u));
    EXPECT_EQ(statuses[3].detail, "the same device as w4");
    EXPECT_EQ(log.lines, (Strings{"lamp system b3 is the same bridge as b2, not used",
                                  "lamp system w5 is the same device as w4, not used"}));
}

TEST_F(LampSystemsTest, AddRefusesWhatCannotBeASystemAndLoadKeepsWhatThisBuildCannotReach)
{
    factory.cannotReach = {SystemKind::Wled};
    ASSERT_TRUE(systems.add({"z2m", SystemKind::Zigbee2Mqtt, "mqtt://localhost", {}, {}}).ok());
    const std::vector<std::pair<SystemRecord, std::string>> rows{
        {{"z 2", SystemKind::Zigbee2Mqtt, "mqtt://localhost", {}, {}},
         "'z 2' is not a system id: letters, digits, '-' and '_', at most 32"},
        {{"z2m", SystemKind::Bridge, "10.0.0.2", {}, {}}, "there is already a lamp system z2m"},
        {{"b2", SystemKind::Bridge, "http://10.0.0.2", {}, {}},
         R"("http://10.0.0.2" is not a host name or address with an optional port (such as 192.168.1.21 or hub.local:8080))"},
        {{"b2", SystemKind::Bridge, "10.0.0.2", 0, {}}, "a pace is 1 to 1000 lamp states a second"},
        {{"b2", SystemKind::Bridge, "10.0.0.2", {}, {}, -201ms}, "an offset is -200 to 2000 ms"},
        {{"w", SystemKind::Wled, "w.local", {}, {}, 0ms, 65'536}, "a sync port is 0 (none) to 65535"},
        {{"w", SystemKind::Wled, "w.local", {}, {}}, "this build cannot reach wled systems"},
    };
    for (const auto& [record, message] : rows)
        EXPECT_EQ(systems.add(record), (Outcome{Failure::InvalidValue, message}));
    EXPECT_EQ(systems.setPace("z2m", 1001).failure, Failure::InvalidValue);
    EXPECT_TRUE(systems.setPace("z2m", 1).ok());
    EXPECT_EQ(systems.setOffset("z2m", 2001ms).failure, Failure::InvalidValue);
    EXPECT_EQ(systems.setSyncPort("z2m", 0), (Outcome{Failure::InvalidValue, "only a WLED system takes a sync port"}));
    EXPECT_EQ(systems.remove("zz").failure, Failure::InvalidValue);
    EXPECT_EQ(systems.restart("zz"), (Outcome{Failure::InvalidValue, "no lamp system zz"}));

    const SystemRecord wled{"w", SystemKind::Wled, "w.local", 7, {}, 0ms, 0};
    systems.load({{"w", SystemKind::Wled, "w.local", 7, {}}, {"z2m", SystemKind::Bridge, "10.0.0.3", {}, {}}});
    factory.made.at("z2m")->told().userObtained("secretuser");
    ASSERT_TRUE(systems.setPace("z2m", 4).ok());
    ASSERT_TRUE(systems.setOffset("z2m", -200ms).ok());
    ASSERT_TRUE(systems.setSyncPort("w", 0).ok());
    EXPECT_EQ(systems.records(),
              (std::vector<SystemRecord>{{"z2m", SystemKind::Zigbee2Mqtt, "mqtt://localhost", 4, "secretuser", -200ms},
                                         wled}));
    EXPECT_EQ(systems.statuses()[1].detail, "this build cannot reach wled systems");
    EXPECT_EQ(systemsChanged, 6);
}

// While lamps are put back after a pause, a lamp is read right before its first state goes out; the
// restore puts back what was read, of a ready system only, names the lamps it could not read, and after a
// quit puts nothing back. Which lamps a later cover reads again is the restorer's (LampRestorerTest).
TEST_F(LampSystemsTest, TheLampsReadBeforeTheirFirstStateArePutBack)
{
    const LampState kShown{false, 7, Chromaticity{0.3, 0.4}, {}, {}};
    FakeLampSystem& system = ready("z2m", SystemKind::Zigbee2Mqtt, 3, 1);
    system.lampStates = {{"k1", {true, kShown}}, {"k2", {false, kShown}}}; // k3's read gives nothing
    std::vector<std::size_t> readsAtSends;
    system.whenSent = [&] { readsAtSends.push_back(system.readKeys.size()); };
    const auto coverOf = [&](int brightness) {
        systems.send(cover("z2m", 3, brightness));
        for (int ms = 0; ms < 4000; ++ms, timeline.advance(1ms))
            system.answerAll(SendResult::Delivered);
    };
    coverOf(40); // not restoring: nothing read
    systems.setCare(kRestoring);
    coverOf(50);
    system.told().stateChanged(SystemState::Offline, "away");
    EXPECT_EQ(systems.restore(), 0u); // a system not ready keeps its reads
    system.told().lampsRead(colourLamps(3));
    system.refusesRestore = {"k1"};
    EXPECT_EQ(systems.restore(), 2u); // k1 at once, k2 a second later
    timeline.advance(2000ms);
    EXPECT_EQ(readsAtSends, (std::vector<std::size_t>{0, 0, 0, 1, 2, 3}));
    EXPECT_EQ(system.putBacks,
              (std::vector<LampStateCommand>{{"k1", {true, 7, Chromaticity{0.3, 0.4}, {}, {}}}, {"k2", kShown}}));
    EXPECT_EQ(log.lines, (Strings{"lamp system z2m leaves lamp k3 as it is: it was not read",
                                  "lamp system z2m puts 2 lamps back", "lamp system z2m refused to put lamp k1 back"}));
    coverOf(80);
    systems.stop();
    EXPECT_EQ(systems.restore(), 0u);
}

// A batch waits for all its lamps' reads; a read answered after the batch timed out is not kept.
TEST_F(LampSystemsTest, ABatchWaitsForItsReadsAndAReadAnsweredAfterItsTimeOutIsNotKept)
{
    factory.batch = 2;
    FakeLampSystem& system = ready("z2m", SystemKind::Zigbee2Mqtt, 2);
    system.lampStates = {{"k1", {true, {}}}, {"k2", {true, {}}}};
    system.holdReads = true;
    systems.setCare(kRestoring);
    systems.send(cover("z2m", 2, 50));
    system.heldReads.at(0)();
    timeline.advance(0ms);
    EXPECT_TRUE(system.sends.empty());
    timeline.advance(3000ms);
    system.heldReads.at(1)();
    system.told().lampsRead(colourLamps(2)); // it answers again
    EXPECT_EQ(systems.restore(), 1u);        // k1 only
}

} // namespace
} // namespace glowcast
