#include "adapters/qt/qt_cover_sniffer.h"

#include <QBuffer>
#include <QByteArray>
#include <QImageReader>

namespace glowcast {

std::optional<std::string> QtCoverSniffer::imageFormat(std::span<const std::uint8_t> bytes)
{
    const QByteArray data =
        QByteArray::fromRawData(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setDecideFormatFromContent(true);
    if (!reader.canRead())
        return std::nullopt;
    return reader.format().toStdString();
}

} // namespace glowcast
