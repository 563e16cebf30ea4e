#pragma once

#include "core/ports/log.h"

#include <memory>
#include <string>

namespace glowcast {

// A shared library opened while the program runs, when what it serves is first wanted, so that a
// service that never needs it never maps it nor what it pulls in. Closed when the object goes; every
// pointer taken from it goes with it.
class SharedLibrary {
public:
    // A library of the system's by its soname ("libmosquitto.so.1"), found as the dynamic linker
    // finds any. Null after a log line when it is missing.
    [[nodiscard]] static std::unique_ptr<SharedLibrary> openSystem(const std::string& soname, Log& log);
    // One of Glowcast's own modules by its file name ("glowcast-sound.so"): from the folder
    // $GLOWCAST_MODULE_DIR names when it is set (the build tree's tests and benchmarks set it),
    // otherwise from the folder the package installs modules in. Null after a log line when missing.
    [[nodiscard]] static std::unique_ptr<SharedLibrary> openModule(const std::string& fileName, Log& log);

    ~SharedLibrary();
    SharedLibrary(const SharedLibrary&) = delete;
    SharedLibrary& operator=(const SharedLibrary&) = delete;

    // The named function, or null after a log line.
    template <typename Function> [[nodiscard]] Function* function(const char* name) const
    {
        return reinterpret_cast<Function*>(address(name));
    }
    // Where the library was found, for log lines.
    [[nodiscard]] const std::string& path() const { return m_path; }

private:
    SharedLibrary(void* handle, std::string path, Log& log);
    [[nodiscard]] static std::unique_ptr<SharedLibrary> open(const std::string& path, Log& log);
    [[nodiscard]] void* address(const char* name) const;

    void* m_handle;
    std::string m_path;
    Log& m_log;
};

} // namespace glowcast
