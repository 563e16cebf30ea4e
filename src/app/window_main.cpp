// glowcast-window: the windowed program, which glowcast becomes when it runs with a window.

#include "adapters/stderr_log.h"
#include "application.h"
#include "options.h"
#include "window_front_end.h"

#include <QApplication>

int main(int argc, char** argv)
{
    using namespace glowcast;

    const std::optional<CommandLine> line = parseCommandLine(argc, argv);
    if (!line)
        return 2;

    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Glowcast"));
    QApplication::setQuitOnLastWindowClosed(false);
    StderrLog log("glowcast");
    WindowFrontEnd frontEnd;
    return Application::run(frontEnd, log, {line->windowPicture});
}
