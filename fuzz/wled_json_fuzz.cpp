#include "adapters/wled/wled_json.h"
#include "support/recording_log.h"

#include <QJsonDocument>

#include <cstdint>
#include <cstdlib>
#include <set>
#include <string_view>

// Any bytes as a WLED device's state and info: no crash, and what is read holds what the adapter relies
// on: unique segment ids in 0..255, at most the capped number, names without control characters, and
// every body it would send a JSON object.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    glowcast::NullLog log;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const glowcast::WledInfo info = glowcast::readWledInfo(bytes).value_or(glowcast::WledInfo{});
    const auto segments = glowcast::readWledSegments(bytes, log, "wled");
    if (!segments)
        return 0;
    if (segments->size() > glowcast::kMostWledSegments)
        std::abort();
    std::set<int> ids;
    std::vector<glowcast::WledCommand> commands;
    const glowcast::LampState state{true, 254, glowcast::Chromaticity{0.7, 0.3}, std::nullopt, 4};
    for (std::size_t index = 0; index < segments->size(); ++index) {
        const glowcast::WledSegment& segment = (*segments)[index];
        if (segment.id < 0 || segment.id > 255 || !ids.insert(segment.id).second)
            std::abort();
        for (const char c : segment.name)
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
                std::abort();
        if (!QJsonDocument::fromJson(QByteArray::fromStdString(glowcast::wledRestoreBody(segment))).isObject())
            std::abort();
        commands.push_back({glowcast::wledLampOf(segment, index, info), state});
    }
    if (!QJsonDocument::fromJson(QByteArray::fromStdString(glowcast::wledCoverBody(commands))).isObject())
        std::abort();
    return 0;
}
