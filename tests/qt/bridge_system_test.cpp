// A further bridge's adapter against the simulator on loopback: its id, pairing by the link button,
// its lamps, a state sent, read and put back, and the answers that are no lamps.

#include "adapters/bridge/bridge_system.h"
#include "support/processes.h"
#include "support/recording_listener.h"
#include "support/recording_log.h"
#include "support/waiting.h"

#include <gtest/gtest.h>

namespace glowcast {
namespace {

using namespace std::chrono_literals;
using testing::RecordingListener;
using testing::Simulator;
using testing::waitFor;
using testing::words;

struct Adapter {
    Adapter(const std::string& address, std::optional<std::string> user, BridgeSystem::Options options = {})
        : system({"bridge-2", SystemKind::Bridge, address, std::nullopt, std::move(user)}, log, options)
    {
        system.setListener(&listener);
        system.start();
    }
    bool waitForTold(std::size_t count)
    {
        return waitFor([&] { return listener.told.size() >= count; }, 10'000);
    }
    RecordingLog log;
    RecordingListener listener;
    BridgeSystem system;
};

TEST(BridgeSystemTest, PairsByTheLinkButtonReadsTheLampsAndSendsReadsAndRestoresAState)
{
    Simulator sim{words("--lamps extended,temperature --bridge-id 024743fffe00000b")};
    ASSERT_FALSE(sim.address.empty());
    Adapter bridge{sim.address, std::nullopt, {.pairingPause = 50ms}};
    ASSERT_TRUE(bridge.waitForTold(2));
    EXPECT_EQ(bridge.listener.told,
              (std::vector<std::string>{"id 024743FFFE00000B",
                                        "state pairing: press the link button on the bridge at " + sim.address}));
    ASSERT_TRUE(waitFor([&] { return sim.requests(QStringLiteral("POST")).size() >= 2; }, 5'000)) << "it asks again";
    sim.control(HttpMethod::Post, "/sim/linkbutton");
    ASSERT_TRUE(bridge.waitForTold(4));
    const std::string user = bridge.listener.told[2].substr(5);
    EXPECT_EQ(bridge.listener.told[3], "lamps 1,2");
    ASSERT_EQ(bridge.listener.lamps.size(), 2u);
    EXPECT_EQ(bridge.listener.lamps[1].capabilities,
              (LampCapabilities{LampKind::ColourTemperature, std::nullopt, MiredRange{153, 454}}));

    std::vector<SendResult> results;
    const LampState red{true, 254, Chromaticity{0.6, 0.3}, {}, {}};
    const LampState warm{false, {}, {}, 300, {}};
    bridge.system.send({{"1", red}, {"2", warm}, {"9", warm}}, [&](SendResult result) { results.push_back(result); });
    ASSERT_TRUE(waitFor([&] { return !results.empty(); }, 5'000));
    EXPECT_EQ(results, std::vector<SendResult>{SendResult::Refused}) << "lamp 2 is off, lamp 9 is none";
    const std::vector<std::string> puts = sim.requests(QStringLiteral("PUT"));
    EXPECT_EQ(puts, (std::vector<std::string>{"PUT /api/" + user +
                                                  R"(/lights/1/state {"on":true,"bri":254,"xy":[0.6000,0.3000]})",
                                              "PUT /api/" + user + R"(/lights/2/state {"ct":300})",
                                              "PUT /api/" + user + R"(/lights/9/state {"ct":300})"}));

    std::optional<ReadLampState> read;
    bridge.system.readState("1", [&](std::optional<ReadLampState> state) { read = state; });
    ASSERT_TRUE(waitFor([&] { return read.has_value(); }, 5'000));
    EXPECT_EQ(*read, (ReadLampState{true, {false, 254, Chromaticity{0.6, 0.3}, {}, {}}}));
    bridge.system.restore("1", {false, {}}, [&](SendResult result) { results.push_back(result); });
    ASSERT_TRUE(waitFor([&] { return results.size() == 2; }, 5'000));
    EXPECT_EQ(results[1], SendResult::Delivered);
    EXPECT_EQ(sim.requests(QStringLiteral("PUT")).back(), "PUT /api/" + user + R"(/lights/1/state {"on":false})");
}

// A user the bridge does not know, a link button never pressed, an oversized reply and no bridge at
// all: each a state with its reason, never lamps.
TEST(BridgeSystemTest, AnUnknownUserAnUnpressedButtonAnOversizedReplyAndNoBridgeAreNoLamps)
{
    Simulator sim{words("--bridge-id 024743FFFE00000C")};
    ASSERT_FALSE(sim.address.empty());
    Adapter stranger{sim.address, "mallory"};
    Adapter impatient{sim.address, std::nullopt, {.pairingPause = 50ms, .pairingLimit = 300ms}};
    ASSERT_TRUE(stranger.waitForTold(2));
    ASSERT_TRUE(impatient.waitForTold(3));
    // The same bridge reached twice tells the same id twice: the registry keeps only the first.
    EXPECT_EQ(stranger.listener.told[0], "id 024743FFFE00000C");
    EXPECT_EQ(impatient.listener.told[0], "id 024743FFFE00000C");
    EXPECT_EQ(stranger.listener.told[1],
              "state refused: the bridge does not know the user name; remove and add it to pair again");
    EXPECT_EQ(impatient.listener.told[2], "state refused: the link button was not pressed");
    const std::size_t attempts = sim.requests(QStringLiteral("POST")).size();
    EXPECT_TRUE(attempts >= 5 && attempts <= 7) << attempts;

    sim.control(HttpMethod::Post, "/sim/faults", R"({"mode":"oversized","size":2000,"path":"/lights"})");
    Adapter capped{sim.address, "mallory", {.maxReplyBytes = 1000}};
    ASSERT_TRUE(capped.waitForTold(2));
    EXPECT_EQ(capped.listener.told[1], "state unreachable: no answer from the bridge at " + sim.address);
    EXPECT_TRUE(testing::logHas(capped.log, "larger than 1000 bytes, dropped"));

    Adapter nobody{"127.0.0.1:1", "alice"};
    ASSERT_TRUE(nobody.waitForTold(1));
    EXPECT_EQ(nobody.listener.told,
              std::vector<std::string>{"state unreachable: no answer from the bridge at 127.0.0.1:1"});
}

} // namespace
} // namespace glowcast
