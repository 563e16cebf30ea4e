#include "adapters/files/system_secrets.h"

#include "support/recording_log.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace glowcast {
namespace {

namespace fs = std::filesystem;

class SystemSecretsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::remove_all(folder);
        fs::create_directories(folder);
    }
    void TearDown() override { fs::remove_all(folder); }
    fs::path write(const std::string& bytes)
    {
        std::ofstream(folder / "given", std::ios::binary) << bytes;
        return folder / "given";
    }
    const fs::path folder = fs::path{::testing::TempDir()} / ("system_secrets_test-" + std::to_string(::getpid()));
};

// Each row: the file's bytes and the password read, or nothing with the reason after the file's name.
TEST_F(SystemSecretsTest, APasswordFileLosesOneTrailingNewlineAndIsRefusedWhenItHoldsNone)
{
    const std::tuple<std::string, std::optional<std::string>, std::string> rows[] = {
        {"s3cret\n", "s3cret", ""},
        {"s3cret\r\n", "s3cret", ""},
        {"two words \n\n", "two words \n", ""},
        {std::string(kLongestPasswordFile, 'p'), std::string(kLongestPasswordFile, 'p'), ""},
        {std::string(kLongestPasswordFile + 1, 'p'), std::nullopt,
         "it holds 4097 bytes, more than the 4096 bytes allowed"},
        {"\n", std::nullopt, "the file holds no password"},
        {std::string("a\0b", 3), std::nullopt, "a password cannot hold a NUL byte"},
    };
    for (const auto& [bytes, password, reason] : rows) {
        const PasswordRead read = readPasswordFile(write(bytes));
        EXPECT_EQ(read.password, password);
        EXPECT_EQ(read.error, password ? "" : (folder / "given").string() + ": " + reason);
    }
    EXPECT_EQ(readPasswordFile(folder).error, folder.string() + ": it is a directory, not a regular file");
}

TEST_F(SystemSecretsTest, AStoredPasswordIsTheOwnersOnlyAndGoesWithItsSystem)
{
    RecordingLog log;
    EXPECT_EQ(systemPassword(folder, "z2m", log), std::nullopt);
    ASSERT_EQ(storeSystemPassword(folder, "z2m", "first"), std::nullopt);
    ASSERT_EQ(storeSystemPassword(folder, "z2m", "second"), std::nullopt);
    EXPECT_EQ(systemPassword(folder, "z2m", log), "second");
    const fs::path file = systemPasswordPath(folder, "z2m");
    EXPECT_EQ(file, folder / "systems" / "z2m.password");
    struct stat status {};
    ASSERT_EQ(::stat(file.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0600u);
    ASSERT_EQ(::stat((folder / "systems").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0700u);
    EXPECT_EQ(storeSystemPassword(folder, "../z2m", "x"), "\"../z2m\" is no system id");
    forgetSystemPassword(folder, "z2m");
    EXPECT_EQ(systemPassword(folder, "z2m", log), std::nullopt);
    EXPECT_EQ(fs::directory_iterator(folder / "systems"), fs::directory_iterator{}) << "no temporary file left";
    EXPECT_TRUE(log.lines.empty());
}

} // namespace
} // namespace glowcast
