// Feeds the cover decoder arbitrary bytes, then runs whatever decodes through the redraw, the
// extractor and the lamp colour conversions, as a cover change would. The same bytes in a file,
// read from where they are, must give the same cover or refusal. The same bytes go to the Exif
// orientation reader as a JPEG's APP1 segment.
#include "adapters/covers/cover_file_decoder.h"
#include "adapters/covers/exif_orientation.h"
#include "adapters/files/regular_file.h"
#include "core/bridge/bridge_body.h"
#include "core/palette/eyedropper.h"
#include "core/palette/lamp_colour.h"
#include "fuzz_support.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // Covers in other formats than PNG and JPEG are read by the module of the build tree.
    setenv("GLOWCAST_MODULE_DIR", GLOWCAST_MODULE_BUILD_DIR, 0);
    glowcast::NullLog log;
    const std::span<const std::uint8_t> bytes(data, size);
    const glowcast::ExifOrientation orientation = glowcast::exifOrientation(bytes);
    glowcast::fuzz::require(orientation.value >= 1 && orientation.value <= 8);
    // A smaller budget than the application's keeps each run quick under the sanitizers; the
    // checks that enforce it are the same.
    glowcast::CoverFileDecoder decoder(log, glowcast::CoverFileDecoder::kDecodeSide, std::int64_t{32} * 1024 * 1024);
    const glowcast::DecodedCover cover = decoder.decodeCover(bytes);
    const glowcast::FileDescriptor file(::memfd_create("cover", MFD_CLOEXEC));
    glowcast::fuzz::require(::write(file.get(), data, size) == static_cast<ssize_t>(size));
    const glowcast::DecodedCover fromFile = decoder.decodeCoverFile(file.get(), static_cast<std::int64_t>(size));
    glowcast::fuzz::require(
        fromFile.refusal == cover.refusal && fromFile.note == cover.note &&
        (fromFile.image ? cover.image && fromFile.image->pixels() == cover.image->pixels() : !cover.image));
    glowcast::Eyedropper eyedropper(cover.image.get(), log);
    for (const glowcast::Colour& colour : eyedropper.getColours(6))
        (void)glowcast::firstBridgeBody(glowcast::lampTargetOf(colour, log));
    return 0;
}
