#include "adapters/files/system_secrets.h"

#include "adapters/files/regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

namespace glowcast {

namespace {

constexpr const char* kFolder = "systems";

std::string errnoText(int error)
{
    return std::strerror(error);
}

} // namespace

std::filesystem::path systemPasswordPath(const std::filesystem::path& configDirectory, std::string_view systemId)
{
    return configDirectory / kFolder / (std::string{systemId} + ".password");
}

std::filesystem::path systemCaPath(const std::filesystem::path& configDirectory, std::string_view systemId)
{
    return configDirectory / kFolder / (std::string{systemId} + ".ca.pem");
}

std::filesystem::path systemTokenPath(const std::filesystem::path& configDirectory, std::string_view systemId)
{
    return configDirectory / kFolder / (std::string{systemId} + ".token");
}

PasswordRead readPasswordFile(const std::filesystem::path& file)
{
    const FileRead read = readRegularFile(file, kLongestPasswordFile);
    if (!read.ok())
        return {std::nullopt, file.string() + ": " + read.reason};
    std::string password(read.bytes.begin(), read.bytes.end());
    if (password.ends_with('\n'))
        password.pop_back();
    if (password.ends_with('\r'))
        password.pop_back();
    if (password.empty())
        return {std::nullopt, file.string() + ": the file holds no password"};
    if (password.find('\0') != std::string::npos)
        return {std::nullopt, file.string() + ": a password cannot hold a NUL byte"};
    return {std::move(password), {}};
}

namespace {

// The systems folder, made owner-only when missing; nothing when it is there, else why not.
std::optional<std::string> makeFolder(const std::filesystem::path& configDirectory)
{
    for (const std::filesystem::path& each : {configDirectory, configDirectory / kFolder})
        if (::mkdir(each.c_str(), 0700) != 0 && errno != EEXIST)
            return "cannot create " + each.string() + ": " + errnoText(errno);
    // A folder found open to others (made by hand, or under a looser umask) is narrowed to its owner; one that is
    // a link or no folder is refused rather than followed.
    const std::filesystem::path folder = configDirectory / kFolder;
    const int opened = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (opened < 0)
        return "cannot open " + folder.string() + ": " + errnoText(errno);
    const bool narrowed = ::fchmod(opened, S_IRWXU) == 0;
    const int folderError = errno;
    ::close(opened);
    if (!narrowed)
        return "cannot make " + folder.string() + " its owner's alone: " + errnoText(folderError);
    return std::nullopt;
}

// The id names a file: nothing that could lead out of the folder. The publishing broker's is the one
// with a dot.
bool namesAFile(std::string_view systemId)
{
    return systemId == kMqttSecretId ||
           (!systemId.empty() &&
            systemId.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-_") ==
                std::string_view::npos);
}

std::optional<std::string> storeSecret(const std::filesystem::path& configDirectory, std::string_view systemId,
                                       std::string_view password,
                                       std::filesystem::path (*pathOf)(const std::filesystem::path&, std::string_view))
{
    if (!namesAFile(systemId))
        return "\"" + std::string{systemId} + "\" is no system id";
    if (std::optional<std::string> error = makeFolder(configDirectory))
        return error;
    return writeFileAtomically(pathOf(configDirectory, systemId), password);
}

// A staged set's files, in the order of the system's: a leading dot, which no system id has, keeps the
// two apart.
constexpr std::array<const char*, 3> kSecretSuffixes{".password", ".token", ".ca.pem"};
std::filesystem::path stagedPath(const std::filesystem::path& configDirectory, std::string_view tag, const char* suffix)
{
    return configDirectory / kFolder / (".new-" + std::string{tag} + suffix);
}

bool isStagedTag(std::string_view tag)
{
    return !tag.empty() && tag.size() <= 64 && tag.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

std::optional<std::string> storedSecret(const std::filesystem::path& file, std::string_view systemId, const char* what,
                                        Log& log)
{
    if (::access(file.c_str(), F_OK) != 0 && errno == ENOENT)
        return std::nullopt;
    PasswordRead read = readPasswordFile(file);
    if (!read.password)
        log.write("systems: the " + std::string{what} + " of " + std::string{systemId} + " is not used: " + read.error);
    return std::move(read.password);
}

} // namespace

std::optional<std::string> storeSystemPassword(const std::filesystem::path& configDirectory, std::string_view systemId,
                                               std::string_view password)
{
    return storeSecret(configDirectory, systemId, password, systemPasswordPath);
}

std::optional<std::string> storeSystemToken(const std::filesystem::path& configDirectory, std::string_view systemId,
                                            std::string_view token)
{
    return storeSecret(configDirectory, systemId, token, systemTokenPath);
}

std::optional<std::string> storeSystemCa(const std::filesystem::path& configDirectory, std::string_view systemId,
                                         std::string_view pem)
{
    return storeSecret(configDirectory, systemId, pem, systemCaPath);
}

std::optional<std::string> systemToken(const std::filesystem::path& configDirectory, std::string_view systemId,
                                       Log& log)
{
    return storedSecret(systemTokenPath(configDirectory, systemId), systemId, "token", log);
}

std::optional<std::string> systemPassword(const std::filesystem::path& configDirectory, std::string_view systemId,
                                          Log& log)
{
    return storedSecret(systemPasswordPath(configDirectory, systemId), systemId, "password", log);
}

StagedSecrets stageSystemSecrets(const std::filesystem::path& configDirectory, const SystemSecretFiles& secrets)
{
    if (std::optional<std::string> error = makeFolder(configDirectory))
        return {{}, std::move(error)};
    std::random_device random;
    char tag[33];
    for (int i = 0; i < 4; ++i)
        std::snprintf(tag + 8 * i, 9, "%08x", static_cast<unsigned>(random()));
    const std::array<const std::optional<std::string>*, 3> each{&secrets.password, &secrets.token, &secrets.ca};
    for (std::size_t i = 0; i < each.size(); ++i) {
        if (!*each[i])
            continue;
        if (std::optional<std::string> error =
                writeFileAtomically(stagedPath(configDirectory, tag, kSecretSuffixes[i]), **each[i])) {
            discardStagedSecrets(configDirectory, tag);
            return {{}, std::move(error)};
        }
    }
    return {tag, std::nullopt};
}

std::optional<std::string> adoptStagedSecrets(const std::filesystem::path& configDirectory, std::string_view tag,
                                              std::string_view systemId)
{
    if (!isStagedTag(tag))
        return "\"" + std::string{tag} + "\" names no staged secrets";
    if (!namesAFile(systemId))
        return "\"" + std::string{systemId} + "\" is no system id";
    const std::array<std::filesystem::path (*)(const std::filesystem::path&, std::string_view), 3> pathsOf{
        systemPasswordPath, systemTokenPath, systemCaPath};
    std::vector<std::size_t> moved;
    std::optional<std::string> error;
    for (std::size_t i = 0; i < pathsOf.size() && !error; ++i) {
        const std::filesystem::path from = stagedPath(configDirectory, tag, kSecretSuffixes[i]);
        struct stat status {};
        if (::lstat(from.c_str(), &status) != 0 && errno == ENOENT)
            continue;
        // A rename: the system never reads half a file, and only a file of the caller's own is taken.
        if (!S_ISREG(status.st_mode))
            error = from.string() + " is not a regular file";
        else if (::rename(from.c_str(), pathsOf[i](configDirectory, systemId).c_str()) != 0)
            error = "cannot store " + pathsOf[i](configDirectory, systemId).string() + ": " + errnoText(errno);
        else
            moved.push_back(i);
    }
    if (!error && moved.empty())
        error = "\"" + std::string{tag} + "\" names no staged secrets";
    if (error)
        for (const std::size_t i : moved)
            (void)::rename(pathsOf[i](configDirectory, systemId).c_str(),
                           stagedPath(configDirectory, tag, kSecretSuffixes[i]).c_str());
    return error;
}

void discardStagedSecrets(const std::filesystem::path& configDirectory, std::string_view tag)
{
    if (!isStagedTag(tag))
        return;
    for (const char* suffix : kSecretSuffixes)
        ::unlink(stagedPath(configDirectory, tag, suffix).c_str());
}

void forgetSystemPassword(const std::filesystem::path& configDirectory, std::string_view systemId)
{
    ::unlink(systemPasswordPath(configDirectory, systemId).c_str());
    ::unlink(systemTokenPath(configDirectory, systemId).c_str());
    ::unlink(systemCaPath(configDirectory, systemId).c_str());
}

} // namespace glowcast
