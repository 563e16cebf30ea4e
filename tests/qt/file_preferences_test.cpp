#include "adapters/files/file_preferences.h"
#include "support/recording_log.h"

#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <set>
#include <tuple>

namespace glowcast {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;
using Lamps = std::vector<LampEntry>;

std::string readAll(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Seeds of the preferences fuzz target that these tests read too.
const fs::path kCorpus = GLOWCAST_TEST_DATA "/../../fuzz/corpus/preferences_fuzz";

class FilePreferencesTest : public ::testing::Test {
protected:
    QTemporaryDir temporary;
    fs::path directory = fs::path{temporary.path().toStdString()} / "config" / "glowcast";
    fs::path file = directory / "preferences.json";
    RecordingLog log;

    void SetUp() override { ASSERT_TRUE(temporary.isValid()); }
    static void writeAll(const fs::path& to, std::string_view bytes) { std::ofstream(to, std::ios::binary) << bytes; }
    static QJsonDocument json(const std::string& t) { return QJsonDocument::fromJson(QByteArray::fromStdString(t)); }
    static mode_t modeOf(const fs::path& path)
    {
        struct stat status {};
        return ::stat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : 0;
    }
    void writeFile(std::string_view bytes)
    {
        fs::create_directories(directory);
        writeAll(file, bytes);
    }
    // The copies kept aside, but those already known.
    std::set<fs::path> aside(const std::set<fs::path>& known = {}) const
    {
        std::set<fs::path> paths;
        for (const auto& entry : fs::directory_iterator(directory))
            if (entry.path().filename().string().starts_with("preferences.json.corrupt-") && !known.contains(entry))
                paths.insert(entry.path());
        return paths;
    }
    long entries() const { return std::distance(fs::directory_iterator(directory), fs::directory_iterator()); }
};

// Another program (glowcastctl) reads and writes the same file meanwhile.
TEST_F(FilePreferencesTest, WritesReachTheFileOwnerOnlyAndAnotherProgramWhoseOwnWritesAreKept)
{
    FilePreferences preferences{log, directory};
    EXPECT_EQ(preferences.text("username"), std::nullopt);
    EXPECT_EQ(preferences.lamps(), std::nullopt);
    EXPECT_FALSE(fs::exists(directory)) << "reading creates nothing";
    preferences.setText("username", "alice");
    preferences.setText("lastusedbridgeIP", "192.168.1.20");
    preferences.setText("lastusedbridgeIP", std::nullopt);
    preferences.setLamps({{"3", "Lamp \"3\"", true}, {"4", "Hall", false}});
    preferences.setText("lamps", "oops");
    EXPECT_EQ(log.lines.back(), "preferences: \"lamps\" holds the lamp selection, not a text; not changed");
    EXPECT_EQ(modeOf(file), 0600u);
    EXPECT_EQ(modeOf(directory), 0700u);
    EXPECT_EQ(modeOf(directory.parent_path()), 0700u);
    EXPECT_EQ(json(readAll(file)), json(R"({"username":"alice","lamps":[{"id":"3","name":"Lamp \"3\"","enabled":true},
                                                                   {"id":"4","name":"Hall","enabled":false}]})"));
    EXPECT_EQ(entries(), 1) << "a temporary file left";

    ::chmod(file.c_str(), 0644); // an existing looser file becomes owner-only with the next write
    FilePreferences tool{log, directory};
    EXPECT_EQ(tool.text("lastusedbridgeIP"), std::nullopt);
    EXPECT_EQ(tool.lamps(), (Lamps{{"3", "Lamp \"3\"", true}, {"4", "Hall", false}}));
    tool.setText("username", "paired-by-tool");
    EXPECT_EQ(modeOf(file), 0600u);
    EXPECT_EQ(preferences.text("username"), "paired-by-tool");
    preferences.setLamps({});
    EXPECT_EQ(tool.text("username"), "paired-by-tool") << "a write changes only its own key";
    EXPECT_EQ(tool.lamps(), Lamps{});

    // The tool holds the lock: the window's timers go on firing while the write waits.
    const int held = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    bool fired = false;
    QTimer::singleShot(std::chrono::milliseconds{50}, [&] {
        fired = true;
        ::close(held);
    });
    const Lines logged = log.lines;
    preferences.setText("lastusedbridgeIP", "10.0.0.2");
    EXPECT_TRUE(fired);
    EXPECT_EQ(log.lines, logged);
    EXPECT_EQ(tool.text("lastusedbridgeIP"), "10.0.0.2");

    writeAll(file, "{broken"); // damaged while running: the known values stay
    preferences.setLamps({{"2", "Hall", true}});
    EXPECT_EQ(aside().size(), 1u);
    FilePreferences again{log, directory};
    EXPECT_EQ(again.text("username"), "paired-by-tool");
    EXPECT_EQ(again.lamps(), (Lamps{{"2", "Hall", true}}));
}

// A missing "enabled" is an ordinary disabled lamp; every other oddity of the lamp records (a fuzz seed)
// is logged. A member of the wrong kind, and one this program does not know, are kept until replaced;
// settings keep their kinds.
TEST_F(FilePreferencesTest, OddMembersAreLoggedAndReadSoundlyAndKeptUntilReplaced)
{
    writeFile(readAll(kCorpus / "odd_lamps.json"));
    EXPECT_EQ(
        FilePreferences(log, directory).lamps(),
        (Lamps{{"1", "Desk", true}, {"2", "Hall", false}, {"3", "Porch", false}, {"4", "", true}, {"5", "", false}}));
    EXPECT_EQ(
        log.lines,
        (Lines{"preferences: using " + file.string(), "preferences: \"username\" is not a text; it reads as absent",
               "preferences: lamp record 2 (id \"3\") has an \"enabled\" that is not true or false; it reads as "
               "disabled",
               "preferences: lamp record 3 has no text \"id\"; left out",
               "preferences: lamp record 4 has no text \"id\"; left out",
               "preferences: lamp record 5 is not an object; left out",
               "preferences: lamp record 7 (id \"5\") has a \"name\" that is not a text; it reads as empty"}));
    EXPECT_TRUE(aside().empty()) << "reading is not changing";

    writeFile(R"({"lamps":{"1":true},"theme":"dark","followplayers":1,"ignoreplayers":["vlc",2],"portal":null})");
    FilePreferences preferences{log, directory};
    EXPECT_EQ(preferences.lamps(), std::nullopt);
    EXPECT_EQ(log.lines.back(), "preferences: \"lamps\" is not a list; it reads as absent");
    EXPECT_EQ(preferences.setting("followplayers"), (StoredSetting{std::int64_t{1}, {}}));
    EXPECT_EQ(preferences.setting("ignoreplayers").otherKind, "a list with a member that is not a text");
    EXPECT_EQ(preferences.setting("portal").otherKind, "null");
    EXPECT_EQ(preferences.setting("lastusedbridgeIP"), StoredSetting{});
    EXPECT_TRUE(preferences.setSetting("followplayers", false));
    EXPECT_TRUE(preferences.setSetting("ignoreplayers", std::vector<std::string>{"vlc"}));
    EXPECT_TRUE(preferences.setSetting("portal", std::nullopt));
    EXPECT_FALSE(preferences.setSetting("lamps", std::string{"not a selection"}));
    preferences.setText("username", "alice");
    EXPECT_EQ(json(readAll(file)), json(R"({"lamps":{"1":true},"theme":"dark","followplayers":false,
                                            "ignoreplayers":["vlc"],"username":"alice"})"));
    EXPECT_EQ(FilePreferences(log, directory).setting("ignoreplayers").value,
              SettingValue{std::vector<std::string>{"vlc"}});
}

TEST_F(FilePreferencesTest, AnUnreadableFileIsKeptAsideByteForByteAndTheProgramGoesOn)
{
    const std::pair<std::string, const char*> unreadable[] = {
        {R"({"username":"alice","lamps":[{"id":"1")", "not valid JSON: unterminated string at byte 38"},
        {"", "not valid JSON: illegal value at byte 0"},
        {R"([{"id":"1"}])", "the document is not a JSON object"},
        {std::string("\x89PNG\r\n\x1a\n\0\0\0", 11), "not valid JSON: illegal value at byte 1"},
        {R"({"username":"alice"} and more)", "not valid JSON: garbage at the end of the document at byte 21"},
        {"{\"x\":\"" + std::string(4 * 1024 * 1024, 'a') + "\"}",
         "it holds 4194312 bytes, more than the 4194304 bytes allowed"}};
    // All in one directory, within a second: every bad file gets its own copy.
    for (const auto& [bytes, why] : unreadable) {
        SCOPED_TRACE(bytes.substr(0, 30));
        writeFile(bytes);
        const std::set<fs::path> before = aside();
        FilePreferences preferences{log, directory};
        EXPECT_EQ(preferences.text("username"), std::nullopt);
        EXPECT_EQ(preferences.lamps(), std::nullopt);
        const std::set<fs::path> added = aside(before);
        ASSERT_EQ(added.size(), 1u);
        const fs::path kept = *added.begin();
        EXPECT_EQ(readAll(kept), bytes);
        if (before.empty()) { // the first copy of a second has no number
            EXPECT_EQ(kept.filename().string().size(), std::string("preferences.json.corrupt-20260101T000000Z").size());
        }
        EXPECT_EQ(log.lines.back(), "preferences: could not read " + file.string() + " (" + why +
                                        "); kept it aside as " + kept.string() + " and going on without it");
        // A later save makes a fresh file and leaves the kept copy alone.
        preferences.setText("username", "alice");
        EXPECT_EQ(readAll(kept), bytes);
        EXPECT_EQ(FilePreferences(log, directory).text("username"), "alice");
    }
}

TEST_F(FilePreferencesTest, WhatCannotBeMovedAsideIsNeverOverwritten)
{
    writeFile("not json");
    // Root writes into read-only directories: the child process runs as an ordinary user.
    constexpr uid_t kNobody = 65534;
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chmod(temporary.path().toLocal8Bit().constData(), 0755), 0);
        ASSERT_EQ(::chown(directory.c_str(), kNobody, kNobody), 0);
    }
    ASSERT_EQ(::chmod(directory.c_str(), 0500), 0);
    const Lines expected{"preferences: using " + file.string(),
                         "preferences: could not read " + file.string() +
                             " (not valid JSON: illegal value at byte 1) nor keep it aside (Permission denied); "
                             "nothing will be saved over it",
                         "preferences: could not save " + file.string() +
                             ": the file there cannot be read and is kept as it is; the change holds until the "
                             "program ends"};
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            if (root && (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0))
                ::_exit(2);
            bool holds = false;
            {
                FilePreferences preferences(log, directory); // no braces with commas inside the macro
                preferences.setText("username", "alice");
                holds = preferences.text("username") == "alice"; // for this run, though it could not be saved
            }
            ::_exit(holds && readAll(file) == "not json" && log.lines == expected ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
    ::chmod(directory.c_str(), 0700);
}

// The file system takes no more than 16 bytes of any file: every write fails part-way. A setting
// and the selection say so and are forgotten; a text is kept for the next save. Then a plain file
// stands where the directory, or the one above it, should be.
TEST_F(FilePreferencesTest, AWriteTheDiskRefusesLeavesTheOldFileWholeIsReportedAndRetried)
{
    FilePreferences preferences{log, directory};
    preferences.setText("username", "alice");
    ASSERT_TRUE(preferences.setSetting("fade", SettingValue{std::int64_t{5}}));
    ASSERT_TRUE(preferences.updateLamps([](auto) { return Lamps{{"1", "Desk", true}}; }));
    const std::string before = readAll(file);
    log.lines.clear();

    ::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &limit), 0);
    const rlimit small{16, limit.rlim_max};
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool setting = preferences.setSetting("fade", SettingValue{std::int64_t{12}});
    const bool selection = preferences.updateLamps([](auto) { return Lamps{{"1", "Desk", false}}; });
    preferences.setText("username", "bob");
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);

    EXPECT_FALSE(setting);
    EXPECT_FALSE(selection);
    EXPECT_EQ(readAll(file), before);
    EXPECT_EQ(entries(), 1) << "no temporary left";
    EXPECT_EQ(log.lines, Lines(3, "preferences: could not save " + file.string() +
                                      ": File too large; the file there is left as it was"));
    EXPECT_EQ(preferences.setting("fade").value, SettingValue{std::int64_t{5}});
    EXPECT_EQ(preferences.lamps(), (Lamps{{"1", "Desk", true}}));
    EXPECT_EQ(preferences.text("username"), "bob");
    EXPECT_EQ(FilePreferences(log, directory).text("username"), "alice");
    preferences.setText("lastusedbridgeIP", "10.0.0.2");
    EXPECT_EQ(FilePreferences(log, directory).text("username"), "bob") << "saved with the next write";

    fs::remove_all(directory);
    writeAll(directory, "a plain file where the directory should be");
    preferences.setText("username", "carol");
    EXPECT_EQ(log.lines.back(),
              "preferences: could not save " + file.string() + ": " + directory.string() + " is not a directory");
    fs::remove_all(directory.parent_path());
    writeAll(directory.parent_path(), "a plain file where the directory should be");
    preferences.setText("lastusedbridgeIP", "10.0.0.3");
    EXPECT_EQ(log.lines.back(), "preferences: could not save " + file.string() + ": cannot create " +
                                    directory.string() + ": Not a directory");
    fs::remove(directory.parent_path());
    preferences.setText("portal", "portal.local");
    FilePreferences again{log, directory};
    EXPECT_EQ(again.text("username"), "carol");
    EXPECT_EQ(again.text("lastusedbridgeIP"), "10.0.0.3");
}

TEST_F(FilePreferencesTest, SystemsKeepWhatThisProgramDoesNotKnowAndEveryRecordItCannotUse)
{
    const std::string kept = R"(7, {"id":"bad id","kind":"bridge","address":"10.0.0.4"},
        {"id":"ha","kind":"toaster","address":"x"}, {"id":"z2m","kind":"bridge","address":"10.0.0.9"},
        {"id":"nowhere","kind":"wled"})";
    writeFile(R"({"username":"alice","systems":[
        {"id":"z2m","kind":"zigbee2mqtt","address":"mqtt://broker","pace":5,"user":"u","retain":false}, )" +
              kept + R"(, {"id":"b2","kind":"bridge","address":"10.0.0.3","pace":2.5,"user":3}]})");
    FilePreferences preferences{log, directory};
    EXPECT_EQ(preferences.systems(),
              (std::vector<SystemRecord>{{"z2m", SystemKind::Zigbee2Mqtt, "mqtt://broker", 5, "u"},
                                         {"b2", SystemKind::Bridge, "10.0.0.3", {}, {}}}));
    const std::string leftOut = "; left out and kept in the file";
    EXPECT_EQ(
        Lines(log.lines.begin() + 1, log.lines.end()),
        (Lines{"preferences: system record 1 is not an object" + leftOut,
               "preferences: system record 2 has no usable \"id\" (letters, digits, '-' and '_', at most 32)" + leftOut,
               "preferences: system record 3 (id \"ha\") has no \"kind\" this program knows" + leftOut,
               "preferences: system record 4 (id \"z2m\") has the id of an earlier one" + leftOut,
               "preferences: system record 5 (id \"nowhere\") has no text \"address\"" + leftOut,
               "preferences: system record 6 (id \"b2\") has a \"pace\" that is not a whole number 1..1000; it "
               "reads as the kind's default",
               "preferences: system record 6 (id \"b2\") has a \"user\" that is not a text; it reads as none"}));

    ASSERT_TRUE(preferences.updateSystems([](std::vector<SystemRecord> stored) {
        stored[0].pace.reset();
        stored.erase(stored.begin() + 1);
        stored.push_back({"w", SystemKind::Wled, "w.local", 40, {}});
        return stored;
    }));
    EXPECT_EQ(json(readAll(file)), json(R"({"username":"alice","systems":[
        {"id":"z2m","kind":"zigbee2mqtt","address":"mqtt://broker","user":"u","retain":false},
        {"id":"w","kind":"wled","address":"w.local","pace":40}, )" +
                                        kept + "]}"));
    EXPECT_FALSE(preferences.setSetting("systems", std::string{"none"}));

    // A file as Glowcast wrote it before there were lamp systems reads as the first bridge alone and
    // stays as it is, byte for byte.
    log.lines.clear();
    const std::string before = readAll(kCorpus / "before_systems.json");
    writeFile(before);
    FilePreferences older{log, directory};
    EXPECT_EQ(older.systems(), std::vector<SystemRecord>{});
    EXPECT_EQ(older.lamps(), (Lamps{{"1", "Desk", true}, {"2", "Hall", false}}));
    EXPECT_EQ(older.text("username"), "alice");
    EXPECT_EQ(log.lines, Lines{"preferences: using " + file.string()});
    ASSERT_TRUE(older.updateSystems([](std::vector<SystemRecord> stored) { return stored; }));
    EXPECT_EQ(readAll(file), before);
}

TEST(PreferencesDocumentTest, ANumberOutOfRangeSpoilsOnlyItsOwnKey)
{
    // Each row: the text, the other kind of "pace" it holds, and the document as read back, compact.
    const std::tuple<const char*, const char*, const char*> rows[] = {
        {R"({"pace":-1e400,"username":"alice"})", "a number out of range",
         R"({"pace":-1.7976931348623157e+308,"username":"alice"})"},
        {R"({"pace":1E+999})", "a number out of range", R"({"pace":1.7976931348623157e+308})"},
        {R"({"pace":123456789012345678901234567890123456789012345678901234567890e300})", "a number out of range",
         R"({"pace":1.7976931348623157e+308})"},
        {R"({"pace":1e-400})", "", R"({"pace":0})"},
        {R"({"pace":-0.00000000000000000000000000000000000000001e-300})", "", R"({"pace":0})"},
        {R"({"pace":0.001e309})", "a number out of range", R"({"pace":1e+306})"},           // in range: left as it is
        {R"({"pace":12,"x":"1e400 \" 1e999"})", "", R"({"pace":12,"x":"1e400 \" 1e999"})"}, // texts untouched
    };
    for (const auto& [text, otherKind, read] : rows) {
        SCOPED_TRACE(text);
        const preferences_document::Parsed parsed = preferences_document::parse(QByteArray(text));
        ASSERT_TRUE(parsed.document) << parsed.error.toStdString();
        EXPECT_EQ(QJsonDocument(*parsed.document).toJson(QJsonDocument::Compact).toStdString(), read);
        EXPECT_EQ(preferences_document::setting(*parsed.document, "pace").otherKind, otherKind);
    }
    EXPECT_FALSE(preferences_document::parse(QByteArray(R"({"pace":1e400)")).document) << "still not JSON";
}

TEST(FilePreferencesDefaultDirectoryTest, OwnVariableThenXdgThenHome)
{
    std::vector<std::pair<const char*, std::optional<std::string>>> saved;
    for (const char* name : {"GLOWCAST_CONFIG_DIR", "XDG_CONFIG_HOME", "HOME"})
        saved.emplace_back(name, std::getenv(name) ? std::optional<std::string>{std::getenv(name)} : std::nullopt);
    ::setenv("HOME", "/home/alice", 1);
    const std::array<const char*, 3> rows[] = {{"/tmp/demo-config", "/xdg", "/tmp/demo-config"},
                                               {"", "/xdg", "/xdg/glowcast"},
                                               {"", "relative/ignored", "/home/alice/.config/glowcast"},
                                               {nullptr, nullptr, "/home/alice/.config/glowcast"}};
    for (const auto& [own, xdg, expected] : rows) {
        own ? ::setenv("GLOWCAST_CONFIG_DIR", own, 1) : ::unsetenv("GLOWCAST_CONFIG_DIR");
        xdg ? ::setenv("XDG_CONFIG_HOME", xdg, 1) : ::unsetenv("XDG_CONFIG_HOME");
        EXPECT_EQ(FilePreferences::defaultDirectory(), fs::path{expected}) << expected;
    }
    for (const auto& [name, value] : saved)
        value ? ::setenv(name, value->c_str(), 1) : ::unsetenv(name);
}

} // namespace
} // namespace glowcast
