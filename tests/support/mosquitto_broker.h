#pragma once

// A Mosquitto broker of the test's own on a free loopback port, and the zigbee2mqtt stand-in on it.
// Never the system's broker: each has its own configuration, listens on 127.0.0.1 only and is killed
// when its owner goes.

#include "support/processes.h"

#include <QFile>
#include <QHostAddress>
#include <QTcpServer>
#include <QTemporaryDir>

#include <optional>
#include <string>

#include <unistd.h>

namespace glowcast::testing {

class MosquittoBroker {
public:
    // settings: more lines of its configuration ("allow_anonymous false", "password_file ...").
    explicit MosquittoBroker(const std::string& settings = "allow_anonymous true")
    {
        QTcpServer probe;
        m_port = probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
        probe.close(); // the broker takes the port
        QFile config(m_directory.filePath(QStringLiteral("mosquitto.conf")));
        // Without its configuration the broker would take the standard port: then it does not start.
        m_written = m_port > 0 && config.open(QIODevice::WriteOnly) &&
                    config.write(QByteArray::fromStdString(
                        "listener " + std::to_string(m_port) + " 127.0.0.1\npersistence false\n" +
                        (::getuid() == 0 ? "user root\n" : "") + settings + "\n")) > 0;
        config.close();
        start();
    }

    // Starts it (again, on the same port); true once it runs.
    bool start()
    {
        m_broker.reset();
        if (m_written)
            m_broker.emplace(QStringLiteral("/usr/sbin/mosquitto"),
                             QStringList{QStringLiteral("-c"), m_directory.filePath(QStringLiteral("mosquitto.conf"))});
        return running = m_written && m_broker->waitForOutput(" running", 10'000);
    }
    void stop()
    {
        m_broker.reset();
        running = false;
    }

    [[nodiscard]] int port() const { return m_port; }
    // What the broker has logged so far.
    [[nodiscard]] QByteArray output() { return m_broker ? m_broker->output() : QByteArray(); }
    [[nodiscard]] std::string address() const { return "127.0.0.1:" + std::to_string(m_port); }
    bool running = false;

private:
    QTemporaryDir m_directory;
    int m_port = 0;
    bool m_written = false;
    std::optional<Child> m_broker;
};

// glowcast-zigbee2mqtt-sim on the broker; what it got comes on its output as "TOPIC PAYLOAD" lines.
class Zigbee2MqttStandIn : public Child {
public:
    explicit Zigbee2MqttStandIn(const MosquittoBroker& broker, const QStringList& arguments = {})
        : Child(QStringLiteral(GLOWCAST_ZIGBEE2MQTT_SIM),
                QStringList{QStringLiteral("--broker"), QString::fromStdString(broker.address())} + arguments)
    {
        online = waitForOutput("online ", 10'000);
    }
    bool online = false;
};

} // namespace glowcast::testing
