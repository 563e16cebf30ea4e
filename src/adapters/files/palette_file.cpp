#include "adapters/files/palette_file.h"

#include "adapters/files/regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

namespace glowcast {

namespace {

// Nothing when the name is a directory of this user's, else why not. Never follows a link at the name.
std::optional<std::string> notOurDirectory(const std::filesystem::path& path)
{
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0)
        return path.string() + " cannot be looked at: " + std::strerror(errno);
    if (!S_ISDIR(status.st_mode))
        return path.string() + " is not a directory";
    if (status.st_uid != ::geteuid())
        return path.string() + " belongs to another user";
    return std::nullopt;
}

} // namespace

PaletteFile::PaletteFile(Log& log, std::optional<std::filesystem::path> runtimeDirectory)
    : m_log(log), m_runtimeDirectory(std::move(runtimeDirectory))
{
}

std::optional<std::filesystem::path> PaletteFile::runtimeDirectoryFromEnvironment()
{
    const char* value = std::getenv("XDG_RUNTIME_DIR");
    if (value == nullptr || *value == '\0')
        return std::nullopt;
    return std::filesystem::path{value};
}

void PaletteFile::refuse(const std::string& why)
{
    if (!m_told)
        m_log.write("palette: no palette.json for other programs: " + why);
    m_told = true;
}

std::optional<std::filesystem::path> PaletteFile::folder()
{
    if (!m_runtimeDirectory) {
        refuse("XDG_RUNTIME_DIR is not set");
        return std::nullopt;
    }
    if (const std::optional<std::string> why = notOurDirectory(*m_runtimeDirectory)) {
        refuse("the runtime directory " + *why);
        return std::nullopt;
    }
    const std::filesystem::path folder = *m_runtimeDirectory / "glowcast";
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        refuse("cannot create " + folder.string() + ": " + std::strerror(errno));
        return std::nullopt;
    }
    if (const std::optional<std::string> why = notOurDirectory(folder)) {
        refuse(*why);
        return std::nullopt;
    }
    return folder;
}

void PaletteFile::write(const PaletteDocument& document)
{
    const std::optional<std::filesystem::path> into = folder();
    if (!into)
        return;
    if (const std::optional<std::string> error =
            writeFileAtomically(*into / "palette.json", paletteJSON(document) + "\n")) {
        refuse(*error);
        return;
    }
    m_told = false;
}

} // namespace glowcast
