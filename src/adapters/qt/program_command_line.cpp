#include "adapters/qt/program_command_line.h"

#include <QStringList>

#include <algorithm>
#include <cstdio>
#include <utility>

namespace glowcast {

namespace {

const QString kHelp = QStringLiteral("help");
const QString kVersion = QStringLiteral("version");
const QString kVerbose = QStringLiteral("verbose");
// Stands in front of a negative number's index while the parser reads the line.
const QChar kMark = QChar(u'\x01');

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
    m_given.assign(argv, argv + argc);
    return parseGiven(least, most);
}

std::optional<int> ProgramCommandLine::parse(std::span<const std::string> words, qsizetype least, qsizetype most)
{
    m_given.assign(1, m_program.toStdString());
    m_given.insert(m_given.end(), words.begin(), words.end());
    return parseGiven(least, most);
}

std::optional<int> ProgramCommandLine::parseGiven(qsizetype least, qsizetype most)
{
    // The parser sees a word of "-" and digits as a mark that stands for it, so that a negative
    // number is never taken for an option; words() gives it back.
    QStringList arguments;
    for (std::size_t i = 0; i < m_given.size(); ++i) {
        const std::string& word = m_given[i];
        const bool number = i > 0 && word.size() > 1 && word[0] == '-' &&
                            std::all_of(word.begin() + 1, word.end(), [](char c) { return c >= '0' && c <= '9'; });
        arguments.append(number ? kMark + QString::number(i) : QString::fromLocal8Bit(word.c_str()));
    }
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
        return refuse(QStringLiteral("unexpected argument '%1'").arg(QString::fromStdString(given(words.at(most)))));
    if (words.size() < least)
        return refuse(QStringLiteral("missing argument"));
    return std::nullopt;
}

void ProgramCommandLine::addVerboseOption()
{
    parser.addOption(
        QCommandLineOption({QStringLiteral("v"), kVerbose}, QStringLiteral("Show the log lines on standard error.")));
}

bool ProgramCommandLine::verbose() const
{
    return parser.optionNames().contains(kVerbose) || parser.optionNames().contains(QStringLiteral("v"));
}

std::vector<std::string> ProgramCommandLine::words() const
{
    // Each word as it was typed: the next given word that reads as it, bytes and all.
    std::vector<std::string> words;
    std::size_t next = 1;
    for (const QString& word : parser.positionalArguments()) {
        const std::string typed = given(word);
        const auto found =
            std::find_if(m_given.begin() + static_cast<std::ptrdiff_t>(std::min(next, m_given.size())), m_given.end(),
                         [&](const std::string& candidate) {
                             return candidate == typed || QString::fromLocal8Bit(candidate.c_str()) == word;
                         });
        if (found == m_given.end()) {
            words.push_back(typed);
            continue;
        }
        words.push_back(*found);
        next = static_cast<std::size_t>(found - m_given.begin()) + 1;
    }
    return words;
}

std::optional<std::string> ProgramCommandLine::value(const QString& option) const
{
    if (!parser.isSet(option))
        return std::nullopt;
    return given(parser.value(option));
}

std::string ProgramCommandLine::given(const QString& word) const
{
    if (word.startsWith(kMark)) {
        bool number = false;
        const qsizetype index = word.mid(1).toLongLong(&number);
        if (number && index >= 0 && static_cast<std::size_t>(index) < m_given.size())
            return m_given[static_cast<std::size_t>(index)];
    }
    return word.toLocal8Bit().toStdString();
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
