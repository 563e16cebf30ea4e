#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

#include <string>
#include <vector>

namespace glowcast::testing {

// An HTTP server on loopback that answers every request with the same bytes, written whole as soon
// as the request's head arrived, and keeps each request's head. For answers no stand-in gives: a
// redirect, HTML, a reply over a cap.
class CannedHttpServer {
public:
    explicit CannedHttpServer(QByteArray answer) : m_answer(std::move(answer))
    {
        m_server.listen(QHostAddress::LocalHost);
        QObject::connect(&m_server, &QTcpServer::newConnection, &m_server, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection()) {
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    m_pending += socket->readAll();
                    const qsizetype end = m_pending.indexOf("\r\n\r\n");
                    if (end < 0)
                        return;
                    heads.push_back(m_pending.left(end).toStdString());
                    m_pending.clear();
                    socket->write(m_answer);
                    socket->disconnectFromHost();
                });
                QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }
    [[nodiscard]] std::string address() const { return "http://127.0.0.1:" + std::to_string(m_server.serverPort()); }

    std::vector<std::string> heads;

private:
    QByteArray m_answer;
    QByteArray m_pending;
    QTcpServer m_server;
};

} // namespace glowcast::testing
