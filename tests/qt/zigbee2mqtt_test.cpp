// zigbee2mqtt: the device list, the messages a lamp is sent, and the system against a real Mosquitto
// and the stand-in.

#include "adapters/files/system_secrets.h"
#include "adapters/zigbee2mqtt/zigbee2mqtt_devices.h"
#include "adapters/zigbee2mqtt/zigbee2mqtt_system.h"
#include "support/mosquitto_broker.h"
#include "support/recording_listener.h"
#include "support/recording_log.h"
#include "support/waiting.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace glowcast {
namespace {

using testing::logHas;
using testing::waitFor;

const std::string kState = R"({"name":"state","property":"state"})";
const std::string kBrightness = R"({"name":"brightness","property":"brightness"})";
const std::string kXy = R"({"name":"color_xy","property":"color"})";
const std::string kHs = R"({"name":"color_hs","property":"color"})";
const std::string kTemperature = R"({"name":"color_temp","property":"color_temp","value_min":153,"value_max":500})";

std::string light(const std::string& features, const std::string& endpoint = {})
{
    return R"({"type":"light",)" + (endpoint.empty() ? "" : R"("endpoint":")" + endpoint + R"(",)") +
           R"("features":[)" + features + "]}";
}

std::string device(const std::string& key, const std::string& name, const std::string& exposes)
{
    return R"({"ieee_address":")" + key + R"(","friendly_name":")" + name + R"(","definition":{"exposes":[)" + exposes +
           "]}}";
}

// Each lamp as "KEY NAME KIND", KIND a letter: Extended colour, Colour (h when sent as hue and
// saturation), Temperature, Dimmable, On/off; then its usable mired range, if any.
std::string lampsOf(const std::vector<Zigbee2MqttLamp>& lamps)
{
    std::string out;
    for (const Zigbee2MqttLamp& lamp : lamps) {
        const std::optional<MiredRange> range = lamp.capabilities.mireds;
        out += (out.empty() ? "" : "; ") + lamp.key + " " + lamp.name + " " + "?ECTDO"[int(lamp.capabilities.kind)] +
               (lamp.hueSaturation ? "h" : "") +
               (range ? std::to_string(range->lowest) + "-" + std::to_string(range->highest) : "");
    }
    return out;
}

const std::string kLeftOut = "zigbee2mqtt device list: left out ";
const std::string kTwin =
    device("0x7", "Twin",
           light(kState + "," + kBrightness + "," + kTemperature + "," + kXy) + "," +
               light(R"({"name":"state","property":"state_l2"},{"name":"color_hs","property":"color_l2"},)"
                     R"({"name":"color_temp","property":"color_temp_l2","value_min":0,"value_max":500})",
                     "l2"));

TEST(DeviceListTest, OffersEachLightOnceAndSaysWhatItLeftOut)
{
    struct Row {
        std::string json;
        std::string lamps; // as lampsOf gives them; "none" when the list was not read
        std::vector<std::string> log;
    };
    // Every name that cannot be a topic, after one that can.
    Row badNames{"[" + device("0x0", "ok/level", light(kState)), "0x0 ok/level O", {}};
    int i = 0;
    for (const char* name : {"a+b", "a/#", "", "a//b", "/a", "tab\\t", "nul\\u0000", "bridge/x", "x/set"}) {
        const std::string key = "0x" + std::to_string(++i);
        badNames.json += "," + device(key, name, light(kState));
        badNames.log.push_back(kLeftOut + key + ": its name cannot be a topic");
    }
    badNames.json += "]";
    const std::vector<Row> rows{
        {R"([{"ieee_address":)", "none", {"zigbee2mqtt device list: not a JSON list, left alone"}},
        {"{}", "none", {"zigbee2mqtt device list: not a JSON list, left alone"}},
        {"[" + device("0x1", "Desk", light(kState + "," + kBrightness + "," + kTemperature + "," + kXy)) + "," +
             device("0x2", "Strip", light(kState + "," + kHs + "," + kXy)) + "," +
             device("0x3", "Shelf", light(kState + "," + kXy + "," + kHs)) + "," +
             device("0x4", "Hall/Ceiling", light(kState + "," + kTemperature)) + "," +
             device("0x5", "Porch", light(kState + "," + kBrightness)) + "," + device("0x6", "Fan", light(kState)) +
             "]",
         "0x1 Desk E153-500; 0x2 Strip Ch; 0x3 Shelf C; 0x4 Hall/Ceiling T153-500; 0x5 Porch D; 0x6 Fan O",
         {}},
        {R"([{"ieee_address":"0x0","friendly_name":"Coordinator","type":"Coordinator","definition":null},)" +
             device("0x7", "Twin", light(kState + "," + kBrightness, "l1") + "," + light(kState, "l2")) + "," +
             device("0x8", "Sensor", R"({"type":"numeric","name":"temperature"})") + "," +
             R"({"ieee_address":"0x9","friendly_name":"New","type":"EndDevice"}])",
         "0x7-l1 Twin (l1) D; 0x7-l2 Twin (l2) O",
         {kLeftOut + "0x9: no definition"}},
        // A range that starts at 0 is none.
        {"[" + kTwin + "]", "0x7 Twin E153-500; 0x7-l2 Twin (l2) Eh", {}},
        {"[" + device("0x1", "Desk", light(kState)) + "," + device("0x2", "Desk", light(kState)) + "," +
             device("0x1", "Other", light(kState)) + "]",
         "0x1 Desk O",
         {kLeftOut + "0x2: the name 'Desk' is taken", kLeftOut + "0x1: the name 'Other' is taken"}},
        badNames,
    };
    for (const Row& row : rows) {
        RecordingLog log;
        const auto lamps = readZigbee2MqttDevices(row.json, log);
        EXPECT_EQ(lamps ? lampsOf(*lamps) : "none", row.lamps) << row.json;
        EXPECT_EQ(log.lines, row.log) << row.json;
    }
}

TEST(DeviceListTest, ReadsFiveThousandDevicesAndCapsMore)
{
    std::string json = "[";
    for (int i = 0; i < 5'001; ++i)
        json += (i ? "," : "") + device("0x" + std::to_string(i), "Lamp " + std::to_string(i), light(kState));
    RecordingLog log;
    const auto lamps = readZigbee2MqttDevices(json + "]", log);
    ASSERT_TRUE(lamps);
    EXPECT_EQ(lamps->size(), 5'000u);
    EXPECT_EQ(lamps->back().key, "0x4999");
    EXPECT_EQ(log.lines, std::vector<std::string>{"zigbee2mqtt device list: 5001 devices, only the first 5000 read"});
}

LampState lampState(bool switchOn, std::optional<int> brightness, std::optional<Chromaticity> xy = {},
                    std::optional<int> mired = {}, std::optional<int> fadeTenths = {})
{
    return {switchOn, brightness, xy, mired, fadeTenths};
}

// Light INDEX of a device of these lights, as the device list gives it.
Zigbee2MqttLamp lampOf(const std::string& device, std::size_t index = 0)
{
    NullLog log;
    const auto lamps = readZigbee2MqttDevices("[" + device + "]", log);
    return lamps && lamps->size() > index ? (*lamps)[index] : Zigbee2MqttLamp{};
}

const Zigbee2MqttLamp kXyLamp =
    lampOf(device("0x1", "Lamp", light(kState + "," + kBrightness + "," + kXy + "," + kTemperature)));
const Zigbee2MqttLamp kEndpointLamp =
    lampOf(device("0x1", "Lamp",
                  light(R"({"name":"state","property":"state_l1"},{"name":"brightness","property":"brightness_l1"},)"
                        R"({"name":"color_xy","property":"color_l1"})",
                        "l1")));

TEST(Zigbee2MqttPayloadTest, EncodesWhatTheLampHasAProperty)
{
    const Zigbee2MqttLamp hs = lampOf(device("0x1", "Lamp", light(kState + "," + kBrightness + "," + kHs)));
    const Zigbee2MqttLamp twinL2 = lampOf(kTwin, 1);
    const Zigbee2MqttLamp onOff = lampOf(device("0x1", "Lamp", light(kState)));
    const Chromaticity red{0.64, 0.33};
    const struct {
        const Zigbee2MqttLamp& lamp;
        LampState state;
        std::string payload;
    } rows[] = {
        {kXyLamp, lampState(true, 200, red, std::nullopt, 5),
         R"({"state":"ON","brightness":200,"color":{"x":0.6400,"y":0.3300},"transition":0.5})"},
        {kXyLamp, lampState(false, 1, std::nullopt, 300, 12), R"({"brightness":1,"color_temp":300,"transition":1.2})"},
        {hs, lampState(false, 254, red), R"({"brightness":254,"color":{"hue":0,"saturation":100}})"},
        {kEndpointLamp, lampState(true, 10, Chromaticity{0.1532, 0.0475}, std::nullopt, 0),
         R"({"state_l1":"ON","brightness_l1":10,"color_l1":{"x":0.1532,"y":0.0475},"transition":0})"},
        {kEndpointLamp, lampState(false, 7, std::nullopt, 300), R"({"brightness_l1":7})"},
        {twinL2, lampState(true, 7, red), R"({"state_l2":"ON","color_l2":{"hue":0,"saturation":100}})"},
        {twinL2, lampState(false, 7, std::nullopt, 300), R"({"color_temp_l2":300})"},
        {onOff, lampState(false, 80, red), "{}"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(zigbee2MqttSetPayload(row.lamp, row.state), row.payload);
    EXPECT_EQ(zigbee2MqttRestorePayload(kEndpointLamp, ReadLampState{false, lampState(true, 10)}),
              R"({"state_l1":"OFF"})");
    EXPECT_EQ(zigbee2MqttRestorePayload(kXyLamp, ReadLampState{true, lampState(true, 90, std::nullopt, 250)}),
              R"({"brightness":90,"color_temp":250})");
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

TEST(Zigbee2MqttPayloadTest, ReadsALampsStateFromItsDevicesMessage)
{
    const struct {
        const Zigbee2MqttLamp& lamp;
        std::string json;
        std::optional<ReadLampState> state;
    } rows[] = {
        {kXyLamp, R"({"state":"ON","brightness":120,"color_mode":"xy","color":{"x":0.5,"y":0.4},"color_temp":300})",
         ReadLampState{true, lampState(false, 120, Chromaticity{0.5, 0.4})}},
        {kXyLamp,
         R"({"state":"ON","brightness":0,"color_mode":"color_temp","color":{"x":0.5,"y":0.4},"color_temp":300})",
         ReadLampState{true, lampState(false, 1, std::nullopt, 300)}},
        {kXyLamp, R"({"state":"OFF"})", ReadLampState{false, {}}},
        {kEndpointLamp, R"({"state":"ON","state_l1":"OFF","brightness_l1":5})",
         ReadLampState{false, lampState(false, 5)}},
        {kXyLamp, R"({"brightness":5})", std::nullopt},
        {kXyLamp, "not json", std::nullopt},
    };
    for (const auto& row : rows)
        EXPECT_EQ(readZigbee2MqttState(row.lamp, row.json), row.state) << row.json;
    // A lamp that reports its colour only as hue and saturation is put back with them.
    const Zigbee2MqttLamp hs = lampOf(device("0x1", "Lamp", light(kState + "," + kBrightness + "," + kHs)));
    const struct {
        std::string json;
        std::string restore;
    } restores[] = {
        {R"({"state":"ON","brightness":77,"color_mode":"hs","color":{"hue":120,"saturation":50}})",
         R"({"brightness":77,"color":{"hue":120,"saturation":50}})"},
        {R"({"state":"ON","brightness":9,"color":{"hue":299.6,"saturation":91}})",
         R"({"brightness":9,"color":{"hue":300,"saturation":91}})"},
        {R"({"state":"ON","brightness":1,"color":{"hue":17,"saturation":0}})",
         R"({"brightness":1,"color":{"hue":0,"saturation":0}})"},
        {R"({"state":"ON","color":{"hue":200,"saturation":250}})", R"({"color":{"hue":200,"saturation":100}})"},
        {R"({"state":"ON","brightness":40,"color":{"hue":"red","saturation":50}})", R"({"brightness":40})"},
    };
    for (const auto& row : restores)
        EXPECT_EQ(zigbee2MqttRestorePayload(hs, readZigbee2MqttState(hs, row.json).value_or(ReadLampState{})),
                  row.restore)
            << row.json;
    EXPECT_EQ(readOnline("online"), true);
    EXPECT_EQ(readOnline(R"({"state":"offline"})"), false);
    EXPECT_EQ(readOnline("maybe"), std::nullopt);
}

// Against a real broker and the stand-in.

// The state a listener was last told, as "state NAME: DETAIL".
std::string lastState(const testing::RecordingListener& listener)
{
    for (auto told = listener.told.rbegin(); told != listener.told.rend(); ++told)
        if (told->starts_with("state "))
            return *told;
    return {};
}

class Zigbee2MqttSystemTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(broker.running);
        ASSERT_TRUE(standIn.online) << broker.output().toStdString() << standIn.output().toStdString();
    }
    std::unique_ptr<Zigbee2MqttSystem> startSystem(testing::RecordingListener& told,
                                                   std::size_t maxPayloadBytes = std::size_t{8} << 20,
                                                   const std::string& host = "127.0.0.1")
    {
        auto system = std::make_unique<Zigbee2MqttSystem>(
            Zigbee2MqttSystem::Options{"z2m", host, broker.port(), "zigbee2mqtt", std::nullopt, std::nullopt,
                                       std::chrono::milliseconds{2'000}, std::chrono::milliseconds{5'000},
                                       maxPayloadBytes},
            log);
        system->setListener(&told);
        system->start();
        return system;
    }
    bool waitForState(const std::string& state)
    {
        return waitFor([&] { return lastState(listener).starts_with("state " + state + ":"); }, 20'000);
    }
    SendResult sendAndWait(Zigbee2MqttSystem& system, std::vector<LampStateCommand> commands)
    {
        std::optional<SendResult> result;
        system.send(std::move(commands), [&](SendResult told) { result = told; });
        EXPECT_FALSE(result); // never inside the call
        waitFor([&] { return result.has_value(); }, 5'000);
        return result.value_or(SendResult::Refused);
    }

    testing::MosquittoBroker broker{"allow_anonymous true\nlog_type error\nlog_type warning\nlog_type notice\n"
                                    "log_type information\nlog_type subscribe\nlog_type unsubscribe"};
    testing::Zigbee2MqttStandIn standIn{broker};
    RecordingLog log;
    testing::RecordingListener listener;
};

TEST_F(Zigbee2MqttSystemTest, FindsTheLampsSubscribesOnlyToWhatItNeedsSendsReadsAndHearsZigbeeGoOffline)
{
    auto system = startSystem(listener);
    ASSERT_TRUE(waitForState("ready"));
    std::vector<std::string> lamps;
    for (const SystemLamp& lamp : listener.lamps)
        lamps.push_back(lamp.key + " " + lamp.name + (lamp.available ? "" : " (away)"));
    EXPECT_EQ(lamps, (std::vector<std::string>{"0x00124b0000000001 Desk lamp", "0x00124b0000000002 Shelf strip",
                                               "0x00124b0000000003 Hall/Ceiling", "0x00124b0000000004 Porch",
                                               "0x00124b0000000005-l1 Twin (l1)", "0x00124b0000000005-l2 Twin (l2)"}));
    standIn.write("unavailable Porch\n");
    ASSERT_TRUE(waitFor([&] { return listener.lamps.size() == 6 && !listener.lamps[3].available; }, 5'000));
    // The broker logs each subscription as "TIME: CLIENT QOS TOPIC": ours are the bridge's two topics and
    // each device's state and availability, never a wildcard.
    std::set<std::string> topics;
    for (const QByteArray& line : broker.output().split('\n'))
        if (const qsizetype at = line.indexOf(": glowcast-z2m-"); at >= 0)
            topics.insert(line.mid(line.indexOf(" 0 ", at) + 3).toStdString());
    EXPECT_EQ(topics, (std::set<std::string>{"zigbee2mqtt/bridge/state", "zigbee2mqtt/bridge/devices",
                                             "zigbee2mqtt/Desk lamp", "zigbee2mqtt/Desk lamp/availability",
                                             "zigbee2mqtt/Shelf strip", "zigbee2mqtt/Shelf strip/availability",
                                             "zigbee2mqtt/Hall/Ceiling", "zigbee2mqtt/Hall/Ceiling/availability",
                                             "zigbee2mqtt/Porch", "zigbee2mqtt/Porch/availability", "zigbee2mqtt/Twin",
                                             "zigbee2mqtt/Twin/availability"}));

    // Renamed, the lamp keeps its key; the old topics are given up and its states go to the new one.
    standIn.write("rename Porch=Garden/Porch\n");
    ASSERT_TRUE(waitFor([&] { return listener.lamps.size() == 6 && listener.lamps[3].name == "Garden/Porch"; }));
    EXPECT_EQ(listener.lamps[3].key, "0x00124b0000000004");
    EXPECT_EQ(sendAndWait(*system, {{"0x00124b0000000004", lampState(false, 44)}}), SendResult::Delivered);
    EXPECT_TRUE(standIn.waitForOutput(R"(zigbee2mqtt/Garden/Porch/set {"brightness":44})", 5'000));
    // An unsubscription is logged as "TIME: CLIENT TOPIC".
    EXPECT_TRUE(QString::fromUtf8(broker.output())
                    .contains(QRegularExpression(QStringLiteral(": glowcast-z2m-[0-9]+ zigbee2mqtt/Porch\n"))));

    // A state reaches the lamp and is read back.
    EXPECT_EQ(sendAndWait(*system, {{"0x00124b0000000001", lampState(true, 200, Chromaticity{0.64, 0.33})}}),
              SendResult::Delivered);
    EXPECT_TRUE(standIn.waitForOutput(
        R"(zigbee2mqtt/Desk lamp/set {"state":"ON","brightness":200,"color":{"x":0.6400,"y":0.3300}})", 5'000));
    std::optional<std::optional<ReadLampState>> read;
    system->readState("0x00124b0000000001", [&](std::optional<ReadLampState> state) { read = state; });
    ASSERT_TRUE(waitFor([&] { return read.has_value(); }, 5'000));
    EXPECT_EQ(*read, (ReadLampState{true, lampState(false, 200, Chromaticity{0.64, 0.33})}));
    EXPECT_TRUE(standIn.waitForOutput(R"(zigbee2mqtt/Desk lamp/get {"state":""})", 5'000));

    standIn.write("offline\n");
    ASSERT_TRUE(waitForState("offline"));
    EXPECT_EQ(lastState(listener), "state offline: zigbee2mqtt is offline");
    EXPECT_EQ(sendAndWait(*system, {{"0x00124b0000000004", lampState(false, 11)}}), SendResult::NoAnswer);
}

// The broker's host name is looked up off the main thread: "localhost" (from /etc/hosts) connects; a name
// under ".invalid" never resolves and shows as unreachable, named in the state and the log. Its first label
// is longer than a DNS label may be, so the lookup fails on this machine without asking a name server.
TEST_F(Zigbee2MqttSystemTest, TheBrokersNameIsLookedUpAndOneThatDoesNotResolveIsUnreachable)
{
    const std::string port = std::to_string(broker.port());
    const std::string nowhere = std::string(64, 'b') + ".glowcast.invalid";
    const struct {
        std::string host;
        std::string state; // its start
        std::string line;
    } rows[] = {
        {"localhost", "state ready: ", "z2m: connected to the broker at localhost:" + port},
        {nowhere, "state unreachable: broker at " + nowhere + ":" + port + ": the name does not resolve: ",
         "z2m: cannot connect to the broker at " + nowhere + ":" + port + ": the name does not resolve: "},
    };
    for (const auto& row : rows) {
        testing::RecordingListener told;
        const auto system = startSystem(told, std::size_t{8} << 20, row.host);
        EXPECT_EQ(lastState(told), ""); // never inside the call
        EXPECT_TRUE(waitFor([&] { return lastState(told).starts_with(row.state); }, 20'000)) << lastState(told);
        EXPECT_TRUE(logHas(log, row.line)) << row.host;
    }
}

TEST_F(Zigbee2MqttSystemTest, ABrokerRestartDropsWhatWasSentMeanwhileAndThenServesAgain)
{
    auto system = startSystem(listener);
    ASSERT_TRUE(waitForState("ready"));
    broker.stop();
    ASSERT_TRUE(waitForState("unreachable"));
    EXPECT_EQ(sendAndWait(*system, {{"0x00124b0000000004", lampState(false, 11)}}), SendResult::NoAnswer);
    EXPECT_TRUE(logHas(log, "z2m: the broker is away: 1 lamp state(s) dropped"));

    ASSERT_TRUE(broker.start());
    ASSERT_TRUE(waitForState("ready"));
    EXPECT_EQ(sendAndWait(*system, {{"0x00124b0000000004", lampState(false, 22)}}), SendResult::Delivered);
    ASSERT_TRUE(standIn.waitForOutput(R"(zigbee2mqtt/Porch/set {"brightness":22})", 5'000));
    EXPECT_FALSE(standIn.output().contains(R"({"brightness":11})"));

    // Stopped, it tells no answer that was still on its way, and sends what it was given before. The
    // stand-in tells the lamp away after its state message in answer to 22: once that has come, nothing is
    // on its way to the client as it stops (a message that comes while it stops loses what it sent last).
    standIn.write("unavailable Porch\n");
    ASSERT_TRUE(waitFor([&] { return listener.lamps.size() == 6 && !listener.lamps[3].available; }, 5'000));
    bool told = false;
    system->send({{"0x00124b0000000004", lampState(false, 33)}}, [&](SendResult) { told = true; });
    system->stop();
    ASSERT_TRUE(standIn.waitForOutput(R"(zigbee2mqtt/Porch/set {"brightness":33})", 5'000))
        << broker.output().toStdString();
    EXPECT_FALSE(told);
}

// The stand-in's list is 2551 bytes: over 1000 and 1 KiB of header the broker keeps it from us; under
// that, our own cap drops it; a list of exactly the cap is read.
TEST_F(Zigbee2MqttSystemTest, AnOversizedListIsDroppedByTheBrokerOrTheClient)
{
    testing::RecordingListener small;
    auto brokerCapped = startSystem(small, 1'000);
    ASSERT_TRUE(
        waitFor([&] { return broker.output().contains("Dropping too large outgoing PUBLISH for glowcast-z2m-"); }));
    auto clientCapped = startSystem(small, 2'000);
    ASSERT_TRUE(waitFor([&] {
        return logHas(log, "z2m: dropped a message of 2551 bytes on zigbee2mqtt/bridge/devices: over the cap of 2000");
    }));
    EXPECT_TRUE(small.lamps.empty());
    auto exactlyCapped = startSystem(listener, 2'551);
    EXPECT_TRUE(waitFor([&] { return listener.lamps.size() == 6; }, 5'000));
}

// A "broker" that takes the connection and never answers it: unreachable after the connect time-out.
TEST(Zigbee2MqttSilenceTest, ABrokerThatNeverAnswersIsShownAsUnreachable)
{
    QTcpServer silent;
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost, 0));
    RecordingLog log;
    testing::RecordingListener listener;
    Zigbee2MqttSystem system({"z2m", "127.0.0.1", silent.serverPort(), "zigbee2mqtt", std::nullopt, std::nullopt,
                              std::chrono::milliseconds{2'000}, std::chrono::milliseconds{300}},
                             log);
    system.setListener(&listener);
    system.start();
    const std::string unreachable =
        "state unreachable: no answer from the broker at 127.0.0.1:" + std::to_string(silent.serverPort());
    EXPECT_TRUE(waitFor([&] { return lastState(listener) == unreachable; }, 5'000)) << lastState(listener);
}

// A broker that knows alice by her password: the record's user and the stored password get in (to a
// broker without zigbee2mqtt), a wrong password is refused, and the password is never logged.
TEST(Zigbee2MqttCredentialsTest, TheStoredPasswordGetsInAndAWrongOneIsRefused)
{
    QTemporaryDir config;
    const std::filesystem::path directory = config.path().toStdString();
    QFile passwords(config.filePath(QStringLiteral("passwords")));
    ASSERT_TRUE(passwords.open(QIODevice::WriteOnly) && passwords.write("alice:secret-word\n") > 0);
    passwords.close();
    ASSERT_EQ(
        testing::runProgram(QStringLiteral("mosquitto_passwd"), {QStringLiteral("-U"), passwords.fileName()}).exitCode,
        0);
    testing::MosquittoBroker broker{"allow_anonymous false\npassword_file " + passwords.fileName().toStdString()};
    ASSERT_TRUE(broker.running);
    const SystemRecord record{"z2m", SystemKind::Zigbee2Mqtt, "mqtt://127.0.0.1:" + std::to_string(broker.port()),
                              std::nullopt, "alice"};
    RecordingLog log;
    for (const char* password : {"secret-word", "guess"}) {
        ASSERT_EQ(storeSystemPassword(directory, "z2m", password), std::nullopt);
        testing::RecordingListener listener;
        const std::unique_ptr<LampSystem> system = makeZigbee2MqttSystem(record, directory, log);
        ASSERT_TRUE(system);
        system->setListener(&listener);
        system->start();
        // Without zigbee2mqtt on this broker, getting in is hearing nothing from it.
        const std::string expected = password == std::string_view("guess")
                                         ? "state refused: the broker refused the connection: Not authorized"
                                         : "state offline: no word from zigbee2mqtt on zigbee2mqtt/bridge/state";
        EXPECT_TRUE(waitFor([&] { return lastState(listener) == expected; }, 10'000)) << lastState(listener);
    }
    EXPECT_FALSE(logHas(log, "secret-word") || logHas(log, "guess"));
    EXPECT_EQ(makeZigbee2MqttSystem({"z2m", SystemKind::Zigbee2Mqtt, "http://host", std::nullopt, std::nullopt},
                                    directory, log),
              nullptr);
    EXPECT_EQ(log.lines.back(), "z2m: 'http://host' is no MQTT address");
}

} // namespace
} // namespace glowcast
