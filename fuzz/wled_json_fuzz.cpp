// Any bytes as a WLED device's state and info: no crash, and what is read holds what the adapter relies
// on: unique segment ids in 0..255, at most the capped number, names without control characters, and
// every body it would send a JSON object.
#include "adapters/wled/wled_json.h"
#include "fuzz_support.h"

#include <QJsonDocument>

#include <set>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace glowcast;
    NullLog log;
    const std::string_view bytes = fuzz::textOf(data, size);
    const WledInfo info = readWledInfo(bytes).value_or(WledInfo{});
    const auto segments = readWledSegments(bytes, log, "wled");
    if (!segments)
        return 0;
    fuzz::require(segments->size() <= kMostWledSegments);
    std::set<int> ids;
    std::vector<WledCommand> commands;
    const LampState state{true, 254, Chromaticity{0.7, 0.3}, std::nullopt, 4};
    for (std::size_t index = 0; index < segments->size(); ++index) {
        const WledSegment& segment = (*segments)[index];
        fuzz::require(segment.id >= 0 && segment.id <= 255 && ids.insert(segment.id).second);
        for (const char c : segment.name)
            fuzz::require(static_cast<unsigned char>(c) >= 0x20 && c != 0x7f);
        fuzz::require(QJsonDocument::fromJson(QByteArray::fromStdString(wledRestoreBody(segment))).isObject());
        commands.push_back({wledLampOf(segment, index, info), state});
    }
    fuzz::require(QJsonDocument::fromJson(QByteArray::fromStdString(wledCoverBody(commands))).isObject());
    return 0;
}
