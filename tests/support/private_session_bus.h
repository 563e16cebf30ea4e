#pragma once

#include <QProcess>
#include <QString>

namespace glowcast::testing {

// A session bus of the test's own: a dbus-daemon started for the test and stopped with it, so that
// nothing reaches the desktop's bus.
class PrivateSessionBus {
public:
    // configuration: the daemon's choice of configuration, the session bus's unless given.
    explicit PrivateSessionBus(const QStringList& configuration = {QStringLiteral("--session")})
    {
        m_daemon.setProgram(QStringLiteral("dbus-daemon"));
        m_daemon.setArguments(configuration + QStringList{QStringLiteral("--nofork"), QStringLiteral("--nopidfile"),
                                                          QStringLiteral("--print-address=1")});
        m_daemon.setProcessChannelMode(QProcess::SeparateChannels);
        m_daemon.start();
        if (!m_daemon.waitForStarted(10'000))
            return;
        // The daemon prints its address once it listens; a bounded wait for that one line.
        for (int attempt = 0; attempt < 100 && !m_daemon.canReadLine(); ++attempt)
            m_daemon.waitForReadyRead(100);
        m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
    }
    ~PrivateSessionBus()
    {
        m_daemon.terminate(); // QProcess kills it if it has not ended by then
        m_daemon.waitForFinished(5'000);
    }
    PrivateSessionBus(const PrivateSessionBus&) = delete;
    PrivateSessionBus& operator=(const PrivateSessionBus&) = delete;

    // Empty when the daemon did not start.
    [[nodiscard]] const QString& address() const { return m_address; }

private:
    QProcess m_daemon;
    QString m_address;
};

} // namespace glowcast::testing
