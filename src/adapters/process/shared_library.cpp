#include "adapters/process/shared_library.h"

#include <dlfcn.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <system_error>

namespace glowcast {

namespace {

namespace fs = std::filesystem;

// The install prefix of a program in `folder` when `folder` is the prefix's `from`: /usr for a program
// in /usr/bin with `from` "bin".
std::optional<fs::path> prefixOf(fs::path folder, const fs::path& from)
{
    for (auto part = from.end(); part != from.begin();) {
        --part;
        if (part->empty())
            continue;
        if (folder.filename() != *part)
            return std::nullopt;
        folder = folder.parent_path();
    }
    return folder;
}

// Where the package put the modules, found from where this program is: the programs live in the
// prefix's bin folder and in its libexec/glowcast, so that a package installed under any prefix
// finds its own modules. Empty for a program found elsewhere (the build tree).
std::string installedModuleFolder()
{
    std::error_code error;
    const fs::path self = fs::read_symlink("/proc/self/exe", error);
    if (error)
        return {};
    for (const fs::path& from : {fs::path(GLOWCAST_BIN_FROM_PREFIX), fs::path(GLOWCAST_LIBEXEC_FROM_PREFIX)}) {
        if (const std::optional<fs::path> prefix = prefixOf(self.parent_path(), from))
            return (*prefix / GLOWCAST_MODULES_FROM_PREFIX).string();
    }
    return {};
}

} // namespace

SharedLibrary::SharedLibrary(void* handle, std::string path, Log& log)
    : m_handle(handle), m_path(std::move(path)), m_log(log)
{
}

SharedLibrary::~SharedLibrary()
{
    dlclose(m_handle);
}

std::unique_ptr<SharedLibrary> SharedLibrary::open(const std::string& path, Log& log)
{
    // RTLD_LOCAL: what a library defines stays its own and cannot stand in for another's symbols.
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* why = dlerror();
        log.write("cannot load " + path + ": " + (why != nullptr ? why : "unknown error"));
        return nullptr;
    }
    return std::unique_ptr<SharedLibrary>(new SharedLibrary(handle, path, log));
}

std::unique_ptr<SharedLibrary> SharedLibrary::openSystem(const std::string& soname, Log& log)
{
    return open(soname, log);
}

std::unique_ptr<SharedLibrary> SharedLibrary::openModule(const std::string& fileName, Log& log)
{
    const char* folder = std::getenv("GLOWCAST_MODULE_DIR");
    const std::string dir = folder != nullptr && *folder != '\0' ? folder : installedModuleFolder();
    if (dir.empty()) {
        log.write("cannot load " + fileName + ": this program is not installed and GLOWCAST_MODULE_DIR is not set");
        return nullptr;
    }
    // A path with a slash, so that the dynamic linker takes this file and never searches for the name.
    return open(dir + "/" + fileName, log);
}

void* SharedLibrary::address(const char* name) const
{
    dlerror();
    void* found = dlsym(m_handle, name);
    if (found == nullptr)
        m_log.write("cannot find " + std::string(name) + " in " + m_path);
    return found;
}

} // namespace glowcast
