#include "adapters/files/palette_file.h"
#include "adapters/files/regular_file.h"
#include "adapters/http/qt_art_fetcher.h"
#include "support/recording_log.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>

namespace glowcast {
namespace {

namespace fs = std::filesystem;

// A name in a folder holding "three" (3 bytes), "empty", "folder" and "fifo", or an absolute path;
// and what a player's cover file there is: only a name that may still appear, or a file not yet
// written, is worth waiting for.
TEST(RegularFileTest, ReadsARegularFileWithinItsCapAndSaysWhyNotOtherwise)
{
    using enum FileReadFailure;
    using Cover = ArtFetchResult::Kind;
    // Each row: the name, the cap, the failure and its reason, the bytes read, and the cover file's kind.
    const std::tuple<std::string, std::size_t, FileReadFailure, const char*, const char*, Cover> rows[] = {
        {"three", 3, None, "", "abc", Cover::Bytes},
        {"empty", 3, None, "", "", Cover::Missing},
        {"three", 2, TooLarge, "it holds 3 bytes, more than the 2 bytes allowed", "", Cover::Failed},
        // A file of the kernel's says it has no bytes and then gives some: read whole, or refused past the cap.
        {"/proc/self/comm", 64, None, "", "glowcast_qt_tes\n", Cover::Bytes},
        {"/proc/self/comm", 2, TooLarge, "it grew to more than the 2 bytes allowed", "", Cover::Failed},
        {"absent", 3, Missing, "there is no such file", "", Cover::Missing},
        {"three/cover.jpg", 3, Missing, "there is no such file", "", Cover::Missing},
        {"folder", 3, NotRegular, "it is a directory, not a regular file", "", Cover::Failed},
        {"fifo", 3, NotRegular, "it is a FIFO, not a regular file", "", Cover::Failed},
        {"/dev/zero", 3, NotRegular, "it is a device, not a regular file", "", Cover::Failed},
        {std::string(272, 'a'), 3, Unreadable, "File name too long", "", Cover::Failed}, // longer than a name may be
    };
    const fs::path folder = fs::path{::testing::TempDir()} / ("regular_file_test-" + std::to_string(::getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder / "folder");
    std::ofstream(folder / "three") << "abc";
    std::ofstream(folder / "empty").flush();
    ASSERT_EQ(::mkfifo((folder / "fifo").c_str(), 0600), 0);
    for (const auto& [name, cap, failure, reason, bytes, cover] : rows) {
        SCOPED_TRACE(name.substr(0, 20) + " " + std::to_string(cap));
        const fs::path path = name.starts_with('/') ? fs::path{name} : folder / name;
        const FileRead read = readRegularFile(path, cap);
        EXPECT_EQ(read.failure, failure);
        EXPECT_EQ(read.reason, reason);
        EXPECT_EQ(std::string(read.bytes.begin(), read.bytes.end()), bytes);
        EXPECT_EQ(readCoverFile(path, cap).kind, cover);
    }
    fs::remove_all(folder);
}

// The palette file goes only into a runtime directory of the user's; any other is told once, however
// many covers come.
TEST(PaletteFileTest, WritesOnlyIntoARuntimeDirectoryOfTheUsersAndSaysOnceWhyNot)
{
    const fs::path folder = fs::path{::testing::TempDir()} / ("palette_file_test-" + std::to_string(::getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder / "theirs");
    std::ofstream(folder / "plain").flush();
    const bool root = ::geteuid() == 0 && ::chown((folder / "theirs").c_str(), 65534, 65534) == 0;
    const std::pair<std::optional<fs::path>, std::string> rows[] = {
        {std::nullopt, "XDG_RUNTIME_DIR is not set"},
        {folder / "gone", "the runtime directory " + (folder / "gone").string() + " cannot be looked at"},
        {folder / "plain", "the runtime directory " + (folder / "plain").string() + " is not a directory"},
        {folder / "theirs", "the runtime directory " + (folder / "theirs").string() + " belongs to another user"},
    };
    for (const auto& [runtime, why] : rows) {
        if (runtime == folder / "theirs" && !root)
            continue;
        RecordingLog log;
        PaletteFile file{log, runtime};
        file.write({});
        file.write({});
        EXPECT_EQ(log.lines.size(), 1u);
        EXPECT_TRUE(testing::logHas(log, "palette: no palette.json for other programs: " + why)) << log.lines.at(0);
    }
    RecordingLog log;
    PaletteFile{log, folder}.write({});
    EXPECT_EQ(readRegularFile(folder / "glowcast" / "palette.json", 1024).bytes.size(), paletteJSON({}).size() + 1);
    EXPECT_TRUE(log.lines.empty());
    fs::remove_all(folder);
}

} // namespace
} // namespace glowcast
