#include "support/processes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>

namespace {

using glowcast::testing::CommandRun;

struct Program {
    std::string name;
    const char* path;
};

enum class Asked { Help, Version, UnknownOption };

const Program kPrograms[] = {{"glowcast", GLOWCAST_APP},
                             {"glowcastctl", GLOWCAST_CTL},
                             {"glowcast-bridge-sim", GLOWCAST_BRIDGE_SIM},
                             {"glowcast-post-cover", GLOWCAST_POST_COVER}};

class ProgramCommandLineTest : public ::testing::TestWithParam<std::tuple<Program, Asked>> {};

// Each answers before it needs a display or a bus: none is there.
TEST_P(ProgramCommandLineTest, AnswersOrRefusesInOneLine)
{
    const auto& [program, asked] = GetParam();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "DBUS_SESSION_BUS_ADDRESS"})
        environment.remove(QString::fromLatin1(name));
    const char* word = asked == Asked::Help ? "--help" : asked == Asked::Version ? "--version" : "--no-such-option";
    const CommandRun run =
        glowcast::testing::runProgram(QString::fromLatin1(program.path), {QString::fromLatin1(word)}, environment);
    switch (asked) {
    case Asked::Help:
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_TRUE(run.out.starts_with("Usage: " + program.name + " [options]")) << run.out;
        EXPECT_NE(run.out.find("  --version   "), std::string::npos) << run.out;
        EXPECT_EQ(run.err, "");
        break;
    case Asked::Version:
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(run.out, program.name + " " GLOWCAST_VERSION "\n");
        EXPECT_EQ(run.err, "");
        break;
    case Asked::UnknownOption:
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, program.name + ": Unknown option 'no-such-option' (see " + program.name + " --help)\n");
        break;
    }
}

std::string caseName(const ::testing::TestParamInfo<std::tuple<Program, Asked>>& info)
{
    const auto& [program, asked] = info.param;
    std::string name = program.name + (asked == Asked::Help      ? "_help"
                                       : asked == Asked::Version ? "_version"
                                                                 : "_unknown_option");
    std::replace(name.begin(), name.end(), '-', '_');
    return name;
}

INSTANTIATE_TEST_SUITE_P(EveryProgram, ProgramCommandLineTest,
                         ::testing::Combine(::testing::ValuesIn(kPrograms),
                                            ::testing::Values(Asked::Help, Asked::Version, Asked::UnknownOption)),
                         caseName);

} // namespace
