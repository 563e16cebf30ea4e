// A further bridge's adapter against the simulator on loopback.

#include "adapters/bridge/bridge_system.h"
#include "support/processes.h"
#include "support/recording_listener.h"

#include <gtest/gtest.h>

namespace glowcast {
namespace {

using namespace std::chrono_literals;
using testing::Simulator;
using testing::waitFor;
using testing::words;

testing::StartedSystem bridgeAt(const std::string& address, std::optional<std::string> user,
                                BridgeSystem::Options options = {})
{
    return testing::StartedSystem{[&](Log& log) {
        return std::make_unique<BridgeSystem>(
            SystemRecord{"bridge-2", SystemKind::Bridge, address, std::nullopt, std::move(user)}, log, options);
    }};
}

// Against the simulator, in order: a user the bridge does not know and a link button never pressed are
// refused; pairing asks until the button is pressed, then the lamps are read and a state sent, read and
// put back; no bridge at all is unreachable, and why is logged. Each adapter that reaches the bridge
// tells the same id (the registry keeps only the first).
TEST(BridgeSystemTest, PairsReadsSendsAndRestoresAndTellsWhyThereAreNoLamps)
{
    Simulator sim{words("--lamps extended,temperature --bridge-id 024743fffe00000b")};
    ASSERT_FALSE(sim.address.empty());
    const std::string pairing = "state pairing: press the link button on the bridge at " + sim.address;
    auto stranger = bridgeAt(sim.address, "mallory");
    auto impatient = bridgeAt(sim.address, std::nullopt, {.pairingPause = 50ms, .pairingLimit = 300ms});
    ASSERT_TRUE(stranger.waitForTold(2));
    ASSERT_TRUE(impatient.waitForTold(3));
    EXPECT_EQ(stranger.listener.told[1],
              "state refused: the bridge does not know the user name; remove and add it to pair again");
    EXPECT_EQ(impatient.listener.told[1], pairing);
    EXPECT_EQ(impatient.listener.told[2], "state refused: the link button was not pressed");
    // One attempt a pause at most and none after the limit: 7 in 300 ms when the simulator answers at once,
    // fewer the slower it answers (that it asks again shows below, where no limit cuts it short).
    const std::size_t attempts = sim.requests(QStringLiteral("POST")).size();
    EXPECT_LE(attempts, 7u);

    auto bridge = bridgeAt(sim.address, std::nullopt, {.pairingPause = 50ms});
    ASSERT_TRUE(bridge.waitForTold(2));
    EXPECT_EQ(bridge.listener.told[1], pairing);
    ASSERT_TRUE(waitFor([&] { return sim.requests(QStringLiteral("POST")).size() >= attempts + 2; }, 5'000))
        << "it asks again";
    sim.control(HttpMethod::Post, "/sim/linkbutton");
    ASSERT_TRUE(bridge.waitForTold(4));
    for (const testing::StartedSystem* adapter : {&stranger, &impatient, &bridge})
        EXPECT_EQ(adapter->listener.told[0], "id 024743FFFE00000B");
    const std::string user = bridge.listener.told[2].substr(5);
    EXPECT_EQ(bridge.listener.told[3], "lamps 1,2");

    const LampState warm{false, {}, {}, 300, {}};
    EXPECT_EQ(
        testing::sent(*bridge.system, {{"1", {true, 254, Chromaticity{0.6, 0.3}, {}, {}}}, {"2", warm}, {"9", warm}}),
        SendResult::Refused)
        << "lamp 2 is off, lamp 9 is none";
    const std::string api = "PUT /api/" + user + "/lights/";
    EXPECT_EQ(sim.requests(QStringLiteral("PUT")),
              (std::vector<std::string>{api + R"(1/state {"on":true,"bri":254,"xy":[0.6000,0.3000]})",
                                        api + R"(2/state {"ct":300})", api + R"(9/state {"ct":300})"}));
    EXPECT_EQ(testing::readOf(*bridge.system, "1"),
              (ReadLampState{true, {false, 254, Chromaticity{0.6, 0.3}, {}, {}}}));
    EXPECT_EQ(testing::restored(*bridge.system, "1", {false, {}}), SendResult::Delivered);
    EXPECT_EQ(sim.requests(QStringLiteral("PUT")).back(), api + R"(1/state {"on":false})");

    auto nobody = bridgeAt("127.0.0.1:1", "alice");
    ASSERT_TRUE(nobody.waitForTold(1));
    EXPECT_EQ(nobody.listener.told,
              std::vector<std::string>{"state unreachable: no answer from the bridge at 127.0.0.1:1"});
    EXPECT_TRUE(testing::logHas(nobody.log, "lamp system bridge-2: the bridge at 127.0.0.1:1: no answer (Connection"));
}

// The first bridge added again as a further one: its id is the first bridge's, so it never pairs.
TEST(BridgeSystemTest, TheFirstBridgeIsRefusedBeforeItPairsAgain)
{
    Simulator sim{words("--lamps 2")};
    ASSERT_FALSE(sim.address.empty());
    auto again = bridgeAt(sim.address, std::nullopt, {.firstBridge = [&] { return std::optional{sim.address}; }});
    ASSERT_TRUE(again.waitForTold(1));
    EXPECT_EQ(again.listener.told, std::vector<std::string>{"state refused: the same bridge as the first bridge"});
    EXPECT_TRUE(sim.requests(QStringLiteral("POST")).empty());
    EXPECT_TRUE(testing::logHas(again.log, "lamp system bridge-2 is the same bridge as the first bridge, not used"));
}

} // namespace
} // namespace glowcast
