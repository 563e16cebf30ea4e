// Glowcast as a service: glowcast --headless under a private session bus with the simulator, a
// notification server of the test's own, glowcastctl through the bus and through the file, a second
// instance, and a caller running as another user.

#undef QT_NO_CAST_FROM_ASCII // every text here is ASCII

#include "support/private_session_bus.h"
#include "support/processes.h"
#include "support/test_player.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDir>
#include <QTimer>
#include <QUrl>

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <tuple>
#include <utility>

namespace glowcast::testing {

// Stands in for the desktop's notification server: records what it is asked to show and close.
class NotificationServer final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    QStringList shown;
    int closed = 0;

public Q_SLOTS:
    uint Notify(const QString&, uint, const QString&, const QString& summary, const QString&, const QStringList&,
                const QVariantMap&, int)
    {
        shown << summary;
        return static_cast<uint>(shown.size());
    }
    void CloseNotification(uint) { ++closed; }
};

// Stands in for a Glowcast met as it misbehaves or quits, on the bus connection "odd": Lamps answers
// with the wrong type, Settings with a control character, and a Status call sees it quit before it
// answers.
class OddGlowcast final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.glowcast.Control1")
public Q_SLOTS:
    QString Lamps() { return "a text where the lamps should be"; }
    QVariantMap Settings() { return {{"portal", "\x1b[2Jportal"}}; }
    void Status(const QDBusMessage& call)
    {
        call.setDelayedReply(true);
        QTimer::singleShot(0, [] { QDBusConnection::disconnectFromBus("odd"); });
    }
};

// Records the arguments of each PaletteChanged the service sends.
class PaletteListener final : public QObject {
    Q_OBJECT
public:
    QList<QVariantList> heard;
public Q_SLOTS:
    void changed(const QDBusMessage& signal) { heard << signal.arguments(); }
};

namespace {

const QByteArray kListening = "registering for notifications";

using Answer = std::pair<int, std::string>; // glowcastctl's exit code and output

// A session bus that lets every user connect (the caller of another user must reach the program to be
// refused by it), listening in a directory every user may enter, the simulator and the configuration.
struct Surroundings {
    Answer ctl(const std::string& line)
    {
        const CommandRun run = runProgram(GLOWCAST_CTL, words(line.c_str()), environment);
        return {run.exitCode, run.out + run.err};
    }
    // A password file holding "hunter2"; its path.
    QString writeSecret()
    {
        QFile secret(config.file("secret"));
        return secret.open(QIODevice::WriteOnly) && secret.write("hunter2\n") == 8 ? secret.fileName() : QString();
    }

    ConfigDirectory config;
    QTemporaryDir busDirectory;
    PrivateSessionBus bus{[&] {
        QFile::setPermissions(busDirectory.path(),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ExeOther);
        QFile file(busDirectory.filePath("bus.conf"));
        if (file.open(QIODevice::WriteOnly))
            file.write(QStringLiteral("<busconfig><type>session</type><listen>unix:dir=%1</listen><auth>EXTERNAL</auth>"
                                      "<policy context=\"default\"><allow user=\"*\"/><allow send_destination=\"*\"/>"
                                      "<allow receive_sender=\"*\"/><allow own=\"*\"/></policy></busconfig>")
                           .arg(busDirectory.path())
                           .toUtf8());
        return QStringList{"--config-file=" + file.fileName()};
    }()};
    Simulator sim{words("--lamps extended,colour-a,temperature,dimmable --user alice --press-after 1")};
    QProcessEnvironment environment = [&] {
        QProcessEnvironment made = programEnvironment(bus.address(), config.path());
        made.remove("QT_QPA_PLATFORM"); // the service needs no display at all
        return made;
    }();
};

class ServiceEndToEndTest : public ::testing::Test, protected Surroundings {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(bus.address().isEmpty() || sim.address.empty()) << "no private session bus or simulator";
    }
};

// One service's life, started once: glowcast --headless, unpaired with lamp 1 saved, finds no bridge
// until glowcastctl names the simulator, and pairs by notification. Each scenario sets the lamps and
// settings it needs through glowcastctl, so that it passes alone as well as after those before it; the
// last ends the service.
class ServiceLifeTest : public ::testing::Test {
protected:
    struct Started : Surroundings {
        QDBusConnection test = QDBusConnection::connectToBus(bus.address(), "test");
        NotificationServer server;
        bool serving =
            test.registerObject("/org/freedesktop/Notifications", &server, QDBusConnection::ExportAllSlots) &&
            test.registerService("org.freedesktop.Notifications");
        PaletteListener palettes;
        bool hearing = test.connect({}, "/org/glowcast/Glowcast", "org.glowcast.Control1", "PaletteChanged", &palettes,
                                    SLOT(changed(QDBusMessage)));
        std::unique_ptr<Child> app;
        QStringList shownWhenPaired;
        TestPlayer player{bus.address(), "lamps", {{"PlaybackStatus", "Stopped"}}}; // followed once it plays
        Simulator second{words("--lamps 2 --press-after 1 --bridge-id 024743FFFE000002")};
        bool secondAdded = false;
    };
    static inline std::unique_ptr<Started> s;

    static void SetUpTestSuite()
    {
        s = std::make_unique<Started>();
        s->config.write(R"({"lamps":[{"id":"1","name":"Lamp 1","enabled":true}]})");
        s->app = std::make_unique<Child>(GLOWCAST_APP, QStringList{"--headless"}, s->environment);
        if (s->serving && s->app->waitForOutput("glowcastctl bridge ADDRESS") &&
            s->ctl("bridge " + s->sim.address).first == 0 && s->app->waitForOutput(kListening, 60'000))
            s->shownWhenPaired = s->server.shown;
    }
    static void TearDownTestSuite()
    {
        s.reset();
        QDBusConnection::disconnectFromBus("test");
    }
    void SetUp() override { ASSERT_FALSE(s->shownWhenPaired.isEmpty()) << app.output().toStdString(); }

    Answer ctl(const std::string& line) { return s->ctl(line); }
    void run(std::initializer_list<const char*> lines)
    {
        for (const char* line : lines)
            EXPECT_EQ(ctl(line).first, 0) << line;
    }
    // The media player "lamps" shows a flat cover; the bridge's requests that follow, once there are as many
    // as expected.
    std::vector<std::string> play(const QColor& colour, std::size_t expected)
    {
        sim.control(HttpMethod::Delete, "/sim/requests");
        const QString art = QUrl::fromLocalFile(config.flatCover(colour)).toString();
        s->player.publish({{"PlaybackStatus", "Playing"}, {"Metadata", QVariantMap{{"mpris:artUrl", art}}}});
        EXPECT_TRUE(pollFor([&] { return sim.requests("PUT").size() >= expected; })) << app.output().toStdString();
        return sim.requests("PUT");
    }
    // A further bridge added over the bus, paired by its link button, its lamps in the table; once.
    void addSecondBridge()
    {
        if (std::exchange(s->secondAdded, true))
            return;
        EXPECT_EQ(ctl("systems add bridge " + s->second.address),
                  (Answer{0, "lamp system bridge-2 added in the running Glowcast\n"}));
        const std::string ready = "bridge-2\tbridge\t" + s->second.address + "\tready";
        EXPECT_TRUE(pollFor([&] { return ctl("systems").second.starts_with(ready); }, 20'000)) << ctl("systems").second;
        EXPECT_TRUE(pollFor([&] { return ctl("lamps").second.find("bridge-2/2") != std::string::npos; }, 10'000));
    }

    ConfigDirectory& config = s->config;
    Simulator& sim = s->sim;
    Child& app = *s->app;
    const std::string lights = "PUT /api/" + config.preferences()["username"].toString().toStdString() + "/lights/";
};

TEST_F(ServiceLifeTest, FindingNoBridgeItAlertsAndPairsByNotificationWithTheOneGlowcastctlNames)
{
    EXPECT_TRUE(app.output().contains("alert: Unable to find IP of bridge: Have tried to discover"));
    EXPECT_EQ(ctl("bridge not/an/address").first, 2);
    EXPECT_EQ(s->shownWhenPaired, (QStringList{"Unable to find IP of bridge", "Glowcast found no bridge",
                                               "Press the link button on your lighting bridge"}));
    EXPECT_TRUE(waitFor([&] { return s->server.closed == 1; }, 5'000));
    EXPECT_EQ(ctl("config lastusedbridgeIP").second, sim.address + "\n");
}

TEST_F(ServiceLifeTest, RunsWithoutWidgetsOrTheMqttLibraryWithNoBrokerSet)
{
    QFile maps(QString("/proc/%1/maps").arg(app.pid()));
    ASSERT_TRUE(maps.open(QIODevice::ReadOnly));
    const QByteArray mapped = maps.readAll();
    EXPECT_TRUE(mapped.contains("libQt6Core")) << "the right process";
    EXPECT_FALSE(mapped.contains("libQt6Widgets"));
    EXPECT_FALSE(mapped.contains("libmosquitto"));
}

// A second instance, windowed or not, says so and ends before it reads the preferences; a caller running
// as another user is refused.
TEST_F(ServiceLifeTest, ASecondInstanceEndsAtOnceAndAnotherUsersCallIsRefused)
{
    const QByteArray before = QJsonDocument(config.preferences()).toJson();
    QProcessEnvironment environment = s->environment;
    environment.insert("QT_QPA_PLATFORM", "offscreen"); // for the window's
    for (const QStringList& arguments : {QStringList{"--headless"}, QStringList{}}) {
        Child second{GLOWCAST_APP, arguments, environment};
        EXPECT_EQ(second.exitCode(), 3);
        EXPECT_TRUE(second.output().contains("Glowcast is already running")) << second.output().toStdString();
        EXPECT_FALSE(second.output().contains("preferences: using"));
    }
    EXPECT_EQ(QJsonDocument(config.preferences()).toJson(), before);
    if (::geteuid() == 0) {
        Child stranger{
            "setpriv",
            words("--reuid=65534 --regid=65534 --clear-groups gdbus call --session --dest org.glowcast.Glowcast "
                  "--object-path /org/glowcast/Glowcast --method org.glowcast.Control1.Disable 3"),
            environment};
        EXPECT_NE(stranger.exitCode(), 0);
        EXPECT_TRUE(stranger.output().contains("org.freedesktop.DBus.Error.AccessDenied")) << stranger.output().data();
    }
}

// Covers: red, then a flat azure, which the classic palette snaps to its fixed blue; once glowcastctl
// chooses the vivid palette, the azure keeps its own chromaticity (0, 128, 255 works out at x 0.176,
// y 0.155) at full brightness.
TEST_F(ServiceLifeTest, FollowsCoversInTheClassicPaletteAndTheVividOne)
{
    run({"enable 3"});
    const std::string put = lights + "3/state ";
    const auto lastPut = [&](const QColor& colour) {
        sim.control(HttpMethod::Delete, "/sim/requests");
        EXPECT_EQ(Child(GLOWCAST_POST_COVER, {config.flatCover(colour)}, s->environment).exitCode(), 0);
        EXPECT_TRUE(pollFor([&] { return sim.requests("PUT").size() >= 2; }));
        return sim.requests("PUT").back();
    };
    EXPECT_EQ(lastPut(QColor(255, 0, 0)), put + R"({"bri":255,"xy":[0.640,0.330]})");
    EXPECT_NE(ctl("status").second.find("colours: #ff0000 #ff0000\n"), std::string::npos);
    EXPECT_EQ(lastPut(QColor(0, 128, 255)), put + R"({"bri":128,"xy":[0.198,0.101]})");
    EXPECT_EQ(ctl("config palette vivid").first, 0);
    EXPECT_EQ(lastPut(QColor(0, 128, 255)), put + R"({"bri":254,"xy":[0.176,0.155]})");
    EXPECT_EQ(ctl("colours " + config.flatCover(QColor(0, 128, 255)).toStdString() + " 1 --json"),
              (Answer{0, "[{\"hex\":\"#0080ff\",\"bri\":254,\"xy\":[0.176,0.155]}]\n"}));
}

// Lamp care on a lamp of each kind, each setting set while the service runs, following a media player.
// Blue, [0.150,0.060], lies outside both colour lamps' triangles (gamuts C and A): each gets the nearest
// point of its own. The white lamp gets the coolest white it has, the dimmable one brightness only, and
// lamp 1, switched off, lights up.
TEST_F(ServiceLifeTest, LampCareFitsAndSwitchesOnALampOfEachKindFollowingAPlayer)
{
    run({"config palette classic", "enable 2", "enable 3", "enable 4", "config switchOn true", "config fitLamp true"});
    sim.control(HttpMethod::Put, lights.substr(4) + "1/state", R"({"on":false})");
    EXPECT_EQ(play(QColor(0, 0, 200), 4),
              (std::vector<std::string>{lights + R"(1/state {"on":true,"bri":96,"xy":[0.1535,0.0599]})",
                                        lights + R"(2/state {"on":true,"bri":96,"xy":[0.1418,0.0815]})",
                                        lights + R"(3/state {"on":true,"bri":96,"ct":153})",
                                        lights + R"(4/state {"on":true,"bri":96})"}));
}

// The bridge's 429 reaches lamp care through the HTTP port, and after the back-off the lamp gets its state
// again. The pace that avoids the 429 is lamp care's to show, and measured in BENCHMARKS.md.
TEST_F(ServiceLifeTest, AfterTheBridgesOverloadALampGetsItsStateAgain)
{
    run({"enable 2", "enable 3", "enable 4"});
    sim.control(HttpMethod::Post, "/sim/faults",
                R"({"mode":"status","status":429,"count":1,"path":"/lights/2/state"})");
    const std::vector<std::string> sent = play(QColor(0, 200, 0), 5);
    ASSERT_EQ(sent.size(), 5u) << app.output().toStdString();
    EXPECT_EQ(std::ranges::count(sent, sent[1]), 2) << sent[1];
    EXPECT_TRUE(app.output().contains("the bridge is overloaded (HTTP 429)"));
}

// Each lamp's own state is read before its first colour after the setting, and put back once the player
// has paused for a second; playing the same track again sends its cover again.
TEST_F(ServiceLifeTest, LampsArePutBackWhenThePlayerPausesAndGetTheCoverAgainWhenItPlays)
{
    run({"config palette classic", "enable 2", "enable 3", "enable 4", "config switchOn true", "config fitLamp true"});
    play(QColor(0, 0, 200), 4); // each lamp's own state one that Glowcast sent
    run({"config restoreAfter 1"});
    const auto shown = [&] {
        return QJsonDocument::fromJson(sim.control(HttpMethod::Get, "/sim/state").c_str())["lamps"];
    };
    const QJsonValue own = shown();
    EXPECT_EQ(play(QColor(255, 160, 0), 4).size(), 4u);
    EXPECT_EQ(sim.requests("GET").size(), 4u);
    s->player.publish({{"PlaybackStatus", "Paused"}});
    EXPECT_TRUE(pollFor([&] { return sim.requests("PUT").size() == 8; }));
    for (qsizetype i = 0; i < 4; ++i)
        EXPECT_TRUE(pollFor([&] { return shown()[i]["colour"] == own[i]["colour"]; }, 2'000)) << i;
    s->player.publish({{"PlaybackStatus", "Playing"}});
    EXPECT_TRUE(pollFor([&] { return sim.requests("PUT").size() == 12; })) << app.output().toStdString();
}

// A player's cover: its palette is signalled once, with the track, and the same JSON is in the runtime
// folder's palette.json (the test's configuration directory) and glowcastctl's. Red on red reads only
// when darkened to #370000.
TEST_F(ServiceLifeTest, EachCoversPaletteIsSignalledOnceAndWrittenForOtherPrograms)
{
    run({"config palette classic", "enable 1", "disable 2", "disable 3", "disable 4"});
    ASSERT_TRUE(s->hearing);
    s->palettes.heard.clear();
    sim.control(HttpMethod::Delete, "/sim/requests");
    const QString art = QUrl::fromLocalFile(config.flatCover(QColor(255, 0, 0))).toString();
    s->player.publish({{"PlaybackStatus", "Playing"},
                       {"Metadata", QVariantMap{{"mpris:artUrl", art},
                                                {"xesam:title", "Red"},
                                                {"xesam:artist", QStringList{"Ann", "Bo"}},
                                                {"xesam:album", "Flat"}}}});
    EXPECT_TRUE(pollFor([&] { return !sim.requests("PUT").empty() && !s->palettes.heard.isEmpty(); }));
    ASSERT_EQ(s->palettes.heard.size(), 1);
    EXPECT_EQ(s->palettes.heard[0][0].toStringList(), QStringList{"#ff0000"});
    const QVariantMap about = qdbus_cast<QVariantMap>(s->palettes.heard[0][1]);
    EXPECT_EQ(about["artist"].toString() + "/" + about["palette"].toString(), "Ann, Bo/classic");
    const std::string json = R"({"colours": ["#ff0000"], "background": "#ff0000", "foreground": "#370000", )"
                             R"("accent": "#370000", "pinned": false, "track": {"source": "player", "title": "Red", )"
                             R"("artist": "Ann, Bo", "album": "Flat"}})"
                             "\n";
    QFile file(config.file("glowcast/palette.json"));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll().toStdString(), json);
    EXPECT_EQ(ctl("palette --json"), (Answer{0, json}));
}

// Lamp systems over the control interface: a bridge added pairs while the first bridge's lamps stay, and
// its lamps join the table by SYSTEM/KEY, enabled as the first bridge's are; the first bridge added again
// is refused before it pairs: no lamp of it is listed twice.
TEST_F(ServiceLifeTest, ABridgeAddedOverTheBusJoinsTheTableAndTheFirstBridgeAgainIsRefused)
{
    run({"enable 2", "enable 4"});
    addSecondBridge();
    EXPECT_EQ(ctl("systems add bridge " + sim.address).first, 0);
    const std::string again = "bridge-3\tbridge\t" + sim.address + "\trefused the same bridge as the first bridge\t-\n";
    EXPECT_TRUE(pollFor([&] { return ctl("systems").second.ends_with(again); }, 10'000)) << ctl("systems").second;
    const std::pair<std::string, Answer> steps[] = {
        {"enable 3", {0, "lamp 3 on in the running Glowcast\n"}},
        {"enable bridge-2/2", {0, "lamp bridge-2/2 on in the running Glowcast\n"}},
        {"lamps",
         {0, "1\ton\tLamp 1\n2\ton\tLamp 2\n3\ton\tLamp 3\n4\ton\tLamp 4\nbridge-2/1\toff\tLamp 1\n"
             "bridge-2/2\ton\tLamp 2\n"}},
        {"systems set bridge-2 pace 2", {0, "lamp system bridge-2 paced at 2 in the running Glowcast\n"}},
    };
    for (const auto& [line, expected] : steps)
        EXPECT_EQ(ctl(line), expected) << line;
    EXPECT_EQ(ctl("systems remove bridge-3").first, 0);
    EXPECT_NE(ctl("status").second.find("\nsystems: bridge-2 ready"), std::string::npos);
}

// It ends the service: the last scenario.
TEST_F(ServiceLifeTest, SavesOnSigtermAndTheFileServesGlowcastctlAfterwards)
{
    run({"enable 2", "enable 3", "enable 4"});
    addSecondBridge();
    run({"enable bridge-2/2"});
    app.signal(SIGTERM);
    EXPECT_EQ(app.exitCode(), 0);
    EXPECT_EQ(config.savedLamps(), "1+ 2+ 3+ 4+ bridge-2/1- bridge-2/2+");
    EXPECT_EQ(ctl("systems").second,
              "bridge-2\tbridge\t" + s->second.address + "\toffline (Glowcast is not running)\t-\n");
}

// Two additions at once each get an id of their own and keep their own password, which never reaches
// the log. While every write of a file fails, as on a full disk, an addition, a pace and a removal
// exit with 1 and change nothing, so the removal that follows is the only change the file sees; it
// takes the system's password along.
TEST_F(ServiceEndToEndTest, RacingAdditionsKeepTheirPasswordsAndChangesNotStoredFailAndChangeNothing)
{
    config.writePaired(sim.address, "1+");
    // A write over the file size limit fails rather than ending the program.
    const auto app = std::make_unique<Child>(
        "sh", QStringList{"-c", "trap '' XFSZ; exec \"$0\" --headless", GLOWCAST_APP}, environment);
    ASSERT_TRUE(app->waitForOutput(kListening, 60'000)) << app->output().toStdString();
    std::vector<std::unique_ptr<Child>> adds;
    for (const QString password : {"pw-one", "pw-two"}) {
        QFile file(config.file(password));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(password.toUtf8()) > 0);
        adds.push_back(std::make_unique<Child>(
            GLOWCAST_CTL,
            words("systems add zigbee2mqtt mqtt://127.0.0.1:1 --user ann --password-file") << file.fileName(),
            environment));
    }
    for (const auto& add : adds)
        EXPECT_EQ(add->exitCode(30'000), 0) << add->output().toStdString();
    const auto passwords = [&] {
        QStringList found = QDir(config.file("systems")).entryList(QDir::Files | QDir::Hidden);
        for (QString& name : found) {
            QFile file(config.file("systems/" + name));
            name = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        }
        found.sort();
        return found;
    };
    EXPECT_EQ(passwords(), (QStringList{"pw-one", "pw-two"}));

    const pid_t pid = static_cast<pid_t>(app->pid());
    rlimit limit{};
    ASSERT_EQ(::prlimit(pid, RLIMIT_FSIZE, nullptr, &limit), 0);
    const rlimit full{0, limit.rlim_max};
    ASSERT_EQ(::prlimit(pid, RLIMIT_FSIZE, &full, nullptr), 0);
    for (const char* line : {"systems add wled http://127.0.0.1:1", "systems set z2m-2 pace 8", "systems remove z2m"})
        EXPECT_EQ(ctl(line).first, 1) << line;
    EXPECT_EQ(passwords(), (QStringList{"pw-one", "pw-two"}));
    ASSERT_EQ(::prlimit(pid, RLIMIT_FSIZE, &limit, nullptr), 0);
    EXPECT_EQ(ctl("systems remove z2m").first, 0);
    EXPECT_EQ(passwords().size(), 1);
    app->signal(SIGTERM);
    EXPECT_EQ(app->exitCode(), 0);
    EXPECT_FALSE(app->output().contains("pw-"));
    EXPECT_EQ(QJsonDocument(config.preferences()["systems"].toArray()).toJson(QJsonDocument::Compact),
              "[{\"address\":\"mqtt://127.0.0.1:1\",\"id\":\"z2m-2\",\"kind\":\"zigbee2mqtt\",\"user\":\"ann\"}]");
}

// Without Glowcast, glowcastctl edits the preferences file under its lock: concurrent edits all land;
// systems get ids the program picks, a broker's password goes to its own 0600 file and nowhere else,
// each refusal has its exit status; pair, lights and set reach a further bridge by --system, whose
// user name pairing stores in its record and never over the first bridge's. A Glowcast met as it
// quits or misbehaves fails cleanly or falls back to the file.
TEST_F(ServiceEndToEndTest, WithoutGlowcastEditsLandInTheFileBridgeCommandsReachAFurtherBridgeAndOddServicesFail)
{
    Simulator second{words("--lamps 2 --press-after 1")};
    second.control(HttpMethod::Post, "/sim/lamps", R"({"names":["Küche","Hall"]})");
    config.writePaired(sim.address, "1- 2- 3- 4- z2m/0x01+");
    std::vector<std::unique_ptr<Child>> runs;
    for (const char* line : {"enable 1", "enable 2", "enable 3", "enable 4", "bridge 10.0.0.9"})
        runs.push_back(std::make_unique<Child>(GLOWCAST_CTL, words(line), environment));
    for (const auto& run : runs)
        EXPECT_EQ(run->exitCode(30'000), 0) << run->output().toStdString();
    EXPECT_EQ(config.savedLamps(), "1+ 2+ 3+ 4+ z2m/0x01+");
    EXPECT_EQ(config.preferences()["lastusedbridgeIP"].toString(), "10.0.0.9");
    EXPECT_EQ(config.preferences()["username"].toString(), "alice");

    const QString secret = writeSecret();
    const std::string file = " in " + config.path().toStdString() + "/preferences.json (Glowcast is not running)";
    const std::string offline = "\toffline (Glowcast is not running)\t-\n";
    const std::pair<std::string, Answer> steps[] = {
        {"enable 9", {1, "glowcastctl enable: the saved selection has no lamp with the id \"9\"" + file + "\n"}},
        {"systems add zigbee2mqtt mqtt://10.0.0.8/home --user ann --password-file " + secret.toStdString(),
         {0, "lamp system z2m added" + file + "\n"}},
        {"systems add wled http://10.0.0.9", {0, "lamp system wled added" + file + "\n"}},
        {"systems set z2m pace 3", {0, "lamp system z2m paced at 3" + file + "\n"}},
        {"systems set z2m offset -120", {0, "lamp system z2m offset by -120 ms" + file + "\n"}},
        {"systems set wled syncport 0", {0, "lamp system wled sends no sound sync" + file + "\n"}},
        {"systems set z2m syncport 5", {2, "glowcastctl systems: only a WLED system takes a sync port\n"}},
        {"systems set z3m pace 3",
         {1, "glowcastctl systems: there is no lamp system with the id \"z3m\"" + file + "\n"}},
        {"status",
         {0, "running: no\npaired: yes\nbridge: 10.0.0.9\nsystems: bridge-2 offline, z2m offline, wled offline\n"}},
        {"systems",
         {0, "bridge-2\tbridge\t" + second.address + offline + "z2m\tzigbee2mqtt\tmqtt://10.0.0.8/home" + offline +
                 "wled\twled\thttp://10.0.0.9" + offline}},
        {"lamps", {0, "1\ton\t\n2\ton\t\n3\ton\t\n4\ton\t\nz2m/0x01\ton\t\n"}}, // a system's saved lamps too
        {"lights --system bridge-2", {0, "1\tKüche\n2\tHall\n"}},
        {"lights --system z2m", {1, "glowcastctl lights: z2m is a zigbee2mqtt system, not a bridge\n"}},
        {"set --system bridge-3 1 255 0 0", {1, "glowcastctl set: there is no lamp system with the id \"bridge-3\"\n"}},
        {"set --system bridge-2 2 255 0 0", {0, "{\"bri\":255,\"xy\":[0.640,0.330]}\n"}},
    };
    EXPECT_EQ(ctl("systems add bridge " + second.address),
              (Answer{0, "lamp system bridge-2 added" + file + "; it is paired at the next start\n"}));
    const Answer paired = ctl("pair --system bridge-2"); // its link button is pressed a second later
    EXPECT_TRUE(paired.second.starts_with("paired with the bridge at " + second.address + "\n")) << paired.second;
    for (const auto& [line, expected] : steps)
        EXPECT_EQ(ctl(line), expected) << line;

    const QJsonObject preferences = config.preferences();
    const QString user = preferences["systems"][0]["user"].toString();
    EXPECT_FALSE(user.isEmpty());
    EXPECT_EQ(preferences["username"].toString(), "alice");
    EXPECT_EQ(second.requests("PUT"), std::vector<std::string>{"PUT /api/" + user.toStdString() +
                                                               R"(/lights/2/state {"bri":255,"xy":[0.640,0.330]})"});
    EXPECT_TRUE(sim.requests("PUT").empty()) << "the first bridge is not touched";
    const QString stored = config.file("systems/z2m.password");
    EXPECT_TRUE(QFile::exists(stored));
    EXPECT_FALSE(QJsonDocument(preferences).toJson().contains("hunter2"));
    EXPECT_EQ(
        QJsonDocument(preferences["systems"][1].toObject()).toJson(QJsonDocument::Compact),
        "{\"address\":\"mqtt://10.0.0.8/home\",\"id\":\"z2m\",\"kind\":\"zigbee2mqtt\",\"offset\":-120,\"pace\":3,"
        "\"user\":\"ann\"}");
    EXPECT_EQ(ctl("systems remove z2m").first, 0);
    EXPECT_FALSE(QFile::exists(stored)) << "the password goes with its system";
    EXPECT_EQ(config.savedLamps(), "1+ 2+ 3+ 4+ z2m/0x01+") << "its lamps' choices stay";

    // A Glowcast that quits while glowcastctl waits for its answer leaves the file to serve; a reply of
    // the wrong shape is an error, never read as another type.
    OddGlowcast odd;
    const std::tuple<const char*, const char*, int> rows[] = {
        {"lamps", "glowcastctl lamps: the running Glowcast answered Lamps with (s), not (a(ssb))\n", 1},
        {"config portal", "\\x1B[2Jportal\n", 0}, // escaped as the log escapes it
        {"status", "running: no\npaired: yes\nbridge: ", 0}};
    for (const auto& [command, output, exitCode] : rows) {
        { // held by name only, so that its disconnection closes it
            QDBusConnection stand = QDBusConnection::connectToBus(bus.address(), "odd");
            ASSERT_TRUE(stand.registerObject("/org/glowcast/Glowcast", &odd, QDBusConnection::ExportAllSlots));
            ASSERT_TRUE(stand.registerService("org.glowcast.Glowcast"));
        }
        Child run{GLOWCAST_CTL, words(command), environment};
        EXPECT_TRUE(run.waitForOutput(output)) << run.output().toStdString(); // the stand-in's calls come meanwhile
        EXPECT_EQ(run.exitCode(), exitCode);
        EXPECT_FALSE(run.output().contains("QDBus")) << "no Qt type warnings: " << run.output().toStdString();
        QDBusConnection::disconnectFromBus("odd");
    }
}

} // namespace
} // namespace glowcast::testing

#include "service_e2e_test.moc"
