// Lamp systems end to end: glowcast --headless under a private session bus with its first bridge, a
// second bridge (each a simulator of its own on loopback), zigbee2mqtt lamps (the stand-in on a
// Mosquitto of the test's own), Home Assistant (its stand-in with its access token, taking 400 ms to
// apply a state) and a WLED device follows a red cover on every enabled lamp of all five, and the token
// appears nowhere Glowcast writes; with a delay the systems change together.
// (A further bridge that pairs by its link button is the service walk's.)

#undef QT_NO_CAST_FROM_ASCII // every text here is ASCII

#include "support/mosquitto_broker.h"
#include "support/private_session_bus.h"
#include "support/processes.h"
#include "support/waiting.h"

#include <gtest/gtest.h>

#include <QRegularExpression>
#include <QUuid>

#include <algorithm>
#include <optional>
#include <utility>

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

// Every system started, the first bridge's lamps read and every other system ready.
class LampSystemsEndToEndTest : public ::testing::Test {
protected:
    PrivateSessionBus bus;
    ConfigDirectory config;
    Simulator first{words("--lamps 3 --user alice")};
    Simulator second{words("--lamps 2 --user bob --bridge-id 024743FFFE000002")};
    MosquittoBroker broker;
    Zigbee2MqttStandIn standIn{broker, words("--lamps 3")};
    std::optional<StandIn> homeAssistant;
    StandIn wled{GLOWCAST_WLED_SIM, {"--segments", "2"}};
    // The bridges' lamps after a red cover: red at full brightness shows as #fe0000 on a simulator; a lamp
    // left alone keeps its warm white.
    const std::vector<std::string> firstRed{"1:on:#fe0000", "2:on:#fead5b", "3:on:#fe0000"};
    const std::vector<std::string> secondRed{"1:on:#fe0000", "2:on:#fe0000"};
    QProcessEnvironment environment;
    std::optional<Child> app;

    void SetUp() override
    {
        ASSERT_TRUE(QDir().mkpath(config.file("systems")));
        QFile tokenFile(config.file("systems/ha.token"));
        ASSERT_TRUE(tokenFile.open(QIODevice::WriteOnly) &&
                    tokenFile.write("SECRET." + QUuid::createUuid().toByteArray(QUuid::Id128) + "\n") > 0);
        tokenFile.close();
        homeAssistant.emplace(GLOWCAST_HOMEASSISTANT_SIM, words("--latency 400 --token-file") << tokenFile.fileName());
        ASSERT_FALSE(bus.address().isEmpty() || first.address.empty() || second.address.empty() ||
                     homeAssistant->address.empty() || wled.address.empty());
        ASSERT_TRUE(broker.running && standIn.online)
            << broker.output().toStdString() << standIn.output().toStdString();
        // A bridge's lamp that is off keeps its colour: the user switched them on.
        first.control(HttpMethod::Put, "/api/alice/groups/0/action", R"({"on":true})");
        second.control(HttpMethod::Put, "/api/bob/groups/0/action", R"({"on":true})");
        // The stand-in's first two lamps show colour (xy, and hue with saturation); its third, colour
        // temperature only, is left disabled.
        config.writePaired(first.address,
                           "1+ 2- 3+ bridge-2/1+ bridge-2/2+ z2m/0x00124b0000000001+ z2m/0x00124b0000000002+ "
                           "ha/light.living_room+ ha/light.desk_strip+ wled/0+ wled/1+",
                           R"(,"systems":[{"id":"bridge-2","kind":"bridge","address":")" + second.address +
                               R"(","user":"bob"},{"id":"z2m","kind":"zigbee2mqtt","address":"mqtt://)" +
                               broker.address() + R"("},{"id":"ha","kind":"homeassistant","address":"http://)" +
                               homeAssistant->address + R"("},{"id":"wled","kind":"wled","address":"http://)" +
                               wled.address + R"("}])");
        environment = programEnvironment(bus.address(), config.path());
        app.emplace(GLOWCAST_APP, QStringList{"--headless"}, environment);
        ASSERT_TRUE(app->waitForOutput("collection: ")) << app->output().toStdString();
        const std::string systems = "bridge-2\tbridge\t" + second.address + "\tready\t-\nz2m\tzigbee2mqtt\tmqtt://" +
                                    broker.address() + "\tready\t-\nha\thomeassistant\thttp://" +
                                    homeAssistant->address + "\tready\t-\nwled\twled\thttp://" + wled.address +
                                    "\tready\t-\n";
        ASSERT_TRUE(pollFor([&] { return runProgram(GLOWCAST_CTL, {"systems"}, environment).out == systems; }, 15'000))
            << runProgram(GLOWCAST_CTL, {"systems"}, environment).out;
    }

    [[nodiscard]] QByteArray told() { return standIn.output() + homeAssistant->output() + wled.output(); }
    [[nodiscard]] bool post(const QColor& colour = Qt::red) const
    {
        return Child(GLOWCAST_POST_COVER, {config.flatCover(colour)}, environment).exitCode() == 0;
    }
};

TEST_F(LampSystemsEndToEndTest, ARedCoverTurnsEveryEnabledLampOfEverySystemRed)
{
    ASSERT_TRUE(post());
    const QByteArray red[] = {
        R"(zigbee2mqtt/Desk lamp/set {"brightness":254,"color":{"x":0.6400,"y":0.3300}})",
        R"(zigbee2mqtt/Shelf strip/set {"brightness":254,"color":{"hue":0,"saturation":100}})",
        R"(turn_on {"entity_id":"light.living_room","xy_color":[0.6400,0.3300],"brightness":255})",
        R"(turn_on {"entity_id":"light.desk_strip","xy_color":[0.6400,0.3300],"brightness":255})",
        R"("col":[[255,0,0]])",
        R"("col":[[255,0,0,0]])"};
    const auto allRed = [&] {
        return shown(first) == firstRed && shown(second) == secondRed &&
               std::ranges::all_of(red, [&](const QByteArray& each) { return told().contains(each); });
    };
    EXPECT_TRUE(pollFor(allRed, 15'000)) << ::testing::PrintToString(std::pair(shown(first), shown(second)))
                                         << told().toStdString() << app->output().toStdString();
    // Each system's median once its state was answered (zigbee2mqtt's by the lamp's echo); the first
    // bridge's in Status, under its own name.
    const QRegularExpression measured(QStringLiteral("^([^\\t]+\\t[^\\t]+\\t[^\\t]+\\tready\\t[0-9]+ ms\\n){4}$"));
    const auto systems = [&] { return QString::fromStdString(runProgram(GLOWCAST_CTL, {"systems"}, environment).out); };
    EXPECT_TRUE(pollFor([&] { return measured.match(systems()).hasMatch(); }, 10'000)) << systems().toStdString();
    const std::string status = runProgram(GLOWCAST_CTL, {"status"}, environment).out;
    EXPECT_TRUE(QString::fromStdString(status).contains(
        QRegularExpression(QStringLiteral("\nlatency: first bridge [0-9]+ ms \\(95 %: [0-9]+ ms\\), bridge-2 "))))
        << status;
    const std::string everything =
        app->output().toStdString() + status + config.preferences()[u"systems"].toString().toStdString();
    EXPECT_EQ(everything.find("SECRET"), std::string::npos);
}

// With skipUnchanged, a fade and switch-on, the same cover twice reaches every lamp once, each
// system's with its own form of the fade.
TEST_F(LampSystemsEndToEndTest, LampCareActsOnEverySystemAlike)
{
    for (const auto& [key, value] : {std::pair{"skipUnchanged", "true"}, {"fade", "12"}, {"switchOn", "true"}})
        ASSERT_EQ(runProgram(GLOWCAST_CTL, {"config", key, value}, environment).exitCode, 0) << key;
    ASSERT_TRUE(post());
    const QByteArray faded[] = {
        R"(zigbee2mqtt/Desk lamp/set {"state":"ON","brightness":254,"color":{"x":0.6400,"y":0.3300},"transition":1.2})",
        R"(turn_on {"entity_id":"light.living_room","xy_color":[0.6400,0.3300],"brightness":255,"transition":1.2})",
        R"(zigbee2mqtt/Shelf strip/set {"state":"ON","brightness":254,"color":{"hue":0,"saturation":100},"transition":1.2})",
        R"(turn_on {"entity_id":"light.desk_strip","xy_color":[0.6400,0.3300],"brightness":255,"transition":1.2})",
        R"("tt":12)"};
    const auto toldOnce = [&](const QByteArray& each) { return told().count(each) == 1; };
    // Every lamp has its state before the cover comes again.
    ASSERT_TRUE(pollFor([&] { return std::ranges::all_of(faded, toldOnce) && shown(second) == secondRed; }))
        << told().toStdString();
    ASSERT_TRUE(post());
    // Ten lamps in all, each passed over: still fading to its state, or showing it already.
    EXPECT_TRUE(pollFor([&] { return app->output().count(", not sent again") == 10; })) << app->output().toStdString();
    EXPECT_TRUE(std::ranges::all_of(faded, toldOnce)) << told().toStdString();
}

// With a delay the first bridge and Home Assistant, 400 ms slower, change together and not before the
// delay; a quit while a cover waits sends nothing more, and the service ends within 2 s.
TEST_F(LampSystemsEndToEndTest, WithADelayTheSystemsChangeTogetherAndAQuitDropsWhatWaits)
{
    ASSERT_EQ(runProgram(GLOWCAST_CTL, {"config", "delay", "600"}, environment).exitCode, 0);
    const auto haSent = [&] { return homeAssistant->output().count("turn_on "); };
    // A latency counts from a system's third answer: two covers of two lamps each come first. Each moment is
    // the first time a poll sees the state; Home Assistant's second lamp comes last.
    for (const QColor colour : {QColor(Qt::blue), QColor(Qt::green), QColor(Qt::red)}) {
        const qsizetype before = haSent();
        const std::vector<std::string> shownBefore = shown(first);
        const QDeadlineTimer start = QDeadlineTimer::current();
        ASSERT_TRUE(post(colour));
        qint64 bridgeAt = 0;
        qint64 haAt = 0;
        ASSERT_TRUE(pollFor([&] {
            bridgeAt = bridgeAt > 0 || shown(first) == shownBefore ? bridgeAt : QDeadlineTimer::current() - start;
            haAt = haAt > 0 || haSent() == before ? haAt : QDeadlineTimer::current() - start;
            return bridgeAt > 0 && haSent() == before + 2;
        })) << app->output().toStdString();
        EXPECT_TRUE(colour != Qt::red || (std::min(bridgeAt, haAt) >= 600 && qAbs(bridgeAt - haAt) < 150))
            << bridgeAt << " ms, " << haAt << " ms";
    }
    ASSERT_EQ(runProgram(GLOWCAST_CTL, {"config", "delay", "3000"}, environment).exitCode, 0);
    ASSERT_TRUE(post(Qt::blue));
    // The palette's two lines a cover: the fourth cover has come.
    ASSERT_TRUE(waitFor([&] { return app->output().count("returning array with") == 8; }));
    app->signal(SIGTERM);
    EXPECT_EQ(app->exitCode(2'000), 0) << app->output().toStdString();
    EXPECT_EQ(haSent(), 6);
    EXPECT_EQ(shown(first), firstRed);
}

} // namespace
} // namespace glowcast::testing
