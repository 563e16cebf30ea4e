#include "app/options.h"

#include "adapters/qt/program_command_line.h"

namespace glowcast {

std::optional<int> parseCommandLine(int argc, char** argv, CommandLine& line)
{
    ProgramCommandLine commandLine(
        QStringLiteral("glowcast"),
        QStringLiteral("Colours the lamps of the room after the album cover that is showing: one dominant colour of\n"
                       "the cover for each enabled lamp, sent through the lighting bridge on the local network."));
    const QCommandLineOption headless(QStringLiteral("headless"),
                                      QStringLiteral("Run in the background, without a window: pairing and alerts "
                                                     "through desktop notifications and the log."));
    const QCommandLineOption picture(QStringLiteral("window-picture"),
                                     QStringLiteral("On SIGUSR1, save a picture of the window to FILE."),
                                     QStringLiteral("FILE"));
    commandLine.parser.addOptions({headless, picture});
    commandLine.acceptToolkitOptions();
    if (const std::optional<int> status = commandLine.parse(argc, argv))
        return status;
    line.headless = commandLine.parser.isSet(headless);
    if (commandLine.parser.isSet(picture))
        line.windowPicture = commandLine.parser.value(picture).toStdString();
    return std::nullopt;
}

} // namespace glowcast
