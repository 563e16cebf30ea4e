#pragma once

#include "support/processes.h"

#include <QByteArray>
#include <QFile>
#include <QHostAddress>
#include <QSslKey>
#include <QSslServer>
#include <QTcpServer>
#include <QTcpSocket>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace glowcast::testing {

// An HTTP server on loopback that answers every request with the same bytes, written whole as soon
// as the request's head arrived, and keeps each request's head. For answers no stand-in gives: a
// redirect, HTML, a reply over a cap; over https with the given certificate and key.
class CannedHttpServer {
public:
    explicit CannedHttpServer(QByteArray answer, const std::optional<QSslConfiguration>& tls = std::nullopt)
        : m_answer(std::move(answer)), m_server(tls ? std::make_unique<QSslServer>() : std::make_unique<QTcpServer>())
    {
        if (tls)
            static_cast<QSslServer&>(*m_server).setSslConfiguration(*tls);
        m_server->listen(QHostAddress::LocalHost);
        // A connection is pending once it can be read: for https, after the handshake.
        QObject::connect(m_server.get(), &QTcpServer::pendingConnectionAvailable, m_server.get(), [this] {
            while (QTcpSocket* socket = m_server->nextPendingConnection()) {
                const auto take = [this, socket] {
                    m_pending += socket->readAll();
                    const qsizetype end = m_pending.indexOf("\r\n\r\n");
                    if (end < 0)
                        return;
                    heads.push_back(m_pending.left(end).toStdString());
                    m_pending.clear();
                    socket->write(m_answer);
                    socket->disconnectFromHost();
                };
                QObject::connect(socket, &QTcpSocket::readyRead, socket, take);
                QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
                take(); // what came with the handshake
            }
        });
    }
    [[nodiscard]] std::string address() const
    {
        return (qobject_cast<QSslServer*>(m_server.get()) ? "https://127.0.0.1:" : "http://127.0.0.1:") +
               std::to_string(m_server->serverPort());
    }

    std::vector<std::string> heads;

private:
    QByteArray m_answer;
    QByteArray m_pending;
    std::unique_ptr<QTcpServer> m_server;
};

// A server's TLS set-up with a throw-away self-signed certificate for 127.0.0.1, made now in the folder
// (cert.pem and key.pem there); nothing when it could not be made.
inline std::optional<QSslConfiguration> selfSignedTls(const QString& folder)
{
    const QString cert = folder + QStringLiteral("/cert.pem");
    const QString key = folder + QStringLiteral("/key.pem");
    const int made =
        runProgram(QStringLiteral("openssl"), words("req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1 "
                                                    "-addext subjectAltName=IP:127.0.0.1 -keyout") +
                                                  QStringList{key, QStringLiteral("-out"), cert})
            .exitCode;
    QFile certFile(cert);
    QFile keyFile(key);
    if (made != 0 || !certFile.open(QIODevice::ReadOnly) || !keyFile.open(QIODevice::ReadOnly))
        return std::nullopt;
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setLocalCertificate(QSslCertificate(certFile.readAll(), QSsl::Pem));
    tls.setPrivateKey(QSslKey(keyFile.readAll(), QSsl::Rsa, QSsl::Pem));
    return tls;
}

} // namespace glowcast::testing
