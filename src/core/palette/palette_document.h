#pragma once

#include "core/colour/colour.h"
#include "core/colour/srgb.h"
#include "core/palette/palette.h"
#include "core/ports/cover_feed.h"

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace glowcast {

// The least contrast between the background and the foreground of a cover's colour pair: what a page's
// body text needs to be read.
inline constexpr double kLeastContrast = 4.5;

// A colour as "#rrggbb", each channel rounded to a byte (what lies outside 0..1 taken as its bound).
[[nodiscard]] RgbBytes rgbBytes(const Colour& colour);
[[nodiscard]] std::string hexColour(RgbBytes colour);
// The relative luminance of a screen's colour, 0 (black) to 1 (white), and the contrast of two,
// (lighter + 0.05) / (darker + 0.05): 1 for equal colours, 21 for black on white.
[[nodiscard]] double relativeLuminance(RgbBytes colour);
[[nodiscard]] double contrastRatio(RgbBytes first, RgbBytes second);

// Colours for a screen from a cover's palette. The background is the palette's first colour; the
// foreground the palette's colour of the most contrast with it, moved in lightness (its hue and
// saturation kept) by as little as gives a contrast of at least kLeastContrast, whichever way is
// shorter; the accent the most colourful of the other colours, else the foreground. A single colour
// is its own foreground before the move. An empty palette gives white on black.
struct ScreenColours {
    RgbBytes background{};
    RgbBytes foreground{255, 255, 255};
    RgbBytes accent{255, 255, 255};
    friend bool operator==(const ScreenColours&, const ScreenColours&) = default;
};
[[nodiscard]] ScreenColours screenColours(std::span<const Colour> palette);

// One cover's palette as other programs get it (the bus, the palette file, the broker).
struct PaletteDocument {
    std::vector<std::string> colours; // "#rrggbb", in lamp order: the first enabled lamp's first
    std::string background;
    std::string foreground;
    std::string accent;
    // The lamps keep their colours: this cover's were taken but not sent.
    bool pinned = false;
    bool fromPlayer = false; // a media player's cover, else the cover application's notice
    CoverTrack track;
    Palette palette = Palette::Classic;
    friend bool operator==(const PaletteDocument&, const PaletteDocument&) = default;
};

// The document of a cover's colours, taken with the palette, not pinned.
[[nodiscard]] PaletteDocument paletteDocument(std::span<const Colour> colours, Palette palette,
                                              const CoverArrival& cover);
// "player" or "notification".
[[nodiscard]] std::string_view paletteSource(const PaletteDocument& document);

// The document as one line of JSON, every text escaped as JSON needs:
//   {"colours": ["#rrggbb", ...], "background": "#rrggbb", "foreground": "#rrggbb", "accent": "#rrggbb",
//    "pinned": false, "track": {"source": "player", "title": "...", "artist": "...", "album": "..."}}
[[nodiscard]] std::string paletteJSON(const PaletteDocument& document);

} // namespace glowcast
