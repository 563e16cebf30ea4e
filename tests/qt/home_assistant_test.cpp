// Home Assistant: the states list as the adapter reads it, and the system against the stand-in.

#include "adapters/homeassistant/home_assistant_states.h"
#include "adapters/homeassistant/home_assistant_system.h"
#include "support/processes.h"
#include "support/recording_listener.h"

#include <QTemporaryDir>
#include <QUuid>

#include <gtest/gtest.h>

namespace glowcast {
namespace {

using testing::RecordingListener;
using testing::waitFor;

const std::string kToken = "SECRET." + QUuid::createUuid().toString(QUuid::Id128).toStdString();

std::string entity(const std::string& id, const std::string& name = "Lamp")
{
    return R"({"entity_id":")" + id + R"(","state":"on","attributes":{"friendly_name":")" + name +
           R"(","supported_color_modes":["xy"]}})";
}

TEST(HomeAssistantStatesTest, ListsThatAreNoListAndLightsThatCannotBeTakenAreLogged)
{
    std::string many = "[";
    for (int i = 0; i < 10'000; ++i)
        many += (i == 0 ? "" : ",") + entity("light.l" + std::to_string(i));
    many += "]";
    const std::string notAList = "ha: the states are not a JSON list ";
    const std::string notPlain = "' left out: its entity id is not plain or came before";
    // Each row: the reply, its lights as "ID NAME; ..." ("none" when unread) and the lines logged.
    const std::vector<std::tuple<std::string, std::string, std::vector<std::string>>> rows{
        {"<html><body>Login</body></html>", "none", {notAList + "(illegal value): <html><body>Login</body></html>"}},
        {std::string(10'000, '[') + std::string(10'000, ']'),
         "none",
         {notAList + "(too deeply nested document): " + std::string(80, '[')}},
        {R"({"message":"API running."})", "none", {notAList + R"((another value): {"message":"API running."})"}},
        {"[" + entity("light.a\\u0007b") + "," + entity("light.ok", "Desk\\nlamp") + "," + entity("sensor.x") + "]",
         "light.ok light.ok",
         {"ha: light 'light.a\\x07b" + notPlain}},
        {"[" + entity("light.a", "One") + "," + entity("light.a", "Two") + "]",
         "light.a One",
         {"ha: light 'light.a" + notPlain}},
        {many, "1000 lights", {"ha: more than 1000 lights; 9000 left out"}},
    };
    for (const auto& [reply, expected, logged] : rows) {
        RecordingLog log;
        const std::optional<std::vector<HomeAssistantLight>> lights = readHomeAssistantStates(reply, "ha: ", log);
        std::string shown = !lights ? "none" : lights->size() > 10 ? std::to_string(lights->size()) + " lights" : "";
        if (lights && lights->size() <= 10)
            for (const HomeAssistantLight& light : *lights)
                shown += (shown.empty() ? "" : "; ") + light.entityId + " " + light.name;
        EXPECT_EQ(shown, expected) << reply.substr(0, 80);
        EXPECT_EQ(log.lines, logged) << reply.substr(0, 80);
    }
}

// Against the stand-in: a token it refuses and none at all refuse the system before anything is sent and
// are never written; with its own token the lights are read and a state sent, read and put back.
TEST(HomeAssistantSystemTest, ReadsSendsAndRestoresWithItsTokenAndNothingWithoutIt)
{
    QTemporaryDir directory;
    QFile tokenFile(directory.filePath(QStringLiteral("token")));
    ASSERT_TRUE(tokenFile.open(QIODevice::WriteOnly) && tokenFile.write(QByteArray::fromStdString(kToken + "\n")) > 0);
    tokenFile.close();
    // Each service call the stand-in takes is a line "SERVICE DATA" of its output.
    testing::StandIn standIn{QStringLiteral(GLOWCAST_HOMEASSISTANT_SIM),
                             {QStringLiteral("--token-file"), tokenFile.fileName()}};
    ASSERT_FALSE(standIn.address.empty());
    const std::string address = "http://" + standIn.address;
    const auto calls = [&] { return standIn.output().mid(standIn.output().indexOf('\n') + 1).toStdString(); };
    const auto haWith = [&](const std::optional<std::string>& token) {
        return testing::StartedSystem{[&](Log& log) {
            return std::make_unique<HomeAssistantSystem>(
                HomeAssistantSystem::Options{"ha", address, token, std::nullopt}, log);
        }};
    };
    for (const auto& [token, refusal] :
         {std::pair(std::optional<std::string>{"wrong-" + kToken},
                    "state refused: the access token was refused; give another with glowcastctl systems set ha"),
          std::pair(std::optional<std::string>{},
                    "state refused: no access token; give one with glowcastctl systems set ha")}) {
        auto refused = haWith(token);
        ASSERT_TRUE(refused.waitForTold(1));
        EXPECT_TRUE(refused.listener.told.front().starts_with(refusal)) << refused.listener.told.front();
        refused.system->refresh();
        EXPECT_EQ(testing::sent(*refused.system, {{"light.hall", {true, 100, {}, 300, {}}}}), SendResult::Refused);
        EXPECT_EQ(refused.listener.told.size(), 1u);
        EXPECT_EQ(refused.log.lines.size(), 1u);
        EXPECT_FALSE(testing::logHas(refused.log, "SECRET"));
    }
    EXPECT_EQ(calls(), "");

    auto ha = haWith(kToken);
    RecordingListener& listener = ha.listener;
    LampSystem& system = *ha.system;
    ASSERT_TRUE(waitFor([&] { return !listener.lamps.empty(); }, 10'000));
    std::string lamps;
    for (const SystemLamp& lamp : listener.lamps)
        lamps += lamp.key + " " + "?ECTDO"[int(lamp.capabilities.kind)] + (lamp.available ? " " : "! ");
    EXPECT_EQ(lamps,
              "light.living_room E light.desk_strip E light.hall T light.bedside D light.porch O light.garage E! ");

    const ReadLampState read{true, {false, 179, Chromaticity{0.45, 0.41}, {}, {}}};
    EXPECT_EQ(testing::readOf(system, "light.living_room"), read);
    const LampState red{false, 200, Chromaticity{0.675, 0.322}, {}, 4};
    // The bedside light is off and no switch-on is asked: it is left off, not sent. The garage light is
    // unavailable: the stand-in refuses it.
    EXPECT_EQ(testing::sent(system, {{"light.living_room", red}}), SendResult::Delivered);
    EXPECT_EQ(testing::sent(system, {{"light.bedside", red}}), SendResult::Delivered);
    EXPECT_EQ(testing::sent(system, {{"light.garage", {true, 200, Chromaticity{0.675, 0.322}, {}, 4}}}),
              SendResult::Refused);
    EXPECT_EQ(testing::restored(system, "light.living_room", read), SendResult::Delivered);
    ASSERT_TRUE(standIn.waitForOutput("\"brightness\":180}\n", 5'000));
    EXPECT_EQ(calls(),
              "turn_on {\"entity_id\":\"light.living_room\",\"xy_color\":[0.6750,0.3220],\"brightness\":201,"
              "\"transition\":0.4}\n"
              "turn_on {\"entity_id\":\"light.garage\",\"xy_color\":[0.6750,0.3220],\"brightness\":201,"
              "\"transition\":0.4}\n"
              "turn_on {\"entity_id\":\"light.living_room\",\"xy_color\":[0.4500,0.4100],\"brightness\":180}\n");
    EXPECT_EQ(listener.told.size(), 1u) << "only the lamps, no state";
}

} // namespace
} // namespace glowcast
