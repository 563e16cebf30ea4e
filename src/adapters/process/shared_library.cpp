#include "adapters/process/shared_library.h"

#include <dlfcn.h>

#include <cstdlib>

namespace glowcast {

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
    const std::string dir = folder != nullptr && *folder != '\0' ? folder : GLOWCAST_MODULE_INSTALL_DIR;
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
