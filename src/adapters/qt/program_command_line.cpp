#include "program_command_line.h"

#include <QStringList>

#include <cstdio>
#include <utility>

namespace glowcast {

namespace {

const QString kHelp = QStringLiteral("help");
const QString kVersion = QStringLiteral("version");

void print(std::FILE* to, const QString& text)
{
    std::fputs(text.toLocal8Bit().constData(), to);
}

} // namespace

ProgramCommandLine::ProgramCommandLine(QString program, const QString& description) : m_program(std::move(program))
{
    parser.setApplicationDescription(description);
    // "-help" reads as "--help", and an unknown "-xyz" is named whole rather than as "-x".
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addOption(QCommandLineOption({QStringLiteral("h"), kHelp}, QStringLiteral("Show this help and exit.")));
    parser.addOption(QCommandLineOption(kVersion, QStringLiteral("Show the version and exit.")));
}

std::optional<int> ProgramCommandLine::parse(int argc, const char* const* argv, qsizetype least, qsizetype most)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    if (!parser.parse(arguments))
        return refuse(parser.errorText());
    if (parser.isSet(kHelp)) {
        print(stdout, helpText());
        return 0;
    }
    if (parser.isSet(kVersion)) {
        print(stdout, m_program + u' ' + QStringLiteral(GLOWCAST_VERSION) + u'\n');
        return 0;
    }
    const QStringList words = parser.positionalArguments();
    if (words.size() > most)
        return refuse(QStringLiteral("unexpected argument '%1'").arg(words.at(most)));
    if (words.size() < least)
        return refuse(QStringLiteral("missing argument"));
    return std::nullopt;
}

void ProgramCommandLine::acceptToolkitOptions()
{
    // The desktop's session manager, for one, restarts the program with "-session ID".
    const char* const withValue[] = {"platform",        "platformpluginpath", "platformtheme", "plugin",
                                     "qwindowgeometry", "qwindowicon",        "qwindowtitle",  "session",
                                     "display",         "geometry",           "style",         "stylesheet"};
    const char* const withoutValue[] = {"reverse", "widgetcount", "nograb", "dograb", "sync"};
    const auto accept = [this](const char* name, const QString& valueName) {
        QCommandLineOption option(QString::fromLatin1(name), QString(), valueName);
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    };
    for (const char* name : withValue)
        accept(name, QStringLiteral("value"));
    for (const char* name : withoutValue)
        accept(name, QString());
}

int ProgramCommandLine::refuse(const QString& message) const
{
    // The parser ends its messages with a full stop; ours go on.
    QString text = message;
    while (text.endsWith(u'.'))
        text.chop(1);
    print(stderr, QStringLiteral("%1: %2 (see %1 --help)\n").arg(m_program, text));
    return 2;
}

QString ProgramCommandLine::helpText() const
{
    // Without an application object the parser cannot name the program; it leaves a placeholder.
    return parser.helpText().replace(QStringLiteral("<executable_name>"), m_program);
}

} // namespace glowcast
