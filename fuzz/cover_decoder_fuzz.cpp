// Feeds the cover decoder arbitrary bytes, then runs whatever decodes through the redraw, the
// extractor and the lamp colour conversions, as a cover change would.
#include "adapters/qt/qt_cover_decoder.h"
#include "core/bridge/bridge_body.h"
#include "core/palette/eyedropper.h"
#include "core/palette/lamp_colour.h"
#include "fuzz_support.h"

#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    glowcast::NullLog log;
    // A smaller budget than the application's keeps each run quick under the sanitizers; the
    // checks that enforce it are the same.
    glowcast::QtCoverDecoder decoder(log, QSize(80, 80), std::int64_t{32} * 1024 * 1024);
    const std::unique_ptr<glowcast::CoverImage> cover = decoder.decode(std::span<const std::uint8_t>(data, size));
    glowcast::Eyedropper eyedropper(cover.get(), log);
    for (const glowcast::Colour& colour : eyedropper.getColours(6))
        (void)glowcast::firstBridgeBody(glowcast::lampTargetOf(colour, log));
    return 0;
}
