// glowcast: chooses the front end. With --headless it runs here, without a window or a display and
// without Qt Widgets in the process; otherwise it becomes the windowed program (glowcast-window,
// beside it in the build tree, in libexec when installed), which links Qt Widgets.

#include "adapters/process/stderr_log.h"
#include "app/application.h"
#include "app/headless_front_end.h"
#include "app/options.h"

#include <QCoreApplication>
#include <QDBusConnection>

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace {

// Replaces this process with the windowed program, with the same arguments; returns only when that
// cannot be done.
int becomeWindowProgram(char** argv)
{
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error) {
        for (const std::filesystem::path& program :
             {self.parent_path() / "glowcast-window",
              (self.parent_path() / GLOWCAST_WINDOW_FROM_BIN).lexically_normal()}) {
            if (::access(program.c_str(), X_OK) != 0)
                continue;
            ::execv(program.c_str(), argv);
            std::fprintf(stderr, "glowcast: cannot start %s: %s\n", program.c_str(), std::strerror(errno));
            return 1;
        }
    }
    std::fprintf(stderr, "glowcast: the window program (glowcast-window) is missing; glowcast --headless runs "
                         "without it\n");
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    using namespace glowcast;

    CommandLine line;
    if (const std::optional<int> status = parseCommandLine(argc, argv, line))
        return *status;
    if (!line.headless)
        return becomeWindowProgram(argv);

    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Glowcast"));
    StderrLog log("glowcast");
    HeadlessFrontEnd frontEnd(log, QDBusConnection::sessionBus());
    return Application::run(frontEnd, log, {line.windowPicture});
}
