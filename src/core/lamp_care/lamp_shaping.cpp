#include "core/lamp_care/lamp_shaping.h"

#include <algorithm>
#include <cmath>

namespace glowcast {

namespace {

// The bridge's scale, on which the palettes give a brightness; 0 is the dimmest light, not off.
constexpr int kDimmest = 0;
constexpr int kBrightest = 255;
// The highest brightness a minimum may ask for.
constexpr int kHighestMinimum = 254;
// The range of most colour-temperature lamps, for one that did not say its own or is not fitted.
constexpr MiredRange kUsualMireds{153, 500};
// How far from the black body's curve a colour may lie (in CIE 1960 u,v) and still count as white: the
// distance within which lamp makers call a white a white.
constexpr double kWhiteDistance = 0.006;

int brightnessOf(const LampTarget& target, const LampCareSettings& settings)
{
    int brightness = std::clamp(target.brightness, kDimmest, kBrightest);
    if (settings.minimumBrightness && target.chromaticity)
        brightness = std::max(brightness, std::min(*settings.minimumBrightness, kHighestMinimum));
    return brightness;
}

MiredRange rangeOf(const LampCapabilities& lamp, bool fitted)
{
    const MiredRange range = fitted ? lamp.mireds.value_or(kUsualMireds) : kUsualMireds;
    return range.lowest < 1 || range.lowest > range.highest ? kUsualMireds : range;
}

// The mired in the range whose white the point is, when it is a white; nothing for a colour.
std::optional<int> whiteMired(Chromaticity point, MiredRange range)
{
    const int mired = nearestMired(point, range.lowest, range.highest);
    const Chromaticity white = uniformChromaticity(blackBodyChromaticity(1'000'000.0 / mired));
    const Chromaticity here = uniformChromaticity(point);
    if (std::hypot(here.x - white.x, here.y - white.y) > kWhiteDistance)
        return std::nullopt;
    return mired;
}

} // namespace

LampState shapedLampState(const LampTarget& target, const LampCapabilities& lamp, const LampCareSettings& settings)
{
    LampState state;
    state.switchOn = settings.switchOn && target.chromaticity;
    if (lamp.kind == LampKind::OnOff)
        return state;
    state.brightness = brightnessOf(target, settings);
    if (settings.fade)
        state.fadeTenths = *settings.fade;
    if (!target.chromaticity)
        return state;
    const Chromaticity point = *target.chromaticity;
    const bool fitted = settings.fitLamp;
    switch (lamp.kind) {
    case LampKind::ExtendedColour:
        if (fitted && lamp.mireds)
            if (const std::optional<int> mired = whiteMired(point, rangeOf(lamp, true))) {
                state.mired = mired;
                break;
            }
        [[fallthrough]];
    case LampKind::Unknown:
    case LampKind::Colour:
        state.chromaticity = fitted && lamp.gamut ? nearestInGamut(point, *lamp.gamut) : point;
        break;
    case LampKind::ColourTemperature: {
        const MiredRange range = rangeOf(lamp, fitted);
        state.mired = nearestMired(point, range.lowest, range.highest);
        break;
    }
    case LampKind::Dimmable:
    case LampKind::OnOff:
        break;
    }
    return state;
}

std::string describe(const LampState& state)
{
    std::string text;
    const auto add = [&text](const std::string& part) { text += (text.empty() ? "" : " ") + part; };
    if (state.brightness)
        add("bri " + std::to_string(*state.brightness));
    if (state.chromaticity)
        add("xy " + chromaticityText(*state.chromaticity));
    if (state.mired)
        add("ct " + std::to_string(*state.mired));
    if (state.switchOn)
        add("on");
    if (state.fadeTenths)
        add("fade " + std::to_string(*state.fadeTenths));
    return text.empty() ? std::string{"the switch alone"} : text;
}

} // namespace glowcast
