#include "adapters/file_preferences.h"
#include "fakes/recording_log.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

namespace glowcast {
namespace {

namespace fs = std::filesystem;

std::string readAll(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeAll(const fs::path& path, std::string_view bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

mode_t modeOf(const fs::path& path)
{
    struct stat status {};
    EXPECT_EQ(::stat(path.c_str(), &status), 0) << path;
    return status.st_mode & 07777;
}

// The names in directory that start with prefix.
std::vector<std::string> namesStartingWith(const fs::path& directory, std::string_view prefix)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(directory))
        if (entry.path().filename().string().starts_with(prefix))
            names.push_back(entry.path().filename().string());
    return names;
}

bool logHas(const RecordingLog& log, std::string_view part)
{
    return std::any_of(log.lines.begin(), log.lines.end(),
                       [&](const std::string& line) { return line.find(part) != std::string::npos; });
}

class FilePreferencesTest : public ::testing::Test {
protected:
    QTemporaryDir temporary;
    fs::path directory = fs::path{temporary.path().toStdString()} / "config" / "glowcast";
    fs::path file = directory / "preferences.json";
    RecordingLog log;

    void SetUp() override { ASSERT_TRUE(temporary.isValid()); }
    void makeDirectory() { fs::create_directories(directory); }
};

TEST_F(FilePreferencesTest, AbsentFileReadsAsNothingAndIsNotCreatedByReading)
{
    FilePreferences preferences{log, directory};
    EXPECT_EQ(preferences.text("username"), std::nullopt);
    EXPECT_EQ(preferences.lamps(), std::nullopt);
    EXPECT_FALSE(fs::exists(directory));
}

TEST_F(FilePreferencesTest, WritesReachTheFileAndANewReaderOwnerOnly)
{
    {
        FilePreferences preferences{log, directory};
        preferences.setText("username", "b4e1c0ffee");
        preferences.setText("lastusedbridgeIP", "192.168.1.20");
        preferences.setLamps({{"1", "Desk", true}, {"2", "Hall", false}});
        EXPECT_EQ(preferences.text("username"), "b4e1c0ffee");
    }
    EXPECT_EQ(modeOf(file), 0600u);
    EXPECT_EQ(modeOf(directory), 0700u);
    EXPECT_EQ(modeOf(directory.parent_path()), 0700u);

    FilePreferences again{log, directory};
    EXPECT_EQ(again.text("username"), "b4e1c0ffee");
    EXPECT_EQ(again.text("lastusedbridgeIP"), "192.168.1.20");
    const std::vector<LampEntry> expected{{"1", "Desk", true}, {"2", "Hall", false}};
    EXPECT_EQ(again.lamps(), expected);
    // No temporary file is left beside the document.
    EXPECT_EQ(namesStartingWith(directory, ""), std::vector<std::string>{"preferences.json"});
}

TEST_F(FilePreferencesTest, FileHoldsTheDocumentedShape)
{
    FilePreferences preferences{log, directory};
    preferences.setText("username", "alice");
    preferences.setLamps({{"3", "Lamp \"3\"", true}});
    const QJsonDocument written = QJsonDocument::fromJson(QByteArray::fromStdString(readAll(file)));
    const QJsonObject expected{
        {QStringLiteral("username"), QStringLiteral("alice")},
        {QStringLiteral("lamps"), QJsonArray{QJsonObject{{QStringLiteral("id"), QStringLiteral("3")},
                                                         {QStringLiteral("name"), QStringLiteral("Lamp \"3\"")},
                                                         {QStringLiteral("enabled"), true}}}}};
    EXPECT_EQ(written.object(), expected);
}

TEST_F(FilePreferencesTest, RemovingATextAndAnEmptySelection)
{
    FilePreferences preferences{log, directory};
    preferences.setText("username", "alice");
    preferences.setText("username", std::nullopt);
    preferences.setLamps({});
    FilePreferences again{log, directory};
    EXPECT_EQ(again.text("username"), std::nullopt);
    EXPECT_EQ(again.lamps(), std::vector<LampEntry>{});
}

TEST_F(FilePreferencesTest, AnExistingLooserFileBecomesOwnerOnly)
{
    makeDirectory();
    writeAll(file, R"({"username":"alice"})");
    ::chmod(file.c_str(), 0644);
    FilePreferences preferences{log, directory};
    preferences.setText("lastusedbridgeIP", "10.0.0.2");
    EXPECT_EQ(modeOf(file), 0600u);
    EXPECT_EQ(preferences.text("username"), "alice");
}

TEST_F(FilePreferencesTest, RecordsReadAsTheSelectionExpects)
{
    makeDirectory();
    writeAll(file, R"({"lamps":[
        {"id":"1","name":"Desk","enabled":true},
        {"id":"2","name":"Hall"},
        {"id":"3","name":"Porch","enabled":"yes"},
        {"name":"no id","enabled":true},
        {"id":7,"name":"numeric id","enabled":true},
        "not a record",
        {"id":"4","enabled":true},
        {"id":"5","name":["x"],"enabled":false}
    ]})");
    FilePreferences preferences{log, directory};
    const std::vector<LampEntry> expected{
        {"1", "Desk", true}, {"2", "Hall", false}, {"3", "Porch", false}, {"4", "", true}, {"5", "", false}};
    EXPECT_EQ(preferences.lamps(), expected);
    // A missing "enabled" is an ordinary disabled lamp; every other oddity is logged when the file is read.
    EXPECT_FALSE(logHas(log, "record 1 "));
    EXPECT_TRUE(logHas(log, "preferences: lamp record 2 (id \"3\") has an \"enabled\" that is not true or false; "
                            "it reads as disabled"));
    EXPECT_TRUE(logHas(log, "preferences: lamp record 3 has no text \"id\"; left out"));
    EXPECT_TRUE(logHas(log, "preferences: lamp record 4 has no text \"id\"; left out"));
    EXPECT_TRUE(logHas(log, "preferences: lamp record 5 is not an object; left out"));
    EXPECT_TRUE(logHas(log, "preferences: lamp record 7 (id \"5\") has a \"name\" that is not a text"));
    // Reading is not changing: the file stays as it was.
    EXPECT_TRUE(namesStartingWith(directory, "preferences.json.corrupt").empty());
}

TEST_F(FilePreferencesTest, MembersOfTheWrongKindReadAsAbsentAndAreKeptUntilReplaced)
{
    makeDirectory();
    writeAll(file, R"({"username":42,"lamps":{"1":true},"lastusedbridgeIP":"10.0.0.2","theme":"dark"})");
    FilePreferences preferences{log, directory};
    EXPECT_EQ(preferences.text("username"), std::nullopt);
    EXPECT_EQ(preferences.lamps(), std::nullopt);
    EXPECT_TRUE(logHas(log, "preferences: \"username\" is not a text; it reads as absent"));
    EXPECT_TRUE(logHas(log, "preferences: \"lamps\" is not a list; it reads as absent"));

    preferences.setText("username", "alice");
    const QJsonObject written = QJsonDocument::fromJson(QByteArray::fromStdString(readAll(file))).object();
    EXPECT_EQ(written.value(QStringLiteral("username")).toString(), QStringLiteral("alice"));
    EXPECT_EQ(written.value(QStringLiteral("theme")).toString(), QStringLiteral("dark"));
    EXPECT_TRUE(written.value(QStringLiteral("lamps")).isObject());
}

TEST_F(FilePreferencesTest, TheLampsKeyIsNotATextToOverwrite)
{
    FilePreferences preferences{log, directory};
    preferences.setLamps({{"1", "Desk", true}});
    preferences.setText("lamps", "oops");
    EXPECT_EQ(preferences.lamps(), (std::vector<LampEntry>{{"1", "Desk", true}}));
    EXPECT_TRUE(logHas(log, "not changed"));
}

struct UnreadableCase {
    const char* label;
    std::string bytes;
};

class UnreadableFileTest : public FilePreferencesTest, public ::testing::WithParamInterface<UnreadableCase> {};

TEST_P(UnreadableFileTest, IsKeptAsideByteForByteAndTheProgramGoesOn)
{
    makeDirectory();
    writeAll(file, GetParam().bytes);
    FilePreferences preferences{log, directory};
    EXPECT_EQ(preferences.text("username"), std::nullopt);
    EXPECT_EQ(preferences.lamps(), std::nullopt);

    const auto aside = namesStartingWith(directory, "preferences.json.corrupt-");
    ASSERT_EQ(aside.size(), 1u);
    EXPECT_EQ(readAll(directory / aside.front()), GetParam().bytes);
    EXPECT_TRUE(logHas(log, "preferences: could not read " + file.string()));
    EXPECT_TRUE(logHas(log, "kept it aside as " + (directory / aside.front()).string()));

    // A later save makes a fresh file and leaves the kept copy alone.
    preferences.setText("username", "alice");
    EXPECT_EQ(readAll(directory / aside.front()), GetParam().bytes);
    EXPECT_EQ(FilePreferences(log, directory).text("username"), "alice");
}

INSTANTIATE_TEST_SUITE_P(
    Bytes, UnreadableFileTest,
    ::testing::Values(UnreadableCase{"Truncated", R"({"username":"alice","lamps":[{"id":"1")"},
                      UnreadableCase{"Empty", ""}, UnreadableCase{"AList", R"([{"id":"1"}])"},
                      UnreadableCase{"NotText", std::string("\x89PNG\r\n\x1a\n\0\0\0", 11)},
                      UnreadableCase{"TrailingGarbage", R"({"username":"alice"} and more)"},
                      UnreadableCase{"Oversized", "{\"x\":\"" + std::string(5 * 1024 * 1024, 'a') + "\"}"}),
    [](const ::testing::TestParamInfo<UnreadableCase>& testCase) { return std::string{testCase.param.label}; });

TEST_F(FilePreferencesTest, TwoUnreadableFilesInOneSecondAreBothKept)
{
    makeDirectory();
    writeAll(file, "first");
    {
        FilePreferences first{log, directory};
    }
    writeAll(file, "second");
    {
        FilePreferences second{log, directory};
    }
    const auto aside = namesStartingWith(directory, "preferences.json.corrupt-");
    ASSERT_EQ(aside.size(), 2u);
    std::vector<std::string> contents{readAll(directory / aside[0]), readAll(directory / aside[1])};
    std::sort(contents.begin(), contents.end());
    EXPECT_EQ(contents, (std::vector<std::string>{"first", "second"}));
}

TEST_F(FilePreferencesTest, ADirectoryInPlaceOfTheFileIsMovedAsideToo)
{
    fs::create_directories(file);
    FilePreferences preferences{log, directory};
    preferences.setText("username", "alice");
    EXPECT_EQ(namesStartingWith(directory, "preferences.json.corrupt-").size(), 1u);
    EXPECT_EQ(FilePreferences(log, directory).text("username"), "alice");
}

TEST_F(FilePreferencesTest, WhatCannotBeMovedAsideIsNeverOverwritten)
{
    makeDirectory();
    writeAll(file, "not json");
    // Checked by value, so that it can run in a child process as well.
    const auto scenario = [&] {
        bool holds = false;
        {
            FilePreferences preferences{log, directory};
            preferences.setText("username", "alice");
            // The change holds for this run even though it could not be saved.
            holds = preferences.text("username") == "alice";
        }
        return holds && readAll(file) == "not json" && logHas(log, "nor keep it aside") &&
               logHas(log, "preferences: could not save");
    };
    if (::geteuid() != 0) {
        ::chmod(directory.c_str(), 0500);
        const bool kept = scenario();
        ::chmod(directory.c_str(), 0700);
        EXPECT_TRUE(kept);
        return;
    }
    // Root writes into read-only directories: the same as an ordinary user, in a child process.
    constexpr uid_t kNobody = 65534;
    ASSERT_EQ(::chmod(temporary.path().toLocal8Bit().constData(), 0755), 0);
    ASSERT_EQ(::chown(directory.c_str(), kNobody, kNobody), 0);
    ASSERT_EQ(::chmod(directory.c_str(), 0500), 0);
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            if (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)
                ::_exit(2);
            ::_exit(scenario() ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(FilePreferencesTest, AFailedSaveIsRetriedWithTheNextWrite)
{
    // A plain file where the configuration directory should be: nothing can be saved until it goes.
    const fs::path parent = directory.parent_path();
    writeAll(parent, "in the way");
    FilePreferences preferences{log, directory};
    preferences.setText("username", "alice");
    EXPECT_TRUE(logHas(log, "preferences: could not save " + file.string()));
    EXPECT_EQ(preferences.text("username"), "alice");

    fs::remove(parent);
    preferences.setText("lastusedbridgeIP", "10.0.0.2");
    FilePreferences again{log, directory};
    EXPECT_EQ(again.text("username"), "alice");
    EXPECT_EQ(again.text("lastusedbridgeIP"), "10.0.0.2");
}

TEST_F(FilePreferencesTest, AnotherProgramsWriteIsPickedUpAndKept)
{
    FilePreferences application{log, directory};
    application.setLamps({{"1", "Desk", true}});

    // glowcastctl pairs while the application runs.
    FilePreferences tool{log, directory};
    tool.setText("username", "paired-by-tool");

    EXPECT_EQ(application.text("username"), "paired-by-tool");
    application.setLamps({{"1", "Desk", false}});
    FilePreferences after{log, directory};
    EXPECT_EQ(after.text("username"), "paired-by-tool");
    EXPECT_EQ(after.lamps(), (std::vector<LampEntry>{{"1", "Desk", false}}));
}

TEST_F(FilePreferencesTest, AFileDamagedWhileRunningIsKeptAsideAndTheKnownValuesStay)
{
    FilePreferences preferences{log, directory};
    preferences.setText("username", "alice");
    writeAll(file, "{broken");
    preferences.setLamps({{"2", "Hall", true}});
    EXPECT_EQ(namesStartingWith(directory, "preferences.json.corrupt-").size(), 1u);
    FilePreferences again{log, directory};
    EXPECT_EQ(again.text("username"), "alice");
    EXPECT_EQ(again.lamps(), (std::vector<LampEntry>{{"2", "Hall", true}}));
}

class DefaultDirectoryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char* name : {"GLOWCAST_CONFIG_DIR", "XDG_CONFIG_HOME", "HOME"}) {
            const char* value = std::getenv(name);
            m_saved.emplace_back(name, value ? std::optional<std::string>{value} : std::nullopt);
        }
    }
    void TearDown() override
    {
        for (const auto& [name, value] : m_saved) {
            if (value)
                ::setenv(name.c_str(), value->c_str(), 1);
            else
                ::unsetenv(name.c_str());
        }
    }

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> m_saved;
};

TEST_F(DefaultDirectoryTest, OwnVariableThenXdgThenHome)
{
    ::setenv("HOME", "/home/alice", 1);
    ::setenv("XDG_CONFIG_HOME", "/xdg", 1);
    ::setenv("GLOWCAST_CONFIG_DIR", "/tmp/demo-config", 1);
    EXPECT_EQ(FilePreferences::defaultDirectory(), fs::path{"/tmp/demo-config"});
    ::setenv("GLOWCAST_CONFIG_DIR", "", 1);
    EXPECT_EQ(FilePreferences::defaultDirectory(), fs::path{"/xdg/glowcast"});
    ::setenv("XDG_CONFIG_HOME", "relative/ignored", 1);
    EXPECT_EQ(FilePreferences::defaultDirectory(), fs::path{"/home/alice/.config/glowcast"});
    ::unsetenv("XDG_CONFIG_HOME");
    ::unsetenv("GLOWCAST_CONFIG_DIR");
    EXPECT_EQ(FilePreferences::defaultDirectory(), fs::path{"/home/alice/.config/glowcast"});
}

} // namespace
} // namespace glowcast
