#pragma once

// The programs that tests and benchmarks start: each is stopped (killed if need be) when its owner
// goes, and every wait is bounded in time. The paths of this build's programs come from the
// definitions that glowcast_test_programs() in cmake/GlowcastTesting.cmake adds.

#include "adapters/qt/qt_http_transport.h"
#include "support/recording_log.h"
#include "support/waiting.h"

#include <QColor>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <string>
#include <vector>

#include <csignal>

namespace glowcast::testing {

using namespace std::chrono_literals;

// The words of a command line, split at spaces.
inline QStringList words(const char* line)
{
    return QString::fromUtf8(line).split(u' ');
}

// The environment of a program a test starts: this session bus (none when empty), this
// configuration directory (the runtime directory as well), this portal (none when empty), no display
// but Qt's offscreen one.
inline QProcessEnvironment programEnvironment(const QString& busAddress, const QString& configDirectory,
                                              const std::string& portal = {})
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"GLOWCAST_PORTAL", "DISPLAY", "WAYLAND_DISPLAY"})
        environment.remove(QString::fromLatin1(name));
    if (!busAddress.isEmpty())
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), busAddress);
    if (!portal.empty())
        environment.insert(QStringLiteral("GLOWCAST_PORTAL"), QString::fromStdString(portal));
    environment.insert(QStringLiteral("GLOWCAST_CONFIG_DIR"), configDirectory);
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), configDirectory);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    return environment;
}

class Child {
public:
    Child(const QString& program, const QStringList& arguments,
          const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment())
    {
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.setProcessEnvironment(environment);
        m_process.start(program, arguments);
        m_process.waitForStarted(10'000);
    }
    ~Child() // QProcess kills what has not ended by then
    {
        m_process.terminate();
        m_process.waitForFinished(10'000);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    void signal(int number) { ::kill(static_cast<pid_t>(m_process.processId()), number); }
    // Writes to the process's standard input.
    void write(const QByteArray& text) { m_process.write(text); }
    [[nodiscard]] qint64 pid() const { return m_process.processId(); }
    // Waits for the process to end by itself; its exit code, or -1 when it did not end or crashed.
    int exitCode(int timeoutMs = 15'000)
    {
        if (m_process.state() != QProcess::NotRunning && !m_process.waitForFinished(timeoutMs))
            return -1;
        return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
    }
    // Everything the process has written so far, standard output and error together.
    const QByteArray& output() { return m_output += m_process.readAll(); }
    bool waitForOutput(const QByteArray& text, int timeoutMs = 30'000)
    {
        return waitFor([&] { return output().contains(text); }, timeoutMs); // the output arrives as events
    }
    // The same with the event loop standing still: what comes for this process's objects meanwhile waits.
    bool waitForOutputWithoutEvents(const QByteArray& text, int timeoutMs = 30'000)
    {
        const QDeadlineTimer deadline(timeoutMs);
        while (!output().contains(text))
            if (deadline.hasExpired() || !m_process.waitForReadyRead(static_cast<int>(deadline.remainingTime())))
                return false;
        return true;
    }

private:
    QProcess m_process;
    QByteArray m_output;
};

struct CommandRun {
    int exitCode = -1; // -1 when the program crashed or did not end within the time
    std::string out;
    std::string err;
};

// Runs a program to its end, its standard output and error apart.
inline CommandRun runProgram(const QString& program, const QStringList& arguments,
                             const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment(),
                             int timeoutMs = 30'000)
{
    QProcess process; // killed when it goes, if it has not ended by then
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    const bool ended = process.waitForFinished(timeoutMs) && process.exitStatus() == QProcess::NormalExit;
    return {ended ? process.exitCode() : -1, process.readAllStandardOutput().toStdString(),
            process.readAllStandardError().toStdString()};
}

// A stand-in of this build (the bridge simulator, Home Assistant's, WLED's) on a free loopback port, as
// its first line "listening on HOST:PORT" tells, and an HTTP request to it.
class StandIn : public Child {
public:
    explicit StandIn(const QString& program, const QStringList& arguments = {}) : Child(program, arguments)
    {
        if (waitForOutput("\n", 10'000) && output().startsWith("listening on "))
            address = output().mid(13, output().indexOf('\n') - 13).trimmed().toStdString();
    }

    std::string control(HttpMethod method, const std::string& path, const std::string& body = {})
    {
        RecordingLog log;
        QtHttpTransport http{log, {5s, std::size_t{16} << 20}};
        return http.send({method, "http://" + address + path, body, 5s}).value_or("");
    }

    std::string address; // "127.0.0.1:PORT", empty when the stand-in did not start
};

// The bridge simulator, with its control interface.
class Simulator : public StandIn {
public:
    explicit Simulator(const QStringList& arguments = {}) : StandIn(QStringLiteral(GLOWCAST_BRIDGE_SIM), arguments) {}

    [[nodiscard]] QJsonArray records()
    {
        return QJsonDocument::fromJson(QByteArray::fromStdString(control(HttpMethod::Get, "/sim/requests"))).array();
    }
    // The recorded requests as "METHOD path body", in arrival order; only those of one method if given.
    [[nodiscard]] std::vector<std::string> requests(const QString& method = {})
    {
        std::vector<std::string> found;
        for (const QJsonValue record : records()) {
            const auto text = [&](const char* key) { return record[QLatin1String(key)].toString(); };
            if (method.isEmpty() || text("method") == method)
                found.push_back(
                    (text("method") + u' ' + text("path") + (text("body").isEmpty() ? QString() : u' ' + text("body")))
                        .toStdString());
        }
        return found;
    }
};

// A configuration directory of the test's own, and its preferences file.
class ConfigDirectory {
public:
    [[nodiscard]] QString path() const { return m_directory.path(); }
    [[nodiscard]] QString file(const QString& name) const { return m_directory.filePath(name); }
    void write(const std::string& document) const
    {
        QFile out(file(QStringLiteral("preferences.json")));
        if (out.open(QIODevice::WriteOnly | QIODevice::Truncate))
            out.write(QByteArray::fromStdString(document));
    }
    // The preferences of a Glowcast paired as "alice" with the bridge at this address; the lamps as
    // savedLamps() gives them ("1+ 2- 3+"); further members (",\"systems\":[...]") as given.
    void writePaired(const std::string& address, const std::string& lamps, const std::string& further = {}) const
    {
        std::string list;
        for (const QString& lamp : QString::fromStdString(lamps).split(u' '))
            list += std::string(list.empty() ? "" : ",") + R"({"id":")" + lamp.chopped(1).toStdString() +
                    R"(","enabled":)" + (lamp.endsWith(u'+') ? "true}" : "false}");
        write(R"({"username":"alice","lastusedbridgeIP":")" + address + R"(","lamps":[)" + list + "]" + further + "}");
    }
    // A cover of one colour, a PNG named after it; its path.
    [[nodiscard]] QString flatCover(const QColor& colour) const
    {
        QImage cover(16, 16, QImage::Format_RGB32);
        cover.fill(colour);
        const QString path = file(colour.name().mid(1) + QStringLiteral(".png"));
        return cover.save(path) ? path : QString();
    }
    [[nodiscard]] QJsonObject preferences() const
    {
        QFile in(file(QStringLiteral("preferences.json")));
        return in.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(in.readAll()).object() : QJsonObject();
    }
    // The saved lamps as "id+" (enabled) or "id-", in order.
    [[nodiscard]] std::string savedLamps() const
    {
        std::string out;
        for (const QJsonValue lamp : preferences()[QStringLiteral("lamps")].toArray())
            out += (out.empty() ? "" : " ") + lamp[QStringLiteral("id")].toString().toStdString() +
                   (lamp[QStringLiteral("enabled")].toBool() ? "+" : "-");
        return out;
    }

private:
    QTemporaryDir m_directory;
};

} // namespace glowcast::testing
