#pragma once

// What the commands that act on the running Glowcast, else on its preferences file, share.

#include "adapters/dbus/dbus_control_service.h"
#include "adapters/files/file_preferences.h"
#include "adapters/qt/program_command_line.h"
#include "core/text/log_text.h"
#include "core/text/outcome.h"
#include "glowcastctl/commands.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusMessage>
#include <QThread>

#include <cstdio>
#include <initializer_list>
#include <optional>
#include <string>

namespace glowcast::ctl {

struct Context {
    explicit Context(bool verbose) : log(verbose) {}

    int argc = 1;
    char name[12] = "glowcastctl";
    char* argv[2] = {name, nullptr};
    QCoreApplication application{argc, argv};
    CommandLog log;
};

// The running program on the session bus.
class RunningGlowcast {
public:
    // Nothing when no Glowcast runs on the session bus, or there is no session bus.
    static std::optional<RunningGlowcast> find()
    {
        // Before the connection's own thread starts reading messages, which looks the types up meanwhile.
        registerControlTypes();
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (!bus.isConnected() || bus.interface() == nullptr ||
            !bus.interface()->isServiceRegistered(QString::fromLatin1(control_bus::kService)))
            return std::nullopt;
        return RunningGlowcast{bus};
    }

    // The reply to method, or the error. A program that has just claimed its name puts its object on
    // the bus a moment later: its absence is waited for briefly. A program busy pairing answers when
    // it is done, so the wait for an answer is long.
    [[nodiscard]] QDBusMessage call(const char* method, const QVariantList& arguments = {}) const
    {
        QDBusMessage message = QDBusMessage::createMethodCall(
            QString::fromLatin1(control_bus::kService), QString::fromLatin1(control_bus::kPath),
            QString::fromLatin1(control_bus::kInterface), QString::fromLatin1(method));
        message.setArguments(arguments);
        QDBusMessage reply;
        for (int attempt = 0; attempt < 20; ++attempt) {
            reply = m_bus.call(message, QDBus::Block, 120'000);
            if (reply.errorName() != QStringLiteral("org.freedesktop.DBus.Error.UnknownObject") &&
                reply.errorName() != QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod"))
                break;
            QThread::msleep(100);
        }
        return reply;
    }

    // Whether the program still holds its name: one that is quitting gives it up.
    [[nodiscard]] bool stillThere() const
    {
        return m_bus.isConnected() &&
               m_bus.interface()->isServiceRegistered(QString::fromLatin1(control_bus::kService));
    }

private:
    explicit RunningGlowcast(QDBusConnection bus) : m_bus(std::move(bus)) {}
    QDBusConnection m_bus;
};

// The running Glowcast's reply to method, or nothing when none answers it: none runs, or the one
// found ended before it answered (it was quitting), and the preferences file serves instead. A reply
// that does not carry replySignature is turned into an error, so that it is never read as another type.
inline std::optional<QDBusMessage> askRunning(const char* method, const QVariantList& arguments = {},
                                              const char* replySignature = "")
{
    const std::optional<RunningGlowcast> running = RunningGlowcast::find();
    if (!running)
        return std::nullopt;
    const QDBusMessage reply = running->call(method, arguments);
    if (reply.type() != QDBusMessage::ReplyMessage)
        return running->stillThere() ? std::optional{reply} : std::nullopt;
    if (reply.signature() != QLatin1String(replySignature))
        return reply.createErrorReply(
            QDBusError::InvalidSignature,
            QStringLiteral("the running Glowcast answered %1 with (%2), not (%3)")
                .arg(QLatin1String(method), reply.signature(), QLatin1String(replySignature)));
    return reply;
}

// An outside text as one line of output: control characters escaped as the log escapes them.
inline std::string shownText(const QString& text)
{
    return printable(text.toStdString());
}

// Status's "latency", by system id (the first bridge's is empty); none from a reply without it.
inline ControlLatencies latenciesOf(const QVariantMap& status)
{
    const QVariant latency = status.value(QStringLiteral("latency"));
    if (!latency.canConvert<QDBusArgument>() ||
        latency.value<QDBusArgument>().currentSignature() != QStringLiteral("a{s(uu)}"))
        return {};
    return qdbus_cast<ControlLatencies>(latency);
}

// The exit status for an error reply: 2 for a value the command line gave wrongly, 1 otherwise.
inline int reportError(const char* command, const QDBusMessage& reply)
{
    std::fprintf(stderr, "glowcastctl %s: %s\n", command, shownText(reply.errorMessage()).c_str());
    const QString name = reply.errorName();
    return name == QString::fromLatin1(control_bus::kInvalidArgs) ||
                   name == QString::fromLatin1(control_bus::kInvalidValue) ||
                   name == QString::fromLatin1(control_bus::kUnknownSetting)
               ? 2
               : 1;
}

inline int reportOutcome(const char* command, const Outcome& outcome)
{
    std::fprintf(stderr, "glowcastctl %s: %s\n", command, outcome.message.c_str());
    return outcome.failure == Failure::UnknownSetting || outcome.failure == Failure::WrongKind ||
                   outcome.failure == Failure::InvalidValue
               ? 2
               : 1;
}

// The command line of "glowcastctl NAME" with -v/--verbose and its words' names.
class ControlCommandLine {
public:
    ControlCommandLine(const char* name, const QString& description, std::initializer_list<const char*> words = {})
        : line(QStringLiteral("glowcastctl ") + QLatin1String(name), description)
    {
        line.addVerboseOption();
        for (const char* word : words)
            line.parser.addPositionalArgument(QLatin1String(word), {});
    }
    ProgramCommandLine line;
};

inline std::string inFile(const FilePreferences& preferences)
{
    return "in " + preferences.filePath().string() + " (Glowcast is not running)";
}

} // namespace glowcast::ctl
