#pragma once

#include <QCommandLineParser>
#include <QString>

#include <optional>
#include <span>
#include <string>
#include <vector>

namespace glowcast {

// What the command lines of every Glowcast program share: -h/--help and --version, and a bad command
// line refused with one line on standard error and exit status 2. Parsing needs no application
// object, so a program answers --help and --version before it opens a display or a bus.
class ProgramCommandLine final {
public:
    // program: the name the program is installed under; description: the text under the usage line.
    ProgramCommandLine(QString program, const QString& description);

    // The program adds its own options and positional arguments here before parse().
    QCommandLineParser parser;

    // Nothing when the program goes on; otherwise the exit status to end with at once: 0 once the
    // help or the version is printed, 2 once a bad command line is reported. A count of positional
    // arguments outside [least, most] is a bad command line. A word of "-" and digits ("-5") is a
    // positional argument, never an option.
    [[nodiscard]] std::optional<int> parse(int argc, const char* const* argv, qsizetype least = 0, qsizetype most = 0);
    // The same for a sub-command, from the words after its name.
    [[nodiscard]] std::optional<int> parse(std::span<const std::string> words, qsizetype least, qsizetype most);

    // Adds -v/--verbose; verbose() says whether it was given.
    void addVerboseOption();
    [[nodiscard]] bool verbose() const;
    // The positional arguments, and an option's value, exactly as given, bytes and all.
    [[nodiscard]] std::vector<std::string> words() const;
    [[nodiscard]] std::optional<std::string> value(const QString& option) const;

    // Takes the options the toolkit reads itself (-platform, -style, -session and the like), so that
    // they reach the application object made afterwards; the help leaves them out.
    void acceptToolkitOptions();

    // Reports a bad command line as "PROGRAM: MESSAGE (see PROGRAM --help)" and gives its exit status, 2.
    [[nodiscard]] int refuse(const QString& message) const;

    [[nodiscard]] QString helpText() const;

private:
    [[nodiscard]] std::optional<int> parseGiven(qsizetype least, qsizetype most);
    [[nodiscard]] std::string given(const QString& word) const;

    QString m_program;
    std::vector<std::string> m_given; // the program's name first
};

} // namespace glowcast
