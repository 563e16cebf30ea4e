#include "adapters/files/system_secrets.h"

#include "support/recording_log.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <QTemporaryDir>

#include <filesystem>
#include <fstream>
#include <string>

namespace glowcast {
namespace {

namespace fs = std::filesystem;

// The access bits of a file.
unsigned modeOf(const fs::path& file)
{
    struct stat status {};
    return ::stat(file.c_str(), &status) == 0 ? status.st_mode & 07777 : 0;
}

// A password file loses one trailing newline and is refused when it holds none; a stored password is the
// owner's only and goes with its system.
TEST(SystemSecretsTest, APasswordFileIsReadAndAStoredOrStagedPasswordIsTheOwnersOnly)
{
    const QTemporaryDir directory;
    const fs::path folder = directory.path().toStdString();
    const fs::path given = folder / "given";
    // Each row: the file's bytes and the password read, or nothing with the reason after the file's name.
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
        std::ofstream(given, std::ios::binary | std::ios::trunc) << bytes;
        const PasswordRead read = readPasswordFile(given);
        EXPECT_EQ(read.password, password);
        EXPECT_EQ(read.error, password ? "" : given.string() + ": " + reason);
    }
    EXPECT_EQ(readPasswordFile(folder).error, folder.string() + ": it is a directory, not a regular file");

    RecordingLog log;
    EXPECT_EQ(systemPassword(folder, "z2m", log), std::nullopt);
    fs::create_directory(folder / "systems");
    fs::permissions(folder / "systems", fs::perms::all); // found open to everyone: narrowed
    ASSERT_EQ(storeSystemPassword(folder, "z2m", "first"), std::nullopt);
    ASSERT_EQ(storeSystemPassword(folder, "z2m", "second"), std::nullopt);
    EXPECT_EQ(systemPassword(folder, "z2m", log), "second");
    EXPECT_EQ(systemPasswordPath(folder, "z2m"), folder / "systems" / "z2m.password");
    EXPECT_EQ(modeOf(folder / "systems" / "z2m.password"), 0600u);
    EXPECT_EQ(modeOf(folder / "systems"), 0700u);
    EXPECT_EQ(storeSystemPassword(folder, "../z2m", "x"), "\"../z2m\" is no system id");
    forgetSystemPassword(folder, "z2m");
    EXPECT_EQ(systemPassword(folder, "z2m", log), std::nullopt);
    // A set staged before its system has an id goes whole, and once, to the id it is given; what no
    // system took goes with its discard.
    const StagedSecrets staged = stageSystemSecrets(folder, {"one", std::nullopt, "PEM"});
    EXPECT_EQ(adoptStagedSecrets(folder, staged.tag, "z2m"), std::nullopt);
    EXPECT_EQ(adoptStagedSecrets(folder, staged.tag, "z2m-2"), "\"" + staged.tag + "\" names no staged secrets");
    EXPECT_EQ(adoptStagedSecrets(folder, "../z2m", "z2m-2"), "\"../z2m\" names no staged secrets");
    EXPECT_EQ(systemPassword(folder, "z2m", log), "one");
    EXPECT_EQ(modeOf(systemCaPath(folder, "z2m")), 0600u);
    forgetSystemPassword(folder, "z2m");
    discardStagedSecrets(folder, stageSystemSecrets(folder, {"two", {}, {}}).tag);
    EXPECT_EQ(fs::directory_iterator(folder / "systems"), fs::directory_iterator{}) << "no temporary file left";
    EXPECT_TRUE(log.lines.empty());
}

} // namespace
} // namespace glowcast
