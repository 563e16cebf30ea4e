// zigbee2mqtt: the device list, the messages a lamp is sent, and the system against a real Mosquitto
// and the stand-in.

#include "adapters/files/system_secrets.h"
#include "adapters/mqtt/mqtt_guard.h"
#include "adapters/zigbee2mqtt/zigbee2mqtt_devices.h"
#include "adapters/zigbee2mqtt/zigbee2mqtt_system.h"
#include "support/mosquitto_broker.h"
#include "support/recording_listener.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <string>
#include <vector>

namespace glowcast {
namespace {

using testing::RecordingListener;
using testing::waitFor;

// A device list of every kind of light and of every device left out, a seed of the fuzz target too.
const std::string kEveryCase = [] {
    std::ifstream in(GLOWCAST_TEST_DATA "/../../fuzz/corpus/zigbee2mqtt_devices_fuzz/every_case.json");
    return std::string(std::istreambuf_iterator<char>(in), {});
}();

TEST(DeviceListTest, OffersEachLightOnceAndSaysWhatItLeftOut)
{
    RecordingLog log;
    const auto lamps = readZigbee2MqttDevices(kEveryCase, log);
    ASSERT_TRUE(lamps);
    // Each lamp as "KEY NAME KIND", KIND a letter: Extended colour, Colour (h when sent as hue and
    // saturation), Temperature, Dimmable, On/off; then its usable mired range, if any.
    std::string shown;
    for (const Zigbee2MqttLamp& lamp : *lamps) {
        const std::optional<MiredRange> range = lamp.capabilities.mireds;
        shown += (shown.empty() ? "" : "; ") + lamp.key + " " + lamp.name + " " +
                 "?ECTDO"[int(lamp.capabilities.kind)] + (lamp.hueSaturation ? "h" : "") +
                 (range ? std::to_string(range->lowest) + "-" + std::to_string(range->highest) : "");
    }
    // Twin's second light has a mired range that starts at 0: none.
    EXPECT_EQ(shown, "0x1 Desk E153-500; 0x2 Strip Ch; 0x3 Shelf C; 0x4 Hall/Ceiling T153-500; 0x5 Porch D; "
                     "0x6 Fan O; 0x7 Twin E153-500; 0x7-l2 Twin (l2) Eh; 0x8-l1 Pair (l1) C; "
                     "0x8-l2 Pair (l2) O; 0xc ok/level O");
    const std::string leftOut = "zigbee2mqtt device list: left out ";
    std::vector<std::string> expected{leftOut + "0xa: no definition", leftOut + "0xb: the name 'Desk' is taken",
                                      leftOut + "0x1: the name 'Other' is taken"};
    for (const char* key : {"0xd", "0xe", "0xf", "0x10", "0x11", "0x12", "0x13", "0x14", "0x15"}) // no topic names
        expected.push_back(leftOut + key + ": its name cannot be a topic");
    EXPECT_EQ(log.lines, expected);

    for (const char* notAList : {R"([{"ieee_address":)", "{}"}) {
        EXPECT_EQ(readZigbee2MqttDevices(notAList, log), std::nullopt);
        EXPECT_EQ(log.lines.back(), "zigbee2mqtt device list: not a JSON list, left alone");
    }
    std::string many = "[";
    for (int n = 0; n < 5'001; ++n)
        many += (n ? R"(,{"ieee_address":"0x)" : R"({"ieee_address":"0x)") + std::to_string(n) +
                R"(","friendly_name":"L)" + std::to_string(n) +
                R"(","definition":{"exposes":[{"type":"light","features":[{"name":"state","property":"state"}]}]}})";
    log.lines.clear();
    const auto capped = readZigbee2MqttDevices(many + "]", log);
    ASSERT_TRUE(capped && capped->size() == 5'000u);
    EXPECT_EQ(capped->back().key, "0x4999");
    EXPECT_EQ(log.lines, std::vector<std::string>{"zigbee2mqtt device list: 5001 devices, only the first 5000 read"});
}

// The lamp of this key in the list of every case.
const Zigbee2MqttLamp& lampOf(const std::string& key)
{
    static const std::vector<Zigbee2MqttLamp> lamps = [] {
        NullLog log;
        return readZigbee2MqttDevices(kEveryCase, log).value_or(std::vector<Zigbee2MqttLamp>{});
    }();
    static const Zigbee2MqttLamp none;
    const auto found = std::ranges::find(lamps, key, &Zigbee2MqttLamp::key);
    return found == lamps.end() ? none : *found;
}

const Chromaticity kRed{0.64, 0.33};

TEST(Zigbee2MqttPayloadTest, EncodesWhatTheLampHasAPropertyAndReadsItsStateBack)
{
    // Each row: a lamp of the list of every case (0x1 takes xy and mired, 0x2 hue and saturation, 0x8-l1
    // and 0x7-l2 are endpoints' lights, 0x6 switches only), a state and the set message it sends.
    const std::tuple<std::string, LampState, std::string> rows[] = {
        {"0x1",
         {true, 200, kRed, {}, 5},
         R"({"state":"ON","brightness":200,"color":{"x":0.6400,"y":0.3300},"transition":0.5})"},
        {"0x1", {false, 1, {}, 300, 12}, R"({"brightness":1,"color_temp":300,"transition":1.2})"},
        {"0x2", {false, 254, kRed, {}, {}}, R"({"brightness":254,"color":{"hue":0,"saturation":100}})"},
        {"0x8-l1",
         {true, 10, Chromaticity{0.1532, 0.0475}, {}, 0},
         R"({"state_l1":"ON","brightness_l1":10,"color_l1":{"x":0.1532,"y":0.0475},"transition":0})"},
        {"0x8-l1", {false, 7, {}, 300, {}}, R"({"brightness_l1":7})"},
        {"0x7-l2", {true, 7, kRed, {}, {}}, R"({"state_l2":"ON","color_l2":{"hue":0,"saturation":100}})"},
        {"0x7-l2", {false, 7, {}, 300, {}}, R"({"color_temp_l2":300})"},
        {"0x6", {false, 80, kRed, {}, {}}, "{}"},
    };
    for (const auto& [key, state, payload] : rows)
        EXPECT_EQ(zigbee2MqttSetPayload(lampOf(key), state), payload) << key;
    Zigbee2MqttLamp odd; // a property name from the device list is written as a JSON string
    odd.stateProperty = "on\x01\"\\";
    EXPECT_EQ(zigbee2MqttRestorePayload(odd, {}), R"({"on\u0001\"\\":"OFF"})");
    // Each line: a lamp's key, a state message and how the lamp is put back as it reads it, apart by tabs.
    std::ifstream table(GLOWCAST_TEST_DATA "/zigbee2mqtt_state_messages.tsv");
    int lines = 0;
    for (std::string line; std::getline(table, line); ++lines) {
        if (line.starts_with('#'))
            continue;
        const std::size_t json = line.find('\t') + 1, restore = line.rfind('\t') + 1;
        const Zigbee2MqttLamp& lamp = lampOf(line.substr(0, json - 1));
        const std::optional<ReadLampState> read = readZigbee2MqttState(lamp, line.substr(json, restore - json - 1));
        EXPECT_EQ(read ? zigbee2MqttRestorePayload(lamp, *read) : "none", line.substr(restore)) << line;
    }
    EXPECT_EQ(lines, 15); // three of them a comment
    EXPECT_EQ(readOnline("online"), true);
    EXPECT_EQ(readOnline(R"({"state":"offline"})"), false);
    EXPECT_EQ(readOnline("maybe"), std::nullopt);
}

TEST(Zigbee2MqttPayloadTest, HueAndSaturationOfTheDisplaysPrimariesAndWhite)
{
    // sRGB's own primaries and white point, an impossible colour, orange (1, 0.5, 0), magenta (1, 0, 1),
    // and chartreuse (0.5, 1, 0) and violet (0.5, 0, 1): the green and blue sectors off their primaries.
    const std::pair<Chromaticity, HueSaturation> rows[] = {
        {{0.64, 0.33}, {0, 100}},       {{0.30, 0.60}, {120, 100}},    {{0.15, 0.06}, {240, 100}},
        {{0.3127, 0.3290}, {0, 0}},     {{0.5, 0.0}, {0, 0}},          {{0.5436, 0.4066}, {30, 100}},
        {{0.3209, 0.1542}, {300, 100}}, {{0.3353, 0.5720}, {90, 100}}, {{0.2004, 0.0878}, {270, 100}},
    };
    for (const auto& [xy, hs] : rows)
        EXPECT_EQ(hueSaturationOf(xy), hs) << xy.x << "," << xy.y;
}

// The broker's bytes in pieces, and what of them reaches the library under a limit of 8 bytes: each row
// the pieces, what passes, the PUBLISHes left out (topic and length), and why the stream ended, if it did.
TEST(MqttFramesTest, PassesPacketsWithinTheLimitAndLeavesOutAPublishOverIt)
{
    const std::string ping("\xd0\x00", 2);
    const std::string small = std::string("\x30\x05\x00\x01t", 5) + "ab"; // topic "t", payload "ab"
    const std::string big = std::string("\x30\xc8\x01\x00\x03"
                                        "a/b",
                                        8) +
                            std::string(195, 'x'); // 200 bytes
    std::vector<std::string> bytes;
    for (const char byte : small + big + ping)
        bytes.emplace_back(1, byte);
    struct Row {
        std::vector<std::string> pieces;
        std::string passed;
        std::vector<MqttFrames::Dropped> dropped;
        std::string why;
    };
    const Row rows[] = {
        {{small + ping}, small + ping, {}, ""},
        {{big.substr(0, 2), big.substr(2) + small}, small, {{"a/b", 200}}, ""},
        {bytes, small + ping, {{"a/b", 200}}, ""},
        {{ping + std::string("\x90\x09", 2)}, ping, {}, "the broker sent a packet of 9 bytes, over the cap of 8"},
        {{std::string("\x30\xff\xff\xff\xff", 5)},
         "",
         {},
         "the broker sent a packet whose length has more than four bytes"},
    };
    for (const Row& row : rows) {
        MqttFrames frames{8};
        std::string passed;
        std::vector<MqttFrames::Dropped> dropped;
        bool open = true;
        for (const std::string& piece : row.pieces)
            open = frames.take(piece, passed, [&](MqttFrames::Dropped one) { dropped.push_back(one); }) && open;
        EXPECT_EQ(passed, row.passed) << row.pieces.size();
        EXPECT_EQ(dropped, row.dropped);
        EXPECT_EQ(frames.why(), row.why);
        EXPECT_EQ(open, row.why.empty());
    }
}

// Against a real broker and the stand-in, in order: the lamps found and only their topics subscribed, a
// lamp away, a rename, a state sent and read back, zigbee2mqtt offline, the broker restarting (what was
// sent meanwhile dropped), and a stop that still sends what it was given. Beside it, systems that show
// a broker's name looked up off the main thread ("localhost" from /etc/hosts connects, a name under
// ".invalid" with a label longer than DNS allows fails without a name server), the device list's size
// caps (the stand-in's list is 2551 bytes: over 1000 and 1 KiB of header the broker keeps it back, over
// 2000 the client drops it, at 2551 it is read), a "broker" that never answers, and alice's stored
// password getting her in where a wrong one is refused, neither ever logged, and a user the library does not
// take refused, never sent as an anonymous connection.
TEST(Zigbee2MqttSystemTest, FindsSendsReadsAndFollowsTheBrokerAndZigbee2MqttComingAndGoing)
{
    QTemporaryDir config;
    const std::filesystem::path directory = config.path().toStdString();
    const QString passwords = config.filePath(QStringLiteral("passwords"));
    std::ofstream(passwords.toStdString()) << "alice:secret-word\n";
    ASSERT_EQ(testing::runProgram(QStringLiteral("mosquitto_passwd"), {QStringLiteral("-U"), passwords}).exitCode, 0);
    testing::MosquittoBroker broker{"allow_anonymous true\npassword_file " + passwords.toStdString() +
                                    "\nlog_type error\nlog_type warning\nlog_type notice\nlog_type information\n"
                                    "log_type subscribe\nlog_type unsubscribe"};
    testing::Zigbee2MqttStandIn standIn{broker};
    ASSERT_TRUE(broker.running && standIn.online) << broker.output().toStdString() << standIn.output().toStdString();
    QTcpServer silent;
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost, 0));
    RecordingLog log;
    EXPECT_EQ(makeZigbee2MqttSystem({"z2m", SystemKind::Zigbee2Mqtt, "http://host", {}, {}}, directory, log), nullptr);
    EXPECT_EQ(log.lines, std::vector<std::string>{"z2m: 'http://host' is no MQTT address"});
    std::vector<std::unique_ptr<LampSystem>> systems;
    const auto start = [&](RecordingListener& told, std::unique_ptr<LampSystem> system) -> LampSystem& {
        system->setListener(&told);
        system->start();
        EXPECT_EQ(told.lastState(), ""); // never inside the call
        return *systems.emplace_back(std::move(system));
    };
    const auto options = [&](const std::string& id, const std::string& host, int port,
                             std::size_t cap = std::size_t{8} << 20, int connectMs = 5'000) {
        Zigbee2MqttSystem::Options made{id, host, port, "zigbee2mqtt", {}, {}};
        made.connectTimeout = std::chrono::milliseconds{connectMs};
        made.maxPayloadBytes = cap;
        return std::make_unique<Zigbee2MqttSystem>(made, log);
    };
    const auto stateIs = [](const RecordingListener& told, const std::string& state) {
        return waitFor([&] { return told.lastState().starts_with("state " + state); }, 20'000);
    };
    const int port = broker.port();
    const std::string at = ":" + std::to_string(port);
    const std::string nowhere = std::string(64, 'b') + ".glowcast.invalid";
    ASSERT_EQ(storeSystemPassword(directory, "alice", "secret-word"), std::nullopt);
    ASSERT_EQ(storeSystemPassword(directory, "wrong", "not-her-word"), std::nullopt);
    RecordingListener listener, unresolved, brokerCapped, clientCapped, exact, unanswered, alice, wrong, anonymous;
    LampSystem& system = start(listener, options("z2m", "localhost", port));
    start(unresolved, options("unresolved", nowhere, port));
    start(brokerCapped, options("big", "127.0.0.1", port, 1'000));
    start(clientCapped, options("cap", "127.0.0.1", port, 2'000));
    start(exact, options("exact", "127.0.0.1", port, 2'551));
    start(unanswered, options("silent", "127.0.0.1", silent.serverPort(), std::size_t{8} << 20, 300));
    Zigbee2MqttSystem::Options controlled{"anonymous", "127.0.0.1", port, "zigbee2mqtt", "a\x01z", "secret-word"};
    start(anonymous, std::make_unique<Zigbee2MqttSystem>(controlled, log));
    for (const auto& [id, told] : {std::pair("alice", &alice), std::pair("wrong", &wrong)})
        start(*told, makeZigbee2MqttSystem({id, SystemKind::Zigbee2Mqtt, "mqtt://" + broker.address(), {}, "alice"},
                                           directory, log));

    ASSERT_TRUE(stateIs(listener, "ready:"));
    EXPECT_EQ(log.count("z2m: connected to the broker at localhost" + at), 1);
    ASSERT_EQ(listener.lamps.size(), 6u);
    EXPECT_TRUE(stateIs(unresolved, "unreachable: broker at " + nowhere + at + ": the name does not resolve: "));
    EXPECT_TRUE(
        waitFor([&] { return broker.output().contains("Dropping too large outgoing PUBLISH for glowcast-big-"); }));
    const std::string capped =
        "cap: dropped a message of 2551 bytes on zigbee2mqtt/bridge/devices: over the cap of 2000";
    EXPECT_TRUE(waitFor([&] { return log.count(capped) == 1; }));
    EXPECT_TRUE(waitFor([&] { return exact.lamps.size() == 6; }));
    EXPECT_TRUE(brokerCapped.lamps.empty() && clientCapped.lamps.empty());
    EXPECT_TRUE(stateIs(unanswered,
                        "unreachable: no answer from the broker at 127.0.0.1:" + std::to_string(silent.serverPort())));
    EXPECT_TRUE(stateIs(alice, "ready:"));
    EXPECT_TRUE(stateIs(anonymous, "refused: the user cannot be sent to a broker: "));
    EXPECT_TRUE(stateIs(wrong, "refused: the broker refused the connection: Not authorized"));
    EXPECT_FALSE(testing::logHas(log, "secret-word") || testing::logHas(log, "not-her-word"));

    standIn.write("unavailable Porch\n");
    ASSERT_TRUE(waitFor([&] { return listener.lamps.size() == 6 && !listener.lamps[3].available; }, 5'000));
    // The broker logs each subscription as "TIME: CLIENT QOS TOPIC": ours are the bridge's two topics and
    // each device's state and availability, never a wildcard.
    std::set<std::string> topics;
    for (const QByteArray& line : broker.output().split('\n'))
        if (const qsizetype client = line.indexOf(": glowcast-z2m-"); client >= 0)
            topics.insert(line.mid(line.indexOf(" 0 ", client) + 3).toStdString());
    std::set<std::string> expected{"zigbee2mqtt/bridge/state", "zigbee2mqtt/bridge/devices"};
    for (const std::string name : {"Desk lamp", "Shelf strip", "Hall/Ceiling", "Porch", "Twin"})
        expected.insert({"zigbee2mqtt/" + name, "zigbee2mqtt/" + name + "/availability"});
    EXPECT_EQ(topics, expected);

    // Renamed, the lamp keeps its key; the old topics are given up and its states go to the new one.
    standIn.write("rename Porch=Garden/Porch\n");
    ASSERT_TRUE(waitFor([&] { return listener.lamps.size() == 6 && listener.lamps[3].name == "Garden/Porch"; }));
    const std::string porch = listener.lamps[3].key;
    EXPECT_EQ(porch, "0x00124b0000000004");
    EXPECT_EQ(testing::sent(system, {{porch, {false, 44, {}, {}, {}}}}), SendResult::Delivered);
    EXPECT_TRUE(standIn.waitForOutput(R"(zigbee2mqtt/Garden/Porch/set {"brightness":44})", 5'000));
    // An unsubscription is logged as "TIME: CLIENT TOPIC".
    EXPECT_TRUE(QString::fromUtf8(broker.output())
                    .contains(QRegularExpression(QStringLiteral(": glowcast-z2m-[0-9]+ zigbee2mqtt/Porch\n"))));

    EXPECT_EQ(testing::sent(system, {{"0x00124b0000000001", {true, 200, kRed, {}, {}}}}), SendResult::Delivered);
    EXPECT_TRUE(standIn.waitForOutput(
        R"(zigbee2mqtt/Desk lamp/set {"state":"ON","brightness":200,"color":{"x":0.6400,"y":0.3300}})", 5'000));
    EXPECT_EQ(testing::readOf(system, "0x00124b0000000001"), (ReadLampState{true, {false, 200, kRed, {}, {}}}));
    EXPECT_TRUE(standIn.waitForOutput(R"(zigbee2mqtt/Desk lamp/get {"state":""})", 5'000));

    standIn.write("offline\n");
    ASSERT_TRUE(stateIs(listener, "offline: zigbee2mqtt is offline"));
    EXPECT_EQ(testing::sent(system, {{porch, {false, 55, {}, {}, {}}}}), SendResult::NoAnswer);
    standIn.write("online\n");
    ASSERT_TRUE(stateIs(listener, "ready:"));

    const auto lampsTold = [&] {
        return std::ranges::count_if(listener.told, [](auto& line) { return line.starts_with("lamps"); });
    };
    const auto toldBeforeRestart = lampsTold();
    broker.stop();
    ASSERT_TRUE(stateIs(listener, "unreachable"));
    EXPECT_EQ(testing::sent(system, {{porch, {false, 11, {}, {}, {}}}}), SendResult::NoAnswer);
    EXPECT_EQ(log.count("z2m: the broker is away: 1 lamp state(s) dropped"), 1);
    ASSERT_TRUE(broker.start());
    ASSERT_TRUE(stateIs(listener, "ready:"));
    EXPECT_EQ(lampsTold(), toldBeforeRestart) << "the same device list again tells nothing";
    EXPECT_EQ(testing::sent(system, {{porch, {false, 22, {}, {}, {}}}}), SendResult::Delivered);
    ASSERT_TRUE(standIn.waitForOutput(R"(zigbee2mqtt/Garden/Porch/set {"brightness":22})", 5'000));
    EXPECT_FALSE(standIn.output().contains(R"({"brightness":11})"));

    // Stopped, it tells no answer that was still on its way, and sends what it was given before. The
    // stand-in tells the lamp away after its state message in answer to 22: once that has come, nothing is
    // on its way to the client as it stops.
    standIn.write("unavailable Garden/Porch\n");
    ASSERT_TRUE(waitFor([&] { return listener.lamps.size() == 6 && !listener.lamps[3].available; }, 5'000));
    bool told = false;
    system.send({{porch, {false, 33, {}, {}, {}}}}, [&](SendResult) { told = true; });
    system.stop();
    ASSERT_TRUE(standIn.waitForOutput(R"(zigbee2mqtt/Garden/Porch/set {"brightness":33})", 5'000))
        << broker.output().toStdString();
    EXPECT_FALSE(told);
}

// A broker client renames every device fifty times at once while Glowcast's main loop stands still: the
// lists that came meanwhile are read as one, the newest.
TEST(Zigbee2MqttSystemTest, ReadsOnlyTheNewestOfDeviceListsThatCameMeanwhile)
{
    testing::MosquittoBroker broker;
    testing::Zigbee2MqttStandIn standIn{broker, {QStringLiteral("--lamps"), QStringLiteral("1000")}};
    ASSERT_TRUE(broker.running && standIn.online);
    RecordingLog log;
    RecordingListener listener;
    Zigbee2MqttSystem system{{"z2m", "127.0.0.1", broker.port(), "zigbee2mqtt", {}, {}}, log};
    system.setListener(&listener);
    system.start();
    ASSERT_TRUE(waitFor([&] { return listener.lamps.size() == 1'200; }, 20'000));
    const std::size_t toldBefore = listener.told.size();
    standIn.write("renames 50 0\n");
    ASSERT_TRUE(standIn.waitForOutputWithoutEvents("renamed 50"));
    ASSERT_TRUE(waitFor(
        [&] { return !listener.lamps.empty() && listener.lamps.back().name == "Twin 200 ~000050 (l2)"; }, 20'000));
    // Those that were still on their way when the loop ran again come in a few more; one each would be 50.
    EXPECT_LE(listener.told.size() - toldBefore, 25u);
}

} // namespace
} // namespace glowcast
