// glowcast-window: the windowed program, which glowcast becomes when it runs with a window.

#include "adapters/process/stderr_log.h"
#include "app/application.h"
#include "app/options.h"
#include "app/window_front_end.h"

#include <QApplication>

int main(int argc, char** argv)
{
    using namespace glowcast;

    CommandLine line;
    if (const std::optional<int> status = parseCommandLine(argc, argv, line))
        return *status;
    // Ties the window to the installed desktop entry, and so to its name and icon.
    QApplication::setDesktopFileName(QStringLiteral("org.glowcast.Glowcast"));

    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Glowcast"));
    QApplication::setQuitOnLastWindowClosed(false);
    StderrLog log("glowcast");
    WindowFrontEnd frontEnd;
    return Application::run(frontEnd, log, {line.windowPicture});
}
