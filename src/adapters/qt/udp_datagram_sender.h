#pragma once

#include "core/ports/datagram_sender.h"
#include "core/ports/log.h"

#include <QHostAddress>
#include <QObject>
#include <QUdpSocket>

#include <map>
#include <optional>
#include <string>

namespace glowcast {

// Datagrams on one QUdpSocket. An address goes out at once; a host name is looked up once, without
// waiting, and what is sent to it before its answer is lost. A name that does not resolve and a
// datagram that cannot leave are each told once per host in the log.
class UdpDatagramSender final : public DatagramSender {
public:
    explicit UdpDatagramSender(Log& log);
    void send(std::string_view host, std::uint16_t port, std::span<const std::uint8_t> bytes) override;

private:
    struct Host {
        std::optional<QHostAddress> address; // nothing while its lookup runs, or after it failed
        bool told = false;                   // its failure is in the log
    };
    void tell(const std::string& host, Host& entry, const std::string& why);

    Log& m_log;
    QUdpSocket m_socket;
    QObject m_context; // lookups still running when the sender goes answer nobody
    std::map<std::string, Host, std::less<>> m_hosts;
};

} // namespace glowcast
