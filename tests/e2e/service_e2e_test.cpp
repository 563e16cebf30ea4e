// Glowcast as a service: glowcast --headless under a private session bus with the simulator, a
// notification server of the test's own, glowcastctl through the bus and through the file, a second
// instance, and a caller running as another user.

#include "support/private_session_bus.h"
#include "support/processes.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QTimer>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <tuple>

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
    QString Lamps() { return QStringLiteral("a text where the lamps should be"); }
    QVariantMap Settings() { return {{QStringLiteral("portal"), QStringLiteral("\x1b[2Jportal")}}; }
    void Status(const QDBusMessage& call)
    {
        call.setDelayedReply(true);
        QTimer::singleShot(0, [] { QDBusConnection::disconnectFromBus(QStringLiteral("odd")); });
    }
};

namespace {

const QByteArray kListening = "registering for notifications";

// A session bus that lets every user connect (the caller of another user must reach the program to
// be refused by it), listening in a directory every user may enter.
QStringList openBusConfiguration(const QTemporaryDir& directory)
{
    QFile::setPermissions(directory.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ExeOther);
    QFile file(directory.filePath(QStringLiteral("bus.conf")));
    if (file.open(QIODevice::WriteOnly))
        file.write(QStringLiteral("<busconfig><type>session</type><listen>unix:dir=%1</listen><auth>EXTERNAL</auth>"
                                  "<policy context=\"default\"><allow user=\"*\"/><allow send_destination=\"*\"/>"
                                  "<allow receive_sender=\"*\"/><allow own=\"*\"/></policy></busconfig>")
                       .arg(directory.path())
                       .toUtf8());
    return {QStringLiteral("--config-file=") + file.fileName()};
}

class ServiceEndToEndTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(bus.address().isEmpty()) << "no private session bus";
        ASSERT_FALSE(sim.address.empty()) << "the simulator did not start";
        environment = programEnvironment(bus.address(), config.path());
        environment.remove(QStringLiteral("QT_QPA_PLATFORM")); // the service needs no display at all
    }
    void TearDown() override { QDBusConnection::disconnectFromBus(QStringLiteral("test")); }

    std::unique_ptr<Child> headless()
    {
        return std::make_unique<Child>(QStringLiteral(GLOWCAST_APP), QStringList{QStringLiteral("--headless")},
                                       environment);
    }
    // glowcastctl's exit code and output.
    std::pair<int, std::string> ctl(const QStringList& arguments)
    {
        const CommandRun run = runProgram(QStringLiteral(GLOWCAST_CTL), arguments, environment);
        return {run.exitCode, run.out + run.err};
    }
    bool postCover(const QColor& colour)
    {
        return Child(QStringLiteral(GLOWCAST_POST_COVER), {config.flatCover(colour)}, environment).exitCode() == 0;
    }

    ConfigDirectory config;
    QTemporaryDir busDirectory;
    PrivateSessionBus bus{openBusConfiguration(busDirectory)};
    Simulator sim{words("--lamps 3 --user alice --press-after 1")};
    QProcessEnvironment environment;
};

TEST_F(ServiceEndToEndTest, HeadlessPairsByNotificationTakesControlCallsAloneFollowsCoversAndSavesOnSigterm)
{
    QDBusConnection test = QDBusConnection::connectToBus(bus.address(), QStringLiteral("test"));
    NotificationServer server;
    ASSERT_TRUE(test.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &server,
                                    QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(test.registerService(QStringLiteral("org.freedesktop.Notifications")));
    config.write(R"({"lastusedbridgeIP":")" + sim.address +
                 R"(","lamps":[{"id":"1","name":"Lamp 1","enabled":true}]})");

    const auto app = headless(); // no user name yet: it pairs
    ASSERT_TRUE(app->waitForOutput(kListening, 60'000)) << app->output().toStdString();
    EXPECT_EQ(server.shown, QStringList{QStringLiteral("Press the link button on your lighting bridge")});
    EXPECT_TRUE(waitFor([&] { return server.closed == 1; }, 5'000));
    QFile maps(QStringLiteral("/proc/%1/maps").arg(app->pid()));
    ASSERT_TRUE(maps.open(QIODevice::ReadOnly));
    const QByteArray mapped = maps.readAll();
    EXPECT_TRUE(mapped.contains("libQt6Core")) << "the right process";
    EXPECT_FALSE(mapped.contains("libQt6Widgets"));

    EXPECT_EQ(ctl(words("enable 3")), (std::pair<int, std::string>{0, "lamp 3 on in the running Glowcast\n"}));
    // A second instance, windowed or not, says so and ends before it reads the preferences; a caller
    // running as another user is refused.
    const QByteArray before = QJsonDocument(config.preferences()).toJson();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen")); // for the window's
    for (const QStringList& arguments : {QStringList{QStringLiteral("--headless")}, QStringList{}}) {
        Child second{QStringLiteral(GLOWCAST_APP), arguments, environment};
        EXPECT_EQ(second.exitCode(), 3);
        EXPECT_TRUE(second.output().contains("Glowcast is already running")) << second.output().toStdString();
        EXPECT_FALSE(second.output().contains("preferences: using"));
    }
    EXPECT_EQ(QJsonDocument(config.preferences()).toJson(), before);
    if (::geteuid() == 0) {
        Child stranger{
            QStringLiteral("setpriv"),
            words("--reuid=65534 --regid=65534 --clear-groups gdbus call --session --dest org.glowcast.Glowcast "
                  "--object-path /org/glowcast/Glowcast --method org.glowcast.Control1.Disable 3"),
            environment};
        EXPECT_NE(stranger.exitCode(), 0);
        EXPECT_TRUE(stranger.output().contains("org.freedesktop.DBus.Error.AccessDenied")) << stranger.output().data();
    }
    EXPECT_EQ(ctl(words("lamps")).second, "1\ton\tLamp 1\n2\toff\tLamp 2\n3\ton\tLamp 3\n");
    sim.control(HttpMethod::Delete, "/sim/requests");
    ASSERT_TRUE(postCover(QColor(255, 0, 0)));
    EXPECT_TRUE(pollFor([&] { return sim.requests(QStringLiteral("PUT")).size() >= 2; }));
    EXPECT_EQ(sim.requests(QStringLiteral("PUT")).back(),
              "PUT /api/" + config.preferences()[QStringLiteral("username")].toString().toStdString() +
                  "/lights/3/state {\"bri\":255,\"xy\":[0.640,0.330]}");
    EXPECT_NE(ctl(words("status")).second.find("colours: #ff0000 #ff0000\n"), std::string::npos);

    app->signal(SIGTERM);
    EXPECT_EQ(app->exitCode(), 0);
    EXPECT_EQ(config.savedLamps(), "1+ 2- 3+");
    EXPECT_EQ(ctl(words("disable 1")).first, 0) << "through the file now";
    EXPECT_EQ(config.savedLamps(), "1- 2- 3+");
}

// A flat azure cover: the classic palette sends the fixed blue it snaps every blue-ish colour to;
// after glowcastctl chooses the vivid palette on the running service, the next cover sends the
// azure's own chromaticity (0, 128, 255 works out at x 0.176, y 0.155) at full brightness.
TEST_F(ServiceEndToEndTest, AFlatAzureCoverKeepsItsOwnChromaticityOnceThePaletteIsVivid)
{
    config.writePaired(sim.address, "1+");
    const auto app = headless();
    ASSERT_TRUE(app->waitForOutput(kListening, 60'000)) << app->output().toStdString();
    const std::string put = "PUT /api/alice/lights/1/state ";
    ASSERT_TRUE(postCover(QColor(0, 128, 255)));
    ASSERT_TRUE(pollFor([&] { return !sim.requests(QStringLiteral("PUT")).empty(); }));
    EXPECT_EQ(sim.requests(QStringLiteral("PUT")).back(), put + R"({"bri":128,"xy":[0.198,0.101]})");

    EXPECT_EQ(ctl(words("config palette vivid")).first, 0);
    sim.control(HttpMethod::Delete, "/sim/requests");
    ASSERT_TRUE(postCover(QColor(0, 128, 255)));
    ASSERT_TRUE(pollFor([&] { return !sim.requests(QStringLiteral("PUT")).empty(); }));
    EXPECT_EQ(sim.requests(QStringLiteral("PUT")).back(), put + R"({"bri":254,"xy":[0.176,0.155]})");
    EXPECT_EQ(ctl({QStringLiteral("colours"), config.flatCover(QColor(0, 128, 255)), QStringLiteral("1"),
                   QStringLiteral("--json")}),
              (std::pair<int, std::string>{0, R"([{"hex":"#0080ff","bri":254,"xy":[0.176,0.155]}])"
                                              "\n"}));
}

TEST_F(ServiceEndToEndTest, GlowcastctlBridgeLetsAServiceThatFoundNoBridgeSetItselfUp)
{
    config.write(R"({"username":"alice"})");
    const auto app = headless();
    ASSERT_TRUE(app->waitForOutput("glowcastctl bridge ADDRESS")) << app->output().toStdString();
    EXPECT_TRUE(app->output().contains("alert: Unable to find IP of bridge: Have tried to discover"));
    EXPECT_EQ(ctl({QStringLiteral("bridge"), QStringLiteral("not an address")}).first, 2);
    EXPECT_EQ(ctl({QStringLiteral("bridge"), QString::fromStdString(sim.address)}).first, 0);
    ASSERT_TRUE(app->waitForOutput(kListening)) << app->output().toStdString();
    EXPECT_EQ(ctl(words("config lastusedbridgeIP")).second, sim.address + "\n");
}

TEST_F(ServiceEndToEndTest, WithoutGlowcastConcurrentGlowcastctlEditsOfTheFileAllLand)
{
    config.writePaired(sim.address, "1- 2- 3- 4- 5- 6-");
    std::vector<std::unique_ptr<Child>> runs;
    for (const char* line : {"enable 1", "enable 2", "enable 3", "enable 4", "enable 5", "enable 6", "bridge 10.0.0.9"})
        runs.push_back(std::make_unique<Child>(QStringLiteral(GLOWCAST_CTL), words(line), environment));
    for (const auto& run : runs)
        EXPECT_EQ(run->exitCode(30'000), 0) << run->output().toStdString();
    EXPECT_EQ(config.savedLamps(), "1+ 2+ 3+ 4+ 5+ 6+");
    EXPECT_EQ(config.preferences()[QStringLiteral("lastusedbridgeIP")].toString(), QStringLiteral("10.0.0.9"));
    EXPECT_EQ(config.preferences()[QStringLiteral("username")].toString(), QStringLiteral("alice"));
    EXPECT_EQ(ctl(words("config followplayers maybe")).first, 2);
    EXPECT_EQ(ctl(words("enable 9")).first, 1);
}

// Without Glowcast, glowcastctl systems edits the preferences file under its lock: the program picks
// the ids, the broker's password goes to its own 0600 file and nowhere else, and each refusal has its
// exit status.
TEST_F(ServiceEndToEndTest, WithoutGlowcastSystemsAreAddedPacedAndRemovedInTheFile)
{
    config.writePaired(sim.address, "1+ z2m/0x01+");
    QFile secret(config.file(QStringLiteral("secret")));
    ASSERT_TRUE(secret.open(QIODevice::WriteOnly) && secret.write("hunter2\n") == 8);
    secret.close();
    const std::string dir = config.path().toStdString();
    const std::pair<std::string, std::pair<int, std::string>> steps[] = {
        {"systems add bridge 10.0.0.7:8080",
         {0, "lamp system bridge-2 added in " + dir +
                 "/preferences.json (Glowcast is not running); it is paired "
                 "at the next start\n"}},
        {"systems add zigbee2mqtt mqtt://10.0.0.8/home --user ann --password-file " + secret.fileName().toStdString(),
         {0, "lamp system z2m added in " + dir + "/preferences.json (Glowcast is not running)\n"}},
        {"systems add zigbee2mqtt 10.0.0.8",
         {2, "glowcastctl systems: \"10.0.0.8\" is not a broker's address mqtt://HOST[:PORT][/BASE_TOPIC] (such as "
             "mqtt://192.168.1.5 or mqtt://broker.local:1884/zigbee2mqtt)\n"}},
        {"systems add zigbee2mqtt mqtt://h --password-file " + secret.fileName().toStdString(),
         {2, "glowcastctl systems: --password-file needs --user: a broker takes a password with a user (see "
             "glowcastctl systems --help)\n"}},
        {"systems add wled http://10.0.0.9",
         {0, "lamp system wled added in " + dir + "/preferences.json (Glowcast is not running)\n"}},
        {"systems set z2m pace 3",
         {0, "lamp system z2m paced at 3 in " + dir + "/preferences.json (Glowcast is not running)\n"}},
        {"systems set z2m pace 0",
         {2, "glowcastctl systems: a pace is 1 to 1000 lamp states a second, or \"default\" for the kind's own\n"}},
        {"systems set z3m pace 3",
         {1, "glowcastctl systems: there is no lamp system with the id \"z3m\" in " + dir +
                 "/preferences.json (Glowcast is not running)\n"}},
        {"status",
         {0, "running: no\npaired: yes\nbridge: " + sim.address +
                 "\nsystems: bridge-2 offline, z2m offline, wled offline\n"}},
        {"systems",
         {0, "bridge-2\tbridge\t10.0.0.7:8080\toffline (Glowcast is not running)\n"
             "z2m\tzigbee2mqtt\tmqtt://10.0.0.8/home\toffline (Glowcast is not running)\n"
             "wled\twled\thttp://10.0.0.9\toffline (Glowcast is not running)\n"}},
    };
    for (const auto& [line, expected] : steps)
        EXPECT_EQ(ctl(words(line.c_str())), expected) << line;
    const QString stored = config.file(QStringLiteral("systems/z2m.password"));
    struct stat status {};
    ASSERT_EQ(::stat(stored.toUtf8().constData(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
    const QJsonObject preferences = config.preferences();
    const QByteArray text = QJsonDocument(preferences).toJson();
    EXPECT_FALSE(text.contains("hunter2"));
    EXPECT_EQ(preferences[QStringLiteral("systems")].toArray().at(1).toObject(),
              (QJsonObject{{QStringLiteral("id"), QStringLiteral("z2m")},
                           {QStringLiteral("kind"), QStringLiteral("zigbee2mqtt")},
                           {QStringLiteral("address"), QStringLiteral("mqtt://10.0.0.8/home")},
                           {QStringLiteral("pace"), 3},
                           {QStringLiteral("user"), QStringLiteral("ann")}}));
    EXPECT_EQ(ctl(words("lamps")).second, "1\ton\t\nz2m/0x01\ton\t\n") << "a system's saved lamps are listed too";
    EXPECT_EQ(ctl(words("systems remove z2m")).first, 0);
    EXPECT_FALSE(QFile::exists(stored)) << "the password goes with its system";
    EXPECT_EQ(config.savedLamps(), "1+ z2m/0x01+") << "its lamps' choices stay";
}

// pair, lights and set act on a further bridge with --system: its address, and its own user name,
// which pairing stores in its record and never over the first bridge's.
TEST_F(ServiceEndToEndTest, BridgeCommandsReachAFurtherBridgeByItsSystemId)
{
    Simulator second{words("--lamps 2 --press-after 1")};
    config.write(R"({"username":"alice","lastusedbridgeIP":")" + sim.address +
                 R"(","systems":[{"id":"bridge-2","kind":"bridge","address":")" + second.address +
                 R"("},{"id":"z2m","kind":"zigbee2mqtt","address":"mqtt://127.0.0.1"}]})");
    const std::pair<std::string, std::pair<int, std::string>> steps[] = {
        {"lights --system bridge-2", {0, "1\tLamp 1\n2\tLamp 2\n"}},
        {"lights --system z2m", {1, "glowcastctl lights: z2m is a zigbee2mqtt system, not a bridge\n"}},
        {"set --system bridge-3 1 255 0 0", {1, "glowcastctl set: there is no lamp system with the id \"bridge-3\"\n"}},
    };
    const auto paired = ctl(words("pair --system bridge-2")); // its link button is pressed a second later
    EXPECT_EQ(paired.first, 0);
    EXPECT_TRUE(paired.second.starts_with("paired with the bridge at " + second.address + "\n")) << paired.second;
    for (const auto& [line, expected] : steps)
        EXPECT_EQ(ctl(words(line.c_str())), expected) << line;
    const QJsonObject preferences = config.preferences();
    const QString user = preferences[QStringLiteral("systems")].toArray().at(0)[QStringLiteral("user")].toString();
    EXPECT_FALSE(user.isEmpty());
    EXPECT_EQ(preferences[QStringLiteral("username")].toString(), QStringLiteral("alice"));
    EXPECT_EQ(ctl(words("set --system bridge-2 2 255 0 0")).first, 0);
    EXPECT_EQ(second.requests(QStringLiteral("PUT")),
              std::vector<std::string>{"PUT /api/" + user.toStdString() +
                                       R"(/lights/2/state {"bri":255,"xy":[0.640,0.330]})"});
    EXPECT_TRUE(sim.requests(QStringLiteral("PUT")).empty()) << "the first bridge is not touched";
}

// With Glowcast running, glowcastctl systems goes over the control interface: a bridge added pairs
// while the first bridge's lamps stay, its lamps join the table by SYSTEM/KEY, a broker's password
// reaches its own file and never the log, and a removed system takes its password file along.
TEST_F(ServiceEndToEndTest, WithGlowcastRunningSystemsComeAndGoAndTheirLampsJoinTheTable)
{
    Simulator second{words("--lamps 2 --press-after 1")};
    config.writePaired(sim.address, "1+");
    QFile secret(config.file(QStringLiteral("secret")));
    ASSERT_TRUE(secret.open(QIODevice::WriteOnly) && secret.write("hunter2\n") == 8);
    secret.close();
    const auto app = headless();
    ASSERT_TRUE(app->waitForOutput(kListening, 60'000)) << app->output().toStdString();

    EXPECT_EQ(ctl({QStringLiteral("systems"), QStringLiteral("add"), QStringLiteral("bridge"),
                   QString::fromStdString(second.address)}),
              (std::pair<int, std::string>{0, "lamp system bridge-2 added in the running Glowcast\n"}));
    const std::string ready = "bridge-2\tbridge\t" + second.address + "\tready";
    EXPECT_TRUE(pollFor([&] { return ctl(words("systems")).second.starts_with(ready); }, 20'000))
        << ctl(words("systems")).second;
    EXPECT_TRUE(pollFor([&] { return ctl(words("lamps")).second.find("bridge-2/2") != std::string::npos; }, 10'000));
    const std::pair<std::string, std::pair<int, std::string>> steps[] = {
        {"enable bridge-2/2", {0, "lamp bridge-2/2 on in the running Glowcast\n"}},
        {"lamps",
         {0, "1\ton\tLamp 1\n2\toff\tLamp 2\n3\toff\tLamp 3\nbridge-2/1\toff\tLamp 1\n"
             "bridge-2/2\ton\tLamp 2\n"}},
        {"systems add zigbee2mqtt mqtt://127.0.0.1:1 --user ann --password-file " + secret.fileName().toStdString(),
         {0, "lamp system z2m added in the running Glowcast\n"}},
        {"systems add bridge " + second.address, {0, "lamp system bridge-3 added in the running Glowcast\n"}},
        {"systems set z2m pace 2", {0, "lamp system z2m paced at 2 in the running Glowcast\n"}},
        {"systems set z9 pace 2", {1, "glowcastctl systems: there is no lamp system with the id \"z9\"\n"}},
        {"enable bridge-9/1", {1, "glowcastctl enable: there is no lamp with the id \"bridge-9/1\"\n"}},
    };
    for (const auto& [line, expected] : steps)
        EXPECT_EQ(ctl(words(line.c_str())), expected) << line;
    const QString password = config.file(QStringLiteral("systems/z2m.password"));
    EXPECT_TRUE(QFile::exists(password));
    EXPECT_TRUE(pollFor(
        [&] {
            return ctl(words("systems")).second.find("\nbridge-3\tbridge\t" + second.address + "\trefused") !=
                   std::string::npos;
        },
        10'000))
        << "the same bridge twice: " << ctl(words("systems")).second;
    EXPECT_NE(ctl(words("status")).second.find("\nsystems: bridge-2 ready, z2m "), std::string::npos);
    EXPECT_EQ(ctl(words("systems remove z2m")).first, 0);
    EXPECT_FALSE(QFile::exists(password));
    EXPECT_EQ(ctl(words("systems remove bridge-3")).first, 0);
    app->signal(SIGTERM);
    EXPECT_EQ(app->exitCode(), 0);
    EXPECT_FALSE(app->output().contains("hunter2"));
    EXPECT_EQ(config.savedLamps(), "1+ 2- 3- bridge-2/1- bridge-2/2+");
    EXPECT_EQ(ctl(words("systems")).second,
              "bridge-2\tbridge\t" + second.address + "\toffline (Glowcast is not running)\n");
}

// A Glowcast that quits while glowcastctl waits for its answer leaves the file to serve; a reply of
// the wrong shape is an error, never read as another type.
TEST_F(ServiceEndToEndTest, GlowcastctlMeetingAQuittingOrOddServiceFailsCleanlyOrFallsBack)
{
    config.writePaired(sim.address, "1+");
    OddGlowcast odd;
    const std::tuple<const char*, const char*, int> rows[] = {
        {"lamps", "glowcastctl lamps: the running Glowcast answered Lamps with (s), not (a(ssb))\n", 1},
        {"config portal", "\\x1B[2Jportal\n", 0}, // escaped as the log escapes it
        {"status", "running: no\npaired: yes\nbridge: ", 0}};
    for (const auto& [command, output, status] : rows) {
        { // held by name only, so that its disconnection closes it
            QDBusConnection stand = QDBusConnection::connectToBus(bus.address(), QStringLiteral("odd"));
            ASSERT_TRUE(
                stand.registerObject(QStringLiteral("/org/glowcast/Glowcast"), &odd, QDBusConnection::ExportAllSlots));
            ASSERT_TRUE(stand.registerService(QStringLiteral("org.glowcast.Glowcast")));
        }
        Child run{QStringLiteral(GLOWCAST_CTL), words(command), environment};
        EXPECT_TRUE(run.waitForOutput(output)) << run.output().toStdString(); // the stand-in's calls come meanwhile
        EXPECT_EQ(run.exitCode(), status);
        EXPECT_FALSE(run.output().contains("QDBus")) << "no Qt type warnings: " << run.output().toStdString();
        QDBusConnection::disconnectFromBus(QStringLiteral("odd"));
    }
}

} // namespace
} // namespace glowcast::testing

#include "service_e2e_test.moc"
