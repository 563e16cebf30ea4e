#include "adapters/files/system_secrets.h"

#include "adapters/files/regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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

std::optional<std::string> storeSecret(const std::filesystem::path& configDirectory, std::string_view systemId,
                                       std::string_view password,
                                       std::filesystem::path (*pathOf)(const std::filesystem::path&, std::string_view))
{
    // The id names a file: nothing that could lead out of the folder.
    if (systemId.empty() ||
        systemId.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-_") !=
            std::string_view::npos)
        return "\"" + std::string{systemId} + "\" is no system id";
    const std::filesystem::path folder = configDirectory / kFolder;
    for (const std::filesystem::path& each : {configDirectory, folder})
        if (::mkdir(each.c_str(), 0700) != 0 && errno != EEXIST)
            return "cannot create " + each.string() + ": " + errnoText(errno);
    // A folder found open to others (made by hand, or under a looser umask) is narrowed to its owner; one that is
    // a link or no folder is refused rather than followed.
    const int opened = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (opened < 0)
        return "cannot open " + folder.string() + ": " + errnoText(errno);
    const bool narrowed = ::fchmod(opened, S_IRWXU) == 0;
    const int folderError = errno;
    ::close(opened);
    if (!narrowed)
        return "cannot make " + folder.string() + " its owner's alone: " + errnoText(folderError);
    const std::filesystem::path file = pathOf(configDirectory, systemId);
    const std::filesystem::path temporary = file.string() + ".new";
    ::unlink(temporary.c_str());
    // O_EXCL: never through a link someone left at the temporary name.
    const int descriptor = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (descriptor < 0)
        return "cannot write " + temporary.string() + ": " + errnoText(errno);
    std::optional<std::string> error;
    if (::fchmod(descriptor, S_IRUSR | S_IWUSR) != 0 ||
        ::write(descriptor, password.data(), password.size()) != static_cast<ssize_t>(password.size()) ||
        ::fsync(descriptor) != 0)
        error = "cannot write " + temporary.string() + ": " + errnoText(errno);
    ::close(descriptor);
    if (!error && ::rename(temporary.c_str(), file.c_str()) != 0)
        error = "cannot store " + file.string() + ": " + errnoText(errno);
    if (error)
        ::unlink(temporary.c_str());
    return error;
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

void forgetSystemPassword(const std::filesystem::path& configDirectory, std::string_view systemId)
{
    ::unlink(systemPasswordPath(configDirectory, systemId).c_str());
    ::unlink(systemTokenPath(configDirectory, systemId).c_str());
    ::unlink(systemCaPath(configDirectory, systemId).c_str());
}

} // namespace glowcast
