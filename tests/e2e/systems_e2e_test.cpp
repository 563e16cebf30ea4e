// Lamp systems end to end: glowcast --headless under a private session bus with its first bridge, a
// second bridge (each a simulator of its own on loopback), zigbee2mqtt lamps (the stand-in on a
// Mosquitto of the test's own), Home Assistant (its stand-in with its access token) and a WLED device
// follows a red cover on every enabled lamp of all five, and the token appears nowhere Glowcast writes.
// (A further bridge that pairs by its link button is the service walk's.)

#undef QT_NO_CAST_FROM_ASCII // every text here is ASCII

#include "support/mosquitto_broker.h"
#include "support/private_session_bus.h"
#include "support/processes.h"
#include "support/waiting.h"

#include <gtest/gtest.h>

#include <QUuid>

#include <algorithm>

namespace glowcast::testing {
namespace {

// The simulator's lamps as "id:on:#rrggbb", in order.
std::vector<std::string> shown(Simulator& sim)
{
    std::vector<std::string> lamps;
    const QJsonObject state = QJsonDocument::fromJson(sim.control(HttpMethod::Get, "/sim/state").c_str()).object();
    for (const QJsonValue lamp : state[u"lamps"].toArray())
        lamps.push_back(lamp[u"id"].toString().toStdString() + (lamp[u"on"].toBool() ? ":on:" : ":off:") +
                        lamp[u"colour"].toString().toStdString());
    return lamps;
}

TEST(LampSystemsEndToEndTest, ARedCoverTurnsEveryEnabledLampOfEverySystemRed)
{
    PrivateSessionBus bus;
    ConfigDirectory config;
    Simulator first{words("--lamps 3 --user alice")};
    Simulator second{words("--lamps 2 --user bob --bridge-id 024743FFFE000002")};
    MosquittoBroker broker;
    Zigbee2MqttStandIn standIn{broker, words("--lamps 3")};
    ASSERT_TRUE(QDir().mkpath(config.file("systems")));
    QFile tokenFile(config.file("systems/ha.token"));
    ASSERT_TRUE(tokenFile.open(QIODevice::WriteOnly) &&
                tokenFile.write("SECRET." + QUuid::createUuid().toByteArray(QUuid::Id128) + "\n") > 0);
    tokenFile.close();
    StandIn homeAssistant{GLOWCAST_HOMEASSISTANT_SIM, {"--token-file", tokenFile.fileName()}};
    StandIn wled{GLOWCAST_WLED_SIM, {"--segments", "2"}};
    ASSERT_FALSE(bus.address().isEmpty() || first.address.empty() || second.address.empty() ||
                 homeAssistant.address.empty() || wled.address.empty());
    ASSERT_TRUE(broker.running && standIn.online) << broker.output().toStdString() << standIn.output().toStdString();
    const std::string& haAddress = homeAssistant.address;
    const std::string& wledAddress = wled.address;
    // A bridge's lamp that is off keeps its colour: the user switched them on.
    first.control(HttpMethod::Put, "/api/alice/groups/0/action", R"({"on":true})");
    second.control(HttpMethod::Put, "/api/bob/groups/0/action", R"({"on":true})");
    // The stand-in's first two lamps show colour (xy, and hue with saturation); its third, colour
    // temperature only, is left disabled.
    config.writePaired(first.address,
                       "1+ 2- 3+ bridge-2/1+ bridge-2/2+ z2m/0x00124b0000000001+ z2m/0x00124b0000000002+ "
                       "ha/light.living_room+ ha/light.desk_strip+ wled/0+ wled/1+",
                       R"(,"systems":[{"id":"bridge-2","kind":"bridge","address":")" + second.address +
                           R"(","user":"bob"},{"id":"z2m","kind":"zigbee2mqtt","address":"mqtt://)" + broker.address() +
                           R"("},{"id":"ha","kind":"homeassistant","address":"http://)" + haAddress +
                           R"("},{"id":"wled","kind":"wled","address":"http://)" + wledAddress + R"("}])");
    const QProcessEnvironment environment = programEnvironment(bus.address(), config.path());
    Child app{GLOWCAST_APP, {"--headless"}, environment};
    // The first bridge's lamps are read; every other system is ready once it has read its lamps.
    ASSERT_TRUE(app.waitForOutput("collection: ")) << app.output().toStdString();
    const std::string systems = "bridge-2\tbridge\t" + second.address + "\tready\nz2m\tzigbee2mqtt\tmqtt://" +
                                broker.address() + "\tready\nha\thomeassistant\thttp://" + haAddress +
                                "\tready\nwled\twled\thttp://" + wledAddress + "\tready\n";
    ASSERT_TRUE(pollFor([&] { return runProgram(GLOWCAST_CTL, {"systems"}, environment).out == systems; }, 15'000))
        << runProgram(GLOWCAST_CTL, {"systems"}, environment).out;

    ASSERT_EQ(Child(GLOWCAST_POST_COVER, {config.flatCover(QColor(255, 0, 0))}, environment).exitCode(), 0);
    // Red at full brightness shows as #fe0000 on a simulator; a lamp left alone keeps its warm white.
    const std::vector<std::string> firstRed{"1:on:#fe0000", "2:on:#fead5b", "3:on:#fe0000"};
    const std::vector<std::string> secondRed{"1:on:#fe0000", "2:on:#fe0000"};
    const QByteArray red[] = {
        R"(zigbee2mqtt/Desk lamp/set {"brightness":254,"color":{"x":0.6400,"y":0.3300}})",
        R"(zigbee2mqtt/Shelf strip/set {"brightness":254,"color":{"hue":0,"saturation":100}})",
        R"(turn_on {"entity_id":"light.living_room","xy_color":[0.6400,0.3300],"brightness":255})",
        R"(turn_on {"entity_id":"light.desk_strip","xy_color":[0.6400,0.3300],"brightness":255})",
        R"("col":[[255,0,0]])",
        R"("col":[[255,0,0,0]])"};
    EXPECT_TRUE(pollFor(
        [&] {
            const QByteArray told = standIn.output() + homeAssistant.output() + wled.output();
            return shown(first) == firstRed && shown(second) == secondRed &&
                   std::ranges::all_of(red, [&](const QByteArray& each) { return told.contains(each); });
        },
        15'000))
        << ::testing::PrintToString(shown(first)) << ::testing::PrintToString(shown(second))
        << standIn.output().toStdString() << homeAssistant.output().toStdString() << wled.output().toStdString()
        << app.output().toStdString();
    const std::string everything = app.output().toStdString() + runProgram(GLOWCAST_CTL, {"status"}, environment).out +
                                   config.preferences()[u"systems"].toString().toStdString();
    EXPECT_EQ(everything.find("SECRET"), std::string::npos);
}

} // namespace
} // namespace glowcast::testing
