#include "options.h"

#include <QCommandLineParser>
#include <QStringList>

#include <cstdio>

namespace glowcast {

std::optional<CommandLine> parseCommandLine(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    QCommandLineParser parser;
    const QCommandLineOption headless(QStringLiteral("headless"),
                                      QStringLiteral("Run without a window: pairing and alerts through desktop "
                                                     "notifications and the log."));
    const QCommandLineOption picture(QStringLiteral("window-picture"),
                                     QStringLiteral("On SIGUSR1, save a picture of the window to FILE."),
                                     QStringLiteral("FILE"));
    parser.addOptions({headless, picture});
    if (!parser.parse(arguments) || !parser.positionalArguments().isEmpty()) {
        const QString error =
            parser.errorText().isEmpty() ? QStringLiteral("glowcast takes no arguments") : parser.errorText();
        std::fprintf(stderr, "glowcast: %s\n", error.toLocal8Bit().constData());
        return std::nullopt;
    }
    CommandLine line;
    line.headless = parser.isSet(headless);
    if (parser.isSet(picture))
        line.windowPicture = parser.value(picture).toStdString();
    return line;
}

} // namespace glowcast
