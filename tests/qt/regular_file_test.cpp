#include "adapters/files/regular_file.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace glowcast {
namespace {

namespace fs = std::filesystem;

// A name in a folder holding "three" (3 bytes), "empty", "folder" and "fifo", or an absolute path.
struct FileCase {
    const char* name;
    const char* path;
    std::size_t cap;
    FileReadFailure failure;
    const char* reason;
    const char* bytes = "";
};
void PrintTo(const FileCase& row, std::ostream* out)
{
    *out << row.name;
}

const std::string kLongName(272, 'a'); // more than a name may have

class RegularFileTest : public ::testing::TestWithParam<FileCase> {};

TEST_P(RegularFileTest, ReadsARegularFileWithinItsCapAndSaysWhyNotOtherwise)
{
    const fs::path folder = fs::path{::testing::TempDir()} / ("regular_file_test-" + std::to_string(::getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder / "folder");
    std::ofstream(folder / "three") << "abc";
    std::ofstream(folder / "empty").flush();
    ASSERT_EQ(::mkfifo((folder / "fifo").c_str(), 0600), 0);
    const FileCase& row = GetParam();
    const fs::path path = row.path[0] == '/' ? fs::path{row.path} : folder / row.path;
    const FileRead read = readRegularFile(path, row.cap);
    EXPECT_EQ(read.failure, row.failure);
    EXPECT_EQ(read.reason, row.reason);
    EXPECT_EQ(std::string(read.bytes.begin(), read.bytes.end()), row.bytes);
    fs::remove_all(folder);
}

INSTANTIATE_TEST_SUITE_P(
    Files, RegularFileTest,
    ::testing::Values(
        FileCase{"AtTheCap", "three", 3, FileReadFailure::None, "", "abc"},
        FileCase{"Empty", "empty", 3, FileReadFailure::None, ""},
        FileCase{"OneByteOverTheCap", "three", 2, FileReadFailure::TooLarge,
                 "it holds 3 bytes, more than the 2 bytes allowed"},
        // A file of the kernel's says it has no bytes and then gives some: read whole, or refused past the cap.
        FileCase{"GrowsWithinTheCap", "/proc/self/comm", 64, FileReadFailure::None, "", "glowcast_qt_tes\n"},
        FileCase{"GrowsPastTheCapWhileRead", "/proc/self/comm", 2, FileReadFailure::TooLarge,
                 "it grew to more than the 2 bytes allowed"},
        FileCase{"Missing", "absent", 3, FileReadFailure::Missing, "there is no such file"},
        FileCase{"UnderAFile", "three/cover.jpg", 3, FileReadFailure::Missing, "there is no such file"},
        FileCase{"Directory", "folder", 3, FileReadFailure::NotRegular, "it is a directory, not a regular file"},
        FileCase{"Fifo", "fifo", 3, FileReadFailure::NotRegular, "it is a FIFO, not a regular file"},
        FileCase{"Device", "/dev/zero", 3, FileReadFailure::NotRegular, "it is a device, not a regular file"},
        FileCase{"NameTooLong", kLongName.c_str(), 3, FileReadFailure::Unreadable, "File name too long"}));

} // namespace
} // namespace glowcast
