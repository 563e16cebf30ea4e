#include "core/palette/palette.h"

#include "core/palette/eyedropper.h"
#include "core/palette/lamp_colour.h"
#include "core/palette/vivid_palette.h"
#include "core/settings/settings.h"

namespace glowcast {

std::optional<Palette> paletteNamed(std::string_view word)
{
    if (word == "classic")
        return Palette::Classic;
    if (word == "vivid")
        return Palette::Vivid;
    return std::nullopt;
}

std::string_view paletteName(Palette palette)
{
    return palette == Palette::Vivid ? "vivid" : "classic";
}

Palette paletteFrom(const Settings& settings)
{
    return paletteNamed(settings.text("palette")).value_or(Palette::Classic);
}

std::vector<Colour> paletteColours(Palette palette, const CoverImage* image, std::int32_t n, Log& log)
{
    if (palette == Palette::Classic)
        return Eyedropper(image, log).getColours(n);
    constexpr int kSide = Eyedropper::kCanvasSide;
    const PixelCanvas canvas = image != nullptr
                                   ? image->drawInto(kSide, kSide)
                                   : PixelCanvas{kSide, kSide, std::vector<std::uint8_t>(kSide * kSide * 4, 0)};
    return vividColours(canvas, n);
}

LampTarget paletteLampTarget(Palette palette, const std::optional<Colour>& colour)
{
    return palette == Palette::Classic ? lampTargetOf(colour) : vividLampTarget(colour);
}

LampTarget paletteLampTarget(Palette palette, const std::optional<Colour>& colour, Log& log)
{
    return palette == Palette::Classic ? lampTargetOf(colour, log) : vividLampTarget(colour);
}

} // namespace glowcast
