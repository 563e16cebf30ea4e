#include "core/lamp_systems/lamp_systems.h"

#include "support/fake_lamp_systems.h"
#include "support/recording_log.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace glowcast {
namespace {

using namespace std::chrono_literals;

TEST(LampSystemIdTest, TableIdsSplitBackIntoSystemAndKey)
{
    struct Row {
        std::string id;
        std::optional<std::pair<std::string, std::string>> split;
    };
    const std::vector<Row> rows{
        {"7", std::nullopt},                                   // the first bridge's lamp
        {"z2m/0x00124b0001", {{"z2m", "0x00124b0001"}}},       //
        {"z2m/0x00124b0001/l2", {{"z2m", "0x00124b0001/l2"}}}, // an endpoint: the key keeps its slash
        {"bridge-2/3", {{"bridge-2", "3"}}},
        {"/3", std::nullopt},
        {"z2m/", std::nullopt},
        {"z 2/3", std::nullopt},
        {std::string(33, 'a') + "/3", std::nullopt},
        {std::string(32, 'a') + "/3", {{std::string(32, 'a'), "3"}}},
    };
    for (const Row& row : rows) {
        const auto split = splitLampId(row.id);
        ASSERT_EQ(split.has_value(), row.split.has_value()) << row.id;
        if (split) {
            EXPECT_EQ(split->system, row.split->first) << row.id;
            EXPECT_EQ(split->key, row.split->second) << row.id;
            EXPECT_EQ(lampIdOf(split->system, split->key), row.id);
        }
    }
    EXPECT_EQ(lampIdOf("", "7"), "7");
    for (const SystemKind kind :
         {SystemKind::Bridge, SystemKind::Zigbee2Mqtt, SystemKind::HomeAssistant, SystemKind::Wled})
        EXPECT_EQ(systemKindNamed(systemKindName(kind)), kind);
    EXPECT_EQ(systemKindNamed("Bridge"), std::nullopt);
    EXPECT_EQ(systemStateName(SystemState::Unreachable), "unreachable");
}

class LampSystemsTest : public ::testing::Test {
protected:
    FakeTimeline timeline;
    FakeLampSystemFactory factory;
    RecordingLog log;
    LampSystems systems{factory, timeline, timeline, log, 3000ms};
    std::vector<std::pair<std::string, LampState>> lampsSent;
    int systemsChanged = 0;

    void SetUp() override
    {
        systems.onLampSent = [this](const std::string& id, const LampState& state) {
            lampsSent.emplace_back(id, state);
        };
        systems.onSystemsChanged = [this] { ++systemsChanged; };
    }
    // A ready system "id" with lamps k1..kN.
    FakeLampSystem& ready(const std::string& id, SystemKind kind, int lamps, std::optional<int> pace = {})
    {
        EXPECT_TRUE(systems.add({id, kind, kind == SystemKind::Zigbee2Mqtt ? "mqtt://host" : "host", pace, {}}).ok());
        FakeLampSystem& system = *factory.made.at(id);
        system.told().lampsRead(colourLamps(lamps));
        log.lines.clear();
        return system;
    }
    static std::vector<std::pair<std::string, LampState>> cover(const std::string& system, int count, int brightness)
    {
        std::vector<std::pair<std::string, LampState>> states;
        for (int i = 1; i <= count; ++i)
            states.emplace_back(system + "/k" + std::to_string(i), LampState{false, brightness, {}, {}, {}});
        return states;
    }
    // The time of each send, answering each at once, until 2 s have passed.
    std::vector<long> sendTimes(FakeLampSystem& system)
    {
        std::vector<long> times;
        for (int ms = 0; ms <= 2000; ++ms) {
            while (times.size() < system.sends.size())
                times.push_back(timeline.elapsed().count());
            system.answerAll(SendResult::Delivered);
            timeline.advance(1ms);
        }
        return times;
    }
};

TEST_F(LampSystemsTest, EachSystemSendsAtItsOwnPace)
{
    struct Row {
        SystemKind kind;
        std::optional<int> pace;
        std::size_t batch;
        std::vector<long> times;
        std::vector<std::size_t> sizes;
    };
    const std::vector<Row> rows{
        {SystemKind::Bridge, {}, 1, {0, 100, 200}, {1, 1, 1}},
        {SystemKind::Zigbee2Mqtt, {}, 1, {0, 200, 400}, {1, 1, 1}},
        {SystemKind::Zigbee2Mqtt, 3, 1, {0, 334, 668}, {1, 1, 1}},
        {SystemKind::Wled, 10, 2, {0, 200}, {2, 1}},
        {SystemKind::Bridge, 1000, 1, {0, 1, 2}, {1, 1, 1}},
    };
    int n = 0;
    for (const Row& row : rows) {
        factory.batch = row.batch;
        const std::string id = "s" + std::to_string(++n);
        FakeLampSystem& system = ready(id, row.kind, 3, row.pace);
        const long start = timeline.elapsed().count();
        systems.send(cover(id, 3, 100));
        std::vector<long> times = sendTimes(system);
        for (long& time : times)
            time -= start;
        EXPECT_EQ(times, row.times) << id;
        std::vector<std::size_t> sizes;
        for (const auto& each : system.sends)
            sizes.push_back(each.commands.size());
        EXPECT_EQ(sizes, row.sizes) << id;
        ASSERT_TRUE(systems.remove(id).ok());
    }
}

TEST_F(LampSystemsTest, ASlowSystemDelaysOnlyItsOwnLampsAndANewerCoverReplacesWhatWaits)
{
    FakeLampSystem& slow = ready("slow", SystemKind::Zigbee2Mqtt, 3);
    FakeLampSystem& fast = ready("fast", SystemKind::Bridge, 2);
    auto states = cover("slow", 3, 10);
    const auto fastStates = cover("fast", 2, 20);
    states.insert(states.begin() + 1, fastStates.begin(), fastStates.end());
    systems.send(states);
    ASSERT_EQ(slow.sends.size(), 1u);
    ASSERT_EQ(fast.sends.size(), 1u);
    fast.answerAll(SendResult::Delivered);
    timeline.advance(100ms);
    EXPECT_EQ(fast.sends.size(), 2u);

    systems.send(cover("slow", 2, 30)); // slow's first send still waits for its answer
    slow.answerAll(SendResult::Delivered);
    timeline.advance(1000ms);
    slow.answerAll(SendResult::Delivered);
    timeline.advance(1000ms);
    ASSERT_EQ(slow.sends.size(), 3u);
    EXPECT_EQ(slow.sends[1].commands, (std::vector<LampStateCommand>{{"k1", {false, 30, {}, {}, {}}}}));
    EXPECT_EQ(slow.sends[2].commands, (std::vector<LampStateCommand>{{"k2", {false, 30, {}, {}, {}}}}));
    const std::vector<std::string> told{"fast/k1", "slow/k1", "slow/k1"};
    ASSERT_EQ(lampsSent.size(), 3u);
    for (std::size_t i = 0; i < told.size(); ++i)
        EXPECT_EQ(lampsSent[i].first, told[i]);
}

TEST_F(LampSystemsTest, ASystemThatDoesNotAnswerIsUnreachableUntilItReadsItsLampsAgain)
{
    FakeLampSystem& z2m = ready("z2m", SystemKind::Zigbee2Mqtt, 3);
    systems.send(cover("z2m", 3, 50));
    timeline.advance(2999ms);
    EXPECT_TRUE(log.lines.empty());
    timeline.advance(1ms);
    EXPECT_EQ(log.lines, std::vector<std::string>{
                             "lamp system z2m is unreachable: no answer within 3000 ms, 2 lamp states dropped"});
    EXPECT_EQ(systems.statuses().front().state, SystemState::Unreachable);
    z2m.answerAll(SendResult::Delivered); // too late: not counted
    EXPECT_TRUE(lampsSent.empty());

    log.lines.clear();
    systems.send(cover("z2m", 1, 50)); // within the minute: not asked again
    timeline.advance(60s);
    systems.send(cover("z2m", 1, 50));
    timeline.advance(10s);
    systems.send(cover("z2m", 1, 50));
    EXPECT_EQ(z2m.refreshes, 1);
    EXPECT_EQ(z2m.sends.size(), 1u);
    EXPECT_EQ(log.count("lamp system z2m is unreachable: 1 lamp state dropped"), 3);

    z2m.told().lampsRead(colourLamps(3));
    EXPECT_EQ(log.lines.back(), "lamp system z2m answers again");
    systems.send(cover("z2m", 1, 50));
    EXPECT_EQ(z2m.sends.size(), 2u);
    z2m.answerAll(SendResult::NoAnswer); // the adapter's own "no answer": the same, at once
    EXPECT_EQ(log.lines.back(), "lamp system z2m is unreachable: no answer");
}

TEST_F(LampSystemsTest, RefusedStatesAreLoggedAndTheRestGoOn)
{
    FakeLampSystem& z2m = ready("z2m", SystemKind::Zigbee2Mqtt, 2, 1000);
    systems.send(cover("z2m", 2, 50));
    z2m.answerAll(SendResult::Refused);
    timeline.advance(1ms);
    z2m.answerAll(SendResult::Delivered);
    EXPECT_EQ(log.lines, std::vector<std::string>{"lamp system z2m refused the state of lamp k1"});
    ASSERT_EQ(lampsSent.size(), 1u);
    EXPECT_EQ(lampsSent[0].first, "z2m/k2");
    EXPECT_EQ(systems.statuses().front().state, SystemState::Ready);
}

TEST_F(LampSystemsTest, ASystemNotReadyDropsItsStatesWithALine)
{
    FakeLampSystem& z2m = ready("z2m", SystemKind::Zigbee2Mqtt, 2);
    z2m.told().stateChanged(SystemState::Offline, "the broker is away");
    systems.send(cover("z2m", 2, 50));
    EXPECT_TRUE(z2m.sends.empty());
    EXPECT_EQ(log.lines, std::vector<std::string>{"lamp system z2m is offline: 2 lamp states dropped"});
    EXPECT_EQ(systems.statuses().front().detail, "the broker is away");
}

TEST_F(LampSystemsTest, TheSameBridgeTwiceIsRefusedAndStopped)
{
    FakeLampSystem& first = ready("b2", SystemKind::Bridge, 2);
    FakeLampSystem& second = ready("b3", SystemKind::Bridge, 2);
    first.told().identified("001788fffe000001");
    second.told().identified("001788fffe000001");
    timeline.advance(0ms);
    EXPECT_EQ(second.stops, 1);
    EXPECT_EQ(first.stops, 0);
    const auto statuses = systems.statuses();
    EXPECT_EQ(statuses[1].state, SystemState::Refused);
    EXPECT_EQ(statuses[1].detail, "the same bridge as b2");
    EXPECT_EQ(statuses[1].lampCount, 0u);
    EXPECT_EQ(systems.lamps().size(), 2u);
    EXPECT_EQ(log.lines.back(), "lamp system b3 is the same bridge as b2, not used");
}

TEST_F(LampSystemsTest, AddRefusesWhatCannotBeASystem)
{
    factory.cannotReach = {SystemKind::Wled};
    ASSERT_TRUE(systems.add({"z2m", SystemKind::Zigbee2Mqtt, "mqtt://localhost", {}, {}}).ok());
    struct Row {
        SystemRecord record;
        std::string message;
    };
    const std::vector<Row> rows{
        {{"z 2", SystemKind::Zigbee2Mqtt, "mqtt://localhost", {}, {}},
         "'z 2' is not a system id: letters, digits, '-' and '_', at most 32"},
        {{"z2m", SystemKind::Bridge, "10.0.0.2", {}, {}}, "there is already a lamp system z2m"},
        {{"b2", SystemKind::Bridge, "http://10.0.0.2", {}, {}},
         R"("http://10.0.0.2" is not a host name or address with an optional port (such as 192.168.1.21 or hub.local:8080))"},
        {{"b2", SystemKind::Bridge, "10.0.0.2", 0, {}}, "a pace is 1 to 1000 lamp states a second"},
        {{"w", SystemKind::Wled, "w.local", {}, {}}, "this build cannot reach wled systems"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(systems.add(row.record), (Outcome{Failure::InvalidValue, row.message})) << row.message;
    EXPECT_EQ(systems.setPace("z2m", 1001).failure, Failure::InvalidValue);
    EXPECT_EQ(systems.setPace("zz", 3).failure, Failure::InvalidValue);
    EXPECT_EQ(systems.remove("zz").failure, Failure::InvalidValue);
    EXPECT_EQ(systems.records().size(), 1u);
}

TEST_F(LampSystemsTest, LoadKeepsRecordsItCannotReachAndTellsWhatChanges)
{
    factory.cannotReach = {SystemKind::Wled};
    const std::vector<SystemRecord> records{{"w", SystemKind::Wled, "http://w", 7, {}},
                                            {"b2", SystemKind::Bridge, "10.0.0.2", {}, {}},
                                            {"b2", SystemKind::Bridge, "10.0.0.3", {}, {}}};
    systems.load(records);
    EXPECT_EQ(systems.records(), (std::vector<SystemRecord>{records[0], records[1]}));
    EXPECT_EQ(systems.statuses()[0].detail, "this build cannot reach wled systems");
    EXPECT_EQ(factory.made.at("b2")->starts, 1);

    factory.made.at("b2")->told().userObtained("secretuser");
    ASSERT_TRUE(systems.setPace("b2", 4).ok());
    EXPECT_EQ(systems.records()[1], (SystemRecord{"b2", SystemKind::Bridge, "10.0.0.2", 4, "secretuser"}));
    EXPECT_EQ(systemsChanged, 2);
}

TEST_F(LampSystemsTest, RemovingASystemMidCoverStopsItAndForgetsItsLamps)
{
    FakeLampSystem& z2m = ready("z2m", SystemKind::Zigbee2Mqtt, 3);
    ready("b2", SystemKind::Bridge, 1);
    int lampsChanged = 0;
    systems.onLampsChanged = [&] { ++lampsChanged; };
    systems.send(cover("z2m", 3, 50));
    EXPECT_EQ(z2m.stops, 0);
    ASSERT_TRUE(systems.remove("z2m").ok());
    timeline.advance(10s);
    EXPECT_EQ(lampsChanged, 1);
    EXPECT_EQ(systems.lamps(), (std::vector<SystemLampRow>{{"b2/k1", "b2", colourLamps(1)[0]}}));
    EXPECT_EQ(systems.lamp("z2m/k1"), nullptr);
    EXPECT_EQ(systems.lamp("b2/k1")->name, "Lamp 1");
    EXPECT_EQ(log.lines.back(), "lamp system z2m removed");
}

} // namespace
} // namespace glowcast
