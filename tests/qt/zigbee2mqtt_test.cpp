// zigbee2mqtt: the device list, the messages a lamp is sent, and the system against a real Mosquitto
// and the stand-in.

#include "adapters/files/system_secrets.h"
#include "adapters/mqtt/mosquitto_library.h"
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

// The library is opened whole or not at all: each row a library, and the one line that says why it is
// not taken (none when it is).
TEST(MosquittoLibraryTest, IsTakenOnlyWithEveryFunctionTheClientCalls)
{
    const std::pair<std::string, std::string> rows[] = {
        {MosquittoLibrary::kSoname, ""},
        {"libglowcast-absent.so.1",
         "cannot load libglowcast-absent.so.1: libglowcast-absent.so.1: cannot open shared object file: No such file "
         "or directory"},
        {"libc.so.6", "cannot find mosquitto_lib_init in libc.so.6"},
    };
    for (const auto& [soname, why] : rows) {
        RecordingLog log;
        const std::unique_ptr<MosquittoLibrary> library = MosquittoLibrary::open(soname, log);
        EXPECT_EQ(library != nullptr, why.empty()) << soname;
        EXPECT_EQ(log.lines, why.empty() ? std::vector<std::string>{} : std::vector<std::string>{why}) << soname;
    }
}

// A real Mosquitto that knows alice's password and logs subscriptions, the stand-in on it and a "broker"
// that never answers, started once; each scenario starts the systems it needs with a log of its own and
// puts back the names it changes in the stand-in.
class Zigbee2MqttSystemTest : public ::testing::Test {
protected:
    struct Started {
        QTemporaryDir config;
        std::filesystem::path directory = config.path().toStdString();
        QString passwords = config.filePath(QStringLiteral("passwords"));
        bool stored = [this] {
            std::ofstream(passwords.toStdString()) << "alice:secret-word\n";
            return testing::runProgram(QStringLiteral("mosquitto_passwd"), {QStringLiteral("-U"), passwords})
                           .exitCode == 0 &&
                   !storeSystemPassword(directory, "alice", "secret-word") &&
                   !storeSystemPassword(directory, "wrong", "not-her-word");
        }();
        testing::MosquittoBroker broker{"allow_anonymous true\npassword_file " + passwords.toStdString() +
                                        "\nlog_type error\nlog_type warning\nlog_type notice\nlog_type information\n"
                                        "log_type subscribe\nlog_type unsubscribe"};
        testing::Zigbee2MqttStandIn standIn{broker};
        QTcpServer silent;
        bool listening = silent.listen(QHostAddress::LocalHost, 0);
    };
    static inline std::unique_ptr<Started> s;
    static void SetUpTestSuite() { s = std::make_unique<Started>(); }
    static void TearDownTestSuite() { s.reset(); }
    void SetUp() override
    {
        ASSERT_TRUE(s->stored && s->broker.running && s->standIn.online && s->listening)
            << s->broker.output().toStdString() << s->standIn.output().toStdString();
    }

    LampSystem& start(RecordingListener& told, std::unique_ptr<LampSystem> system)
    {
        system->setListener(&told);
        system->start();
        EXPECT_EQ(told.lastState(), ""); // never inside the call
        return *systems.emplace_back(std::move(system));
    }
    std::unique_ptr<LampSystem> made(const std::string& id, const std::string& host, int port = s->broker.port(),
                                     std::size_t cap = std::size_t{8} << 20, int connectMs = 5'000)
    {
        Zigbee2MqttSystem::Options options{id, host, port, "zigbee2mqtt", {}, {}};
        options.connectTimeout = std::chrono::milliseconds{connectMs};
        options.maxPayloadBytes = cap;
        return std::make_unique<Zigbee2MqttSystem>(options, log);
    }
    // The system of the id "z2m" on the broker, ready with the stand-in's six lamps.
    LampSystem& ready(RecordingListener& told, const std::string& id = "z2m")
    {
        LampSystem& system = start(told, made(id, "localhost"));
        EXPECT_TRUE(stateIs(told, "ready:") && told.lamps.size() == 6) << told.lastState();
        return system;
    }
    static bool stateIs(const RecordingListener& told, const std::string& state)
    {
        return waitFor([&] { return told.lastState().starts_with("state " + state); }, 20'000);
    }

    RecordingLog log;
    std::vector<std::unique_ptr<LampSystem>> systems;
    const std::string at = ":" + std::to_string(s->broker.port());
    const std::string porch = "0x00124b0000000004";
};

TEST_F(Zigbee2MqttSystemTest, RefusesAnAddressThatIsNoMqttAddress)
{
    EXPECT_EQ(makeZigbee2MqttSystem({"z2m", SystemKind::Zigbee2Mqtt, "http://host", {}, {}}, s->directory, log),
              nullptr);
    EXPECT_EQ(log.lines, std::vector<std::string>{"z2m: 'http://host' is no MQTT address"});
}

// The broker's name is looked up off the main thread: "localhost" from /etc/hosts connects. The broker
// logs each subscription as "TIME: CLIENT QOS TOPIC": ours are the bridge's two topics and each device's
// state and availability, never a wildcard.
TEST_F(Zigbee2MqttSystemTest, FindsTheLampsAndSubscribesOnlyTheirTopics)
{
    RecordingListener listener;
    ready(listener);
    EXPECT_EQ(log.count("z2m: connected to the broker at localhost" + at), 1);
    std::set<std::string> expected{"zigbee2mqtt/bridge/state", "zigbee2mqtt/bridge/devices"};
    for (const std::string name : {"Desk lamp", "Shelf strip", "Hall/Ceiling", "Porch", "Twin"})
        expected.insert({"zigbee2mqtt/" + name, "zigbee2mqtt/" + name + "/availability"});
    std::set<std::string> topics;
    EXPECT_TRUE(waitFor([&] {
        for (const QByteArray& line : s->broker.output().split('\n'))
            if (const qsizetype client = line.indexOf(": glowcast-z2m-"); client >= 0)
                topics.insert(line.mid(line.indexOf(" 0 ", client) + 3).toStdString());
        return topics == expected;
    }));
    EXPECT_EQ(topics, expected);
}

// The stand-in's device list is 2551 bytes: over 1000 and 1 KiB of header the broker keeps it back, over
// 2000 the client drops it, at 2551 it is read.
TEST_F(Zigbee2MqttSystemTest, ADeviceListOverTheCapIsDroppedAndOneAtTheCapIsRead)
{
    RecordingListener brokerCapped, clientCapped, exact;
    start(brokerCapped, made("big", "127.0.0.1", s->broker.port(), 1'000));
    start(clientCapped, made("cap", "127.0.0.1", s->broker.port(), 2'000));
    start(exact, made("exact", "127.0.0.1", s->broker.port(), 2'551));
    EXPECT_TRUE(
        waitFor([&] { return s->broker.output().contains("Dropping too large outgoing PUBLISH for glowcast-big-"); }));
    const std::string capped =
        "cap: dropped a message of 2551 bytes on zigbee2mqtt/bridge/devices: over the cap of 2000";
    EXPECT_TRUE(waitFor([&] { return log.count(capped) == 1; }));
    EXPECT_TRUE(waitFor([&] { return exact.lamps.size() == 6; }));
    EXPECT_TRUE(brokerCapped.lamps.empty() && clientCapped.lamps.empty());
}

// What a system tells of a broker it cannot reach or enter: a name under ".invalid" with a label longer
// than DNS allows fails without a name server, a "broker" never answers; alice's stored password gets her
// in where a wrong one is refused, neither ever logged, and a user the library does not take is refused,
// never sent as an anonymous connection.
TEST_F(Zigbee2MqttSystemTest, TellsWhyItCannotReachOrEnterTheBroker)
{
    const std::string nowhere = std::string(64, 'b') + ".glowcast.invalid";
    const int silent = s->silent.serverPort();
    const auto stored = [&](const std::string& id) {
        return makeZigbee2MqttSystem({id, SystemKind::Zigbee2Mqtt, "mqtt://" + s->broker.address(), {}, "alice"},
                                     s->directory, log);
    };
    const Zigbee2MqttSystem::Options control{"anonymous",   "127.0.0.1", s->broker.port(),
                                             "zigbee2mqtt", "a\x01z",    "secret-word"};
    std::pair<std::unique_ptr<LampSystem>, std::string> rows[] = {
        {made("unresolved", nowhere), "unreachable: broker at " + nowhere + at + ": the name does not resolve: "},
        {made("silent", "127.0.0.1", silent, std::size_t{8} << 20, 300),
         "unreachable: no answer from the broker at 127.0.0.1:" + std::to_string(silent)},
        {stored("alice"), "ready:"},
        {stored("wrong"), "refused: the broker refused the connection: Not authorized"},
        {std::make_unique<Zigbee2MqttSystem>(control, log), "refused: the user cannot be sent to a broker: "},
    };
    std::vector<RecordingListener> told(std::size(rows));
    for (std::size_t k = 0; k < told.size(); ++k)
        start(told[k], std::move(rows[k].first));
    for (std::size_t k = 0; k < told.size(); ++k)
        EXPECT_TRUE(stateIs(told[k], rows[k].second)) << told[k].lastState();
    EXPECT_FALSE(testing::logHas(log, "secret-word") || testing::logHas(log, "not-her-word"));
}

// A lamp away is told so; renamed, it keeps its key, the old topics are given up (an unsubscription is
// logged as "TIME: CLIENT TOPIC") and its states go to the new one. Renamed again at once, the lists come in
// quick succession: the system gives up the list's topic and asks for it. The broker passes a state on only
// after the unsubscription sent before it, so the list that follows reaches the system by its asking alone;
// the lamp's topics follow once a list comes unchanged (the stand-in tells Porch away since the start).
TEST_F(Zigbee2MqttSystemTest, ALampAwayIsToldARenamedOneKeepsItsKeyAndListsInQuickSuccessionAreAskedFor)
{
    RecordingListener listener;
    LampSystem& system = ready(listener, "renamed");
    s->standIn.write("unavailable Porch\n");
    ASSERT_TRUE(waitFor([&] { return listener.lamps.size() == 6 && !listener.lamps[3].available; }, 5'000));
    s->standIn.write("rename Porch=Garden/Porch\n");
    ASSERT_TRUE(waitFor([&] { return listener.lamps.size() == 6 && listener.lamps[3].name == "Garden/Porch"; }));
    EXPECT_EQ(listener.lamps[3].key, porch);
    EXPECT_EQ(testing::sent(system, {{porch, {false, 44, {}, {}, {}}}}), SendResult::Delivered);
    EXPECT_TRUE(s->standIn.waitForOutput(R"(zigbee2mqtt/Garden/Porch/set {"brightness":44})", 5'000));
    const auto unsubscribed = [](const QString& topic) {
        return QString::fromUtf8(s->broker.output())
            .contains(QRegularExpression(QStringLiteral(": glowcast-renamed-[0-9]+ zigbee2mqtt/") + topic + u'\n'));
    };
    EXPECT_TRUE(unsubscribed(QStringLiteral("Porch")));
    s->standIn.write("rename Garden/Porch=Porch\n");
    ASSERT_TRUE(waitFor([&] { return listener.lamps[3].name == "Porch"; }));
    // Its echo is heard only once its topic follows the lists: the state is delivered or unconfirmed.
    EXPECT_NE(testing::sent(system, {{porch, {false, 45, {}, {}, {}}}}), SendResult::NoAnswer);
    ASSERT_TRUE(s->standIn.waitForOutput(R"(zigbee2mqtt/Porch/set {"brightness":45})", 5'000));
    EXPECT_TRUE(unsubscribed(QStringLiteral("bridge/devices")));
    s->standIn.write("rename Porch=Shed\n");
    EXPECT_TRUE(waitFor([&] { return listener.lamps[3].name == "Shed"; }));
    s->standIn.write("rename Shed=Porch\n");
    EXPECT_TRUE(waitFor([&] { return listener.lamps[3].name == "Porch" && !listener.lamps[3].available; }));
    s->standIn.write("available Porch\n");
    EXPECT_TRUE(waitFor([&] { return listener.lamps[3].available; }));
    EXPECT_FALSE(testing::logHas(log, "no device list came when asked")) << "the broker answered every question";
}

TEST_F(Zigbee2MqttSystemTest, SendsAStateAndReadsItBack)
{
    RecordingListener listener;
    LampSystem& system = ready(listener);
    EXPECT_EQ(testing::sent(system, {{"0x00124b0000000001", {true, 200, kRed, {}, {}}}}), SendResult::Delivered);
    EXPECT_TRUE(s->standIn.waitForOutput(
        R"(zigbee2mqtt/Desk lamp/set {"state":"ON","brightness":200,"color":{"x":0.6400,"y":0.3300}})", 5'000));
    EXPECT_EQ(testing::readOf(system, "0x00124b0000000001"), (ReadLampState{true, {false, 200, kRed, {}, {}}}));
    EXPECT_TRUE(s->standIn.waitForOutput(R"(zigbee2mqtt/Desk lamp/get {"state":""})", 5'000));
}

// A muted device applies a set without publishing its state. Its lamp's availability going and coming
// back tells that the stand-in has read the command before.
TEST_F(Zigbee2MqttSystemTest, ADeviceThatDoesNotEchoItsStateIsTakenAtItsWordUntilItPublishesOne)
{
    RecordingListener listener;
    LampSystem& system = ready(listener, "mute");
    const auto command = [&](const QByteArray& line) {
        s->standIn.write(line + "\nunavailable Porch\n");
        ASSERT_TRUE(waitFor([&] { return listener.lamps.size() == 6 && !listener.lamps[3].available; }, 5'000));
        s->standIn.write("available Porch\n");
        ASSERT_TRUE(waitFor([&] { return listener.lamps[3].available; }, 5'000));
    };
    const std::string silent = "mute: no state of Porch within 1000 ms of a set: its states are taken as sent "
                               "until it publishes one";
    command("mute Porch");
    EXPECT_EQ(testing::sent(system, {{porch, {false, 44, {}, {}, {}}}}), SendResult::Unconfirmed);
    EXPECT_EQ(testing::sent(system, {{porch, {false, 45, {}, {}, {}}}}), SendResult::Unconfirmed);
    EXPECT_EQ(log.count(silent), 1);
    command("unmute Porch");
    EXPECT_TRUE(testing::readOf(system, porch).has_value());
    EXPECT_EQ(testing::sent(system, {{porch, {false, 46, {}, {}, {}}}}), SendResult::Delivered);
}

TEST_F(Zigbee2MqttSystemTest, WhileZigbee2MqttIsOfflineAStateHasNoAnswer)
{
    RecordingListener listener;
    LampSystem& system = ready(listener);
    s->standIn.write("offline\n");
    ASSERT_TRUE(stateIs(listener, "offline: zigbee2mqtt is offline"));
    EXPECT_EQ(testing::sent(system, {{porch, {false, 55, {}, {}, {}}}}), SendResult::NoAnswer);
    s->standIn.write("online\n");
    ASSERT_TRUE(stateIs(listener, "ready:"));
}

// What is sent while the broker is away is dropped; back, the same device list tells nothing.
TEST_F(Zigbee2MqttSystemTest, TheBrokerRestartingDropsWhatWasSentMeanwhile)
{
    RecordingListener listener;
    LampSystem& system = ready(listener, "restart");
    const auto lampsTold = [&] {
        return std::ranges::count_if(listener.told, [](auto& line) { return line.starts_with("lamps"); });
    };
    const auto toldBeforeRestart = lampsTold();
    s->broker.stop();
    ASSERT_TRUE(stateIs(listener, "unreachable"));
    EXPECT_EQ(testing::sent(system, {{porch, {false, 11, {}, {}, {}}}}), SendResult::NoAnswer);
    EXPECT_EQ(log.count("restart: the broker is away: 1 lamp state(s) dropped"), 1);
    ASSERT_TRUE(s->broker.start());
    ASSERT_TRUE(stateIs(listener, "ready:"));
    EXPECT_EQ(lampsTold(), toldBeforeRestart) << "the same device list again tells nothing";
    EXPECT_EQ(testing::sent(system, {{porch, {false, 22, {}, {}, {}}}}), SendResult::Delivered);
    ASSERT_TRUE(s->standIn.waitForOutput(R"(zigbee2mqtt/Porch/set {"brightness":22})", 5'000));
    EXPECT_FALSE(s->standIn.output().contains(R"({"brightness":11})"));
}

// Stopped, it tells no answer that was still on its way, and sends what it was given before. The stand-in
// tells the lamp away and back after every message before: once that has come, nothing is on its way to
// the client as it stops.
TEST_F(Zigbee2MqttSystemTest, StoppedItTellsNoAnswerAndSendsWhatItWasGiven)
{
    RecordingListener listener;
    LampSystem& system = ready(listener);
    for (const bool away : {true, false}) {
        s->standIn.write(away ? "unavailable Porch\n" : "available Porch\n");
        ASSERT_TRUE(waitFor([&] { return listener.lamps.size() == 6 && listener.lamps[3].available != away; }, 5'000));
    }
    bool told = false;
    system.send({{porch, {false, 33, {}, {}, {}}}}, [&](SendResult) { told = true; });
    system.stop();
    ASSERT_TRUE(s->standIn.waitForOutput(R"(zigbee2mqtt/Porch/set {"brightness":33})", 5'000))
        << s->broker.output().toStdString();
    EXPECT_FALSE(told);
}

// A broker client renames every device fifty times at once while Glowcast's main loop stands still: the
// lists that came meanwhile are read as one, the newest.
TEST(Zigbee2MqttDeviceFloodTest, ReadsOnlyTheNewestOfDeviceListsThatCameMeanwhile)
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
