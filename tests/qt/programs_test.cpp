// The programs as processes: every one's command line, and glowcastctl colours.

#undef QT_NO_CAST_FROM_ASCII // every text here is ASCII

#include "core/lamp_systems/system_kinds.h"
#include "support/processes.h"

#include <QFile>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

namespace {

using glowcast::testing::CommandRun;

CommandRun run(const char* program, const QStringList& arguments,
               const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment())
{
    return glowcast::testing::runProgram(QString::fromLatin1(program), arguments, environment);
}

// Each answers before it needs a display or a bus: none is there.
TEST(ProgramCommandLineTest, EveryProgramAnswersHelpAndVersionAndRefusesAnUnknownOptionInOneLine)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "DBUS_SESSION_BUS_ADDRESS"})
        environment.remove(name);
    const std::pair<std::string, const char*> programs[] = {{"glowcast", GLOWCAST_APP},
                                                            {"glowcastctl", GLOWCAST_CTL},
                                                            {"glowcast-bridge-sim", GLOWCAST_BRIDGE_SIM},
                                                            {"glowcast-zigbee2mqtt-sim", GLOWCAST_ZIGBEE2MQTT_SIM},
                                                            {"glowcast-wled-sim", GLOWCAST_WLED_SIM},
                                                            {"glowcast-post-cover", GLOWCAST_POST_COVER}};
    for (const auto& [name, path] : programs) {
        SCOPED_TRACE(name);
        const CommandRun help = run(path, {"--help"}, environment);
        EXPECT_EQ(help.exitCode, 0) << help.err;
        EXPECT_TRUE(help.out.starts_with("Usage: " + name + " [options]")) << help.out;
        EXPECT_NE(help.out.find("  --version   "), std::string::npos) << help.out;
        const CommandRun version = run(path, {"--version"}, environment);
        EXPECT_EQ(version.exitCode, 0);
        EXPECT_EQ(version.out, name + " " GLOWCAST_VERSION "\n");
        EXPECT_EQ(help.err + version.err, "");
        const CommandRun unknown = run(path, {"--no-such-option"}, environment);
        EXPECT_EQ(unknown.exitCode, 2);
        EXPECT_EQ(unknown.out, "");
        EXPECT_EQ(unknown.err, name + ": Unknown option 'no-such-option' (see " + name + " --help)\n");
    }
}

// Every command of glowcastctl reads its line alike: the same help, -v/--verbose, refusals in one
// line with exit status 2, and "-" with digits a value, never an option.
TEST(GlowcastctlCommandLineTest, EveryCommandAnswersHelpAlikeAndRefusesABadLineInOneLine)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("DBUS_SESSION_BUS_ADDRESS");
    environment.insert("GLOWCAST_CONFIG_DIR", "/nonexistent/glowcast-test");
    const auto ctl = [&](const QString& line) { return run(GLOWCAST_CTL, line.split(u' '), environment); };
    for (const char* command : {"decode", "colours", "discover", "pair", "lights", "set", "players", "lamps", "enable",
                                "disable", "status", "bridge", "config", "systems"}) {
        const CommandRun help = ctl(QString(command) + " -v --help");
        EXPECT_EQ(help.exitCode, 0) << command;
        EXPECT_TRUE(help.out.starts_with("Usage: glowcastctl " + std::string(command) + " [options]")) << help.out;
        EXPECT_NE(help.out.find("\n  -v, --verbose "), std::string::npos) << help.out;
    }
    std::ifstream table(GLOWCAST_TEST_DATA "/glowcastctl_refusals.tsv");
    int rows = 0;
    for (std::string row; std::getline(table, row);) {
        if (row.starts_with('#'))
            continue;
        ++rows;
        const std::string line = row.substr(0, row.find('\t')), message = row.substr(row.find('\t') + 1);
        const CommandRun refusal = ctl(QString::fromStdString(line));
        const std::string command = message.substr(0, message.find(':'));
        EXPECT_EQ(refusal.exitCode, 2) << line;
        EXPECT_EQ(refusal.err, "glowcastctl " + message + " (see glowcastctl " + command + " --help)\n");
        EXPECT_EQ(refusal.out, "");
    }
    EXPECT_EQ(rows, 10);
}

// glowcastctl offers the kinds of the core's table, one "systems add" entry each, in its order.
TEST(GlowcastctlSystemsTest, UsageOffersTheKindsOfTheTable)
{
    const CommandRun help = run(GLOWCAST_CTL, {"systems", "--help"});
    std::vector<std::string> offered, names;
    std::istringstream lines(help.out);
    for (std::string line; std::getline(lines, line);)
        if (line.starts_with("  systems add "))
            offered.push_back(line.substr(14, line.find(' ', 14) - 14));
    for (const glowcast::SystemKindRow& row : glowcast::systemKinds())
        names.emplace_back(row.name);
    EXPECT_EQ(offered, names);
}

// Half red, a quarter green and a quarter blue: three colours, one of them corrected. A cover that is
// missing or does not decode fails with a message.
TEST(GlowcastctlColoursTest, PrintsEachLampsColourBrightnessAndChromaticityOrWhyNot)
{
    QTemporaryDir directory;
    const QString cover = directory.filePath("cover.png");
    const QString preview = directory.filePath("preview.png");
    QImage image(80, 80, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.fillRect(0, 0, 40, 80, QColor(255, 0, 0));
    painter.fillRect(40, 0, 20, 80, QColor(0, 160, 0));
    painter.fillRect(60, 0, 20, 80, QColor(0, 0, 160));
    painter.end();
    ASSERT_TRUE(image.save(cover, "png"));
    const CommandRun colours = run(GLOWCAST_CTL, {"colours", cover, "4", "--preview", preview});
    ASSERT_EQ(colours.exitCode, 0) << colours.err;
    EXPECT_EQ(colours.err, "") << "log lines only with -v";
    EXPECT_EQ(colours.out, " #  hex      red    green  blue   bri  xy             correction\n"
                           " 1  #ff0000  1.000  0.000  0.000  255  [0.640,0.330]  none\n"
                           " 2  #009f00  0.000  0.625  0.000   80  [0.410,0.510]  green\n"
                           " 3  #00009f  0.000  0.000  0.625   80  [0.150,0.060]  none\n"
                           " 4  #ff0000  1.000  0.000  0.000  255  [0.640,0.330]  none\n");
    const QImage shown(preview);
    EXPECT_EQ(shown.size(), QSize(448, 320));
    EXPECT_EQ(shown.pixelColor(10, 10), QColor(255, 0, 0));
    EXPECT_EQ(shown.pixelColor(380, 64 + 32), QColor(0, 159, 0));

    QFile bad(directory.filePath("bad.jpg"));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly) && bad.write("\xFF\xD8\xFF\xE0 not really a picture") > 0);
    bad.close();
    for (const auto& [name, reason] :
         {std::pair{"missing.jpg", "there is no such file"},
          {"bad.jpg", "cannot use this cover (the jpeg cover is cut short: it has no end-of-image marker)"}}) {
        const QString path = directory.filePath(QLatin1String(name));
        const CommandRun refused = run(GLOWCAST_CTL, {"colours", path});
        EXPECT_EQ(refused.exitCode, 1);
        EXPECT_EQ(refused.err, "glowcastctl colours: " + path.toStdString() + ": " + reason + "\n");
        EXPECT_EQ(refused.out, "");
    }
}

} // namespace
