#include "core/colour/colour.h"

#include <algorithm>

namespace glowcast {

double Colour::brightnessComponent() const
{
    return std::max({red, green, blue});
}

double Colour::saturationComponent() const
{
    const double largest = brightnessComponent();
    if (largest <= 0.0)
        return 0.0;
    return (largest - std::min({red, green, blue})) / largest;
}

double Colour::hueComponent() const
{
    const double largest = brightnessComponent();
    const double spread = largest - std::min({red, green, blue});
    if (spread <= 0.0)
        return 0.0;
    // Sixths of the circle measured from the largest component's primary; the tests on equality
    // give red precedence over green and green over blue, so yellow is measured from red.
    double sixths = 0.0;
    if (red == largest) {
        sixths = (green - blue) / spread;
        if (sixths < 0.0)
            sixths += 6.0;
    } else if (green == largest) {
        sixths = 2.0 + (blue - red) / spread;
    } else {
        sixths = 4.0 + (red - green) / spread;
    }
    const double hue = sixths / 6.0;
    // A red a hair below the top of the circle must not come out as a full turn.
    return hue >= 1.0 ? 0.0 : hue;
}

} // namespace glowcast
