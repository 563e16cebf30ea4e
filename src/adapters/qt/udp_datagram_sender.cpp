#include "adapters/qt/udp_datagram_sender.h"

#include "core/text/log_text.h"

#include <QHostInfo>

namespace glowcast {

UdpDatagramSender::UdpDatagramSender(Log& log) : m_log(log)
{
}

void UdpDatagramSender::send(std::string_view host, std::uint16_t port, std::span<const std::uint8_t> bytes)
{
    auto found = m_hosts.find(host);
    if (found == m_hosts.end()) {
        found = m_hosts.emplace(std::string{host}, Host{}).first;
        const QString name = QString::fromUtf8(host.data(), static_cast<qsizetype>(host.size()));
        if (QHostAddress address; address.setAddress(name)) {
            found->second.address = address;
        } else {
            QHostInfo::lookupHost(name, &m_context, [this, key = found->first](const QHostInfo& info) {
                Host& entry = m_hosts[key];
                if (info.error() != QHostInfo::NoError || info.addresses().isEmpty())
                    tell(key, entry, "does not resolve");
                else
                    entry.address = info.addresses().constFirst();
            });
        }
    }
    Host& entry = found->second;
    if (!entry.address)
        return;
    const QByteArray datagram(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
    if (m_socket.writeDatagram(datagram, *entry.address, port) < 0)
        tell(found->first, entry, "takes no datagram: " + m_socket.errorString().toStdString());
}

void UdpDatagramSender::tell(const std::string& host, Host& entry, const std::string& why)
{
    if (entry.told)
        return;
    entry.told = true;
    m_log.write(logLine("sound sync: " + host + " " + why));
}

} // namespace glowcast
