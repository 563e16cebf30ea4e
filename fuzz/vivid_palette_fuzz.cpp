// The vivid palette on arbitrary pixels: the first two bytes give the canvas's side and the lamp
// count, the rest its RGBA bytes (short ones leave the canvas's size and bytes disagreeing). Every
// palette has the count asked, every colour and every value sent stays in range.
#include "core/palette/vivid_palette.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace glowcast;
    if (size < 2)
        return 0;
    const int side = data[0] % 65;
    const int lamps = data[1] % 12;
    PixelCanvas canvas{side, side,
                       std::vector<std::uint8_t>(data + 2, data + std::min(size, 2 + std::size_t(side * side * 4)))};
    const std::vector<Colour> colours = vividColours(canvas, lamps);
    fuzz::require(colours.size() == static_cast<std::size_t>(lamps));
    for (const Colour& colour : colours) {
        for (const double channel : {colour.red, colour.green, colour.blue})
            fuzz::require(channel >= 0.0 && channel <= 1.0);
        const LampLight light = vividLampLight(colour);
        fuzz::require(light.bri >= 1 && light.bri <= 254 && light.x >= 0.0 && light.x <= 1.0 && light.y >= 0.0 &&
                      light.y <= 1.0);
    }
    return 0;
}
