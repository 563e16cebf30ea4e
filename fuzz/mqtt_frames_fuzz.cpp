// Any bytes as a broker's stream through the relay's packet reader, under a cap from the first byte and
// cut into pieces of a size from the second: what passes and what is left out do not depend on how the
// bytes arrive, nothing passes that was not sent, and what passed is packets within the cap, each whole but
// perhaps the last.
#include "adapters/mqtt/mqtt_guard.h"
#include "fuzz_support.h"

#include <vector>

namespace {

struct Read {
    bool open = true;
    std::string passed;
    std::vector<glowcast::MqttFrames::Dropped> dropped;
    friend bool operator==(const Read&, const Read&) = default;
};

Read readInPieces(std::size_t limit, std::string_view stream, std::size_t piece)
{
    glowcast::MqttFrames frames(limit);
    Read read;
    for (std::size_t at = 0; at < stream.size() && read.open; at += piece)
        read.open = frames.take(stream.substr(at, piece), read.passed,
                                [&](glowcast::MqttFrames::Dropped one) { read.dropped.push_back(std::move(one)); });
    return read;
}

// Whether each packet's remaining length, read from its fixed header (at most four bytes), is within the limit.
bool packetsWithin(std::size_t limit, std::string_view stream)
{
    for (std::size_t at = 1; at < stream.size(); ++at) { // at: the length's first byte
        std::size_t length = 0;
        bool more = true;
        for (std::size_t shift = 0; more && at < stream.size() && shift < 28; shift += 7) {
            const auto byte = static_cast<unsigned char>(stream[at++]);
            length += std::size_t{byte & 0x7fu} << shift;
            more = (byte & 0x80) != 0;
        }
        if (more || length > limit)
            return false;
        at += length; // onto the next packet's first byte
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using glowcast::fuzz::require;
    if (size < 2)
        return 0;
    const std::size_t limit = data[0];
    const std::size_t piece = data[1] % 16 + 1;
    const std::string_view stream = glowcast::fuzz::textOf(data + 2, size - 2);
    const Read whole = readInPieces(limit, stream, stream.size() + 1);
    require(readInPieces(limit, stream, piece) == whole);
    require(whole.passed.size() <= stream.size());
    require(packetsWithin(limit, whole.passed));
    return 0;
}
