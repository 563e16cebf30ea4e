#pragma once

// The real processes the end-to-end tests start: each is stopped (killed if need be) when the test
// ends, and every wait is bounded in time.

#include "adapters/qt_http_transport.h"
#include "fakes/recording_log.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QThread>

#include <functional>
#include <string>
#include <vector>

#include <csignal>

namespace glowcast::e2e {

using namespace std::chrono_literals;

// Polls until done() holds or the time is up; true when it holds.
inline bool waitFor(const std::function<bool()>& done, int timeoutMs = 30'000)
{
    const QDeadlineTimer deadline(timeoutMs);
    for (; !done(); QCoreApplication::processEvents()) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(50);
    }
    return true;
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
    void signal(int number) { ::kill(static_cast<pid_t>(m_process.processId()), number); }
    [[nodiscard]] qint64 pid() const { return m_process.processId(); }
    // Waits for the process to end by itself; its exit code, or -1 when it did not end or crashed.
    int exitCode(int timeoutMs = 15'000)
    {
        if (m_process.state() != QProcess::NotRunning && !m_process.waitForFinished(timeoutMs))
            return -1;
        return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
    }
    // Everything the process has written so far.
    const QByteArray& output() { return m_output += m_process.readAll(); }
    bool waitForOutput(const QByteArray& text, int timeoutMs = 30'000)
    {
        return waitFor([&] { return m_process.waitForReadyRead(50), output().contains(text); }, timeoutMs);
    }

private:
    QProcess m_process;
    QByteArray m_output;
};

// The bridge simulator on a free loopback port, with its control interface.
class Simulator : public Child {
public:
    explicit Simulator(const QStringList& arguments = {})
        : Child(QStringLiteral(GLOWCAST_BRIDGE_SIM),
                QStringList{QStringLiteral("--port"), QStringLiteral("0")} + arguments)
    {
        if (waitForOutput("\n", 10'000) && output().startsWith("listening on "))
            address = output().mid(13).trimmed().toStdString();
    }

    std::string control(HttpMethod method, const std::string& path, const std::string& body = {})
    {
        RecordingLog log;
        QtHttpTransport http{log, {5s, std::size_t{16} << 20}};
        return http.send({method, "http://" + address + path, body, 5s}).value_or("");
    }
    [[nodiscard]] QJsonArray records()
    {
        return QJsonDocument::fromJson(QByteArray::fromStdString(control(HttpMethod::Get, "/sim/requests"))).array();
    }
    // The recorded requests as "METHOD path body", in arrival order; only those of one method if given.
    [[nodiscard]] std::vector<std::string> requests(const QString& method = {})
    {
        std::vector<std::string> found;
        for (const QJsonValue record : records()) {
            const QString body = record[QStringLiteral("body")].toString();
            if (method.isEmpty() || record[QStringLiteral("method")].toString() == method)
                found.push_back((record[QStringLiteral("method")].toString() + u' ' +
                                 record[QStringLiteral("path")].toString() + (body.isEmpty() ? QString() : u' ' + body))
                                    .toStdString());
        }
        return found;
    }

    std::string address; // "127.0.0.1:PORT", empty when the simulator did not start
};

} // namespace glowcast::e2e
