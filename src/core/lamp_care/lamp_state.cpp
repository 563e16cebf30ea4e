#include "core/lamp_care/lamp_state.h"

#include "core/lamp_care/bridge_fields.h"

#include <algorithm>
#include <cmath>

namespace glowcast {

namespace {

constexpr int kDimmest = 1;
constexpr int kBrightest = 254;
// The range of most colour-temperature lamps, for one that did not say its own.
constexpr MiredRange kUsualMireds{153, 500};

int brightnessOf(const Dictionary& body, const LampCareSettings& settings)
{
    const Value* bri = body.find("bri");
    const std::optional<double> number = bri != nullptr ? bri->asNumber() : std::nullopt;
    int brightness =
        number && std::isfinite(*number) ? static_cast<int>(std::clamp(std::lround(*number), 0L, 254L)) : 0;
    brightness = std::max(brightness, kDimmest);
    if (settings.minimumBrightness)
        brightness = std::max(brightness, std::min(*settings.minimumBrightness, kBrightest));
    return brightness;
}

} // namespace

LampState lampStateFor(const Dictionary& body, const LampCapabilities& lamp, const LampCareSettings& settings)
{
    LampState state;
    state.switchOn = settings.switchOn;
    if (lamp.kind == LampKind::OnOff)
        return state;
    state.brightness = brightnessOf(body, settings);
    if (settings.fade)
        state.fadeTenths = *settings.fade;

    const Value* xy = body.find("xy");
    const std::string* text = xy != nullptr ? xy->asText() : nullptr;
    const std::optional<Chromaticity> point = text != nullptr ? chromaticityFrom(*text) : std::nullopt;
    if (!point)
        return state;
    switch (lamp.kind) {
    case LampKind::Unknown:
    case LampKind::ExtendedColour:
    case LampKind::Colour:
        state.chromaticity = lamp.gamut ? nearestInGamut(*point, *lamp.gamut) : *point;
        break;
    case LampKind::ColourTemperature: {
        MiredRange range = lamp.mireds.value_or(kUsualMireds);
        if (range.lowest < 1 || range.lowest > range.highest)
            range = kUsualMireds;
        state.mired = nearestMired(*point, range.lowest, range.highest);
        break;
    }
    case LampKind::Dimmable:
    case LampKind::OnOff:
        break;
    }
    return state;
}

} // namespace glowcast
