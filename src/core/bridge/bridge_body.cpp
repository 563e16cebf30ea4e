#include "core/bridge/bridge_body.h"

#include "core/bridge/bridge_fields.h"
#include "core/lamp_care/lamp_shaping.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <optional>
#include <string>

namespace glowcast {

namespace {

constexpr int kLowestBrightness = 1;
constexpr int kHighestBrightness = 254;

// The value with three decimals, when that text reads back as the very value.
std::optional<std::string> threeDecimals(double value)
{
    std::array<char, 32> buffer{};
    const auto [end, error] =
        std::to_chars(buffer.data(), buffer.data() + buffer.size(), value, std::chars_format::fixed, 3);
    double back = 0.0;
    if (error != std::errc{} || std::from_chars(buffer.data(), end, back).ec != std::errc{} || back != value)
        return std::nullopt;
    return std::string(buffer.data(), end);
}

// The palette's point keeps the three decimals it was made with; a point moved into a gamut has four.
std::string firstBridgeXy(Chromaticity point)
{
    const std::optional<std::string> x = threeDecimals(point.x);
    const std::optional<std::string> y = threeDecimals(point.y);
    return x && y ? "[" + *x + "," + *y + "]" : chromaticityText(point);
}

enum class Bridge { First, Further };

Dictionary stateFields(const LampState& state, Bridge bridge, LampKind kind)
{
    const bool first = bridge == Bridge::First;
    Dictionary body;
    if (state.switchOn)
        body.set("on", true);
    if (state.brightness)
        body.set("bri",
                 first ? *state.brightness : std::clamp(*state.brightness, kLowestBrightness, kHighestBrightness));
    if (state.chromaticity)
        body.set("xy", first ? firstBridgeXy(*state.chromaticity) : chromaticityText(*state.chromaticity));
    else if (first && state.brightness && !state.mired && takesAttribute(kind, "sat"))
        body.set("sat", 0);
    if (state.mired)
        body.set("ct", *state.mired);
    if (state.fadeTenths)
        body.set("transitiontime", std::max(0, *state.fadeTenths));
    return body;
}

} // namespace

Dictionary bridgeStateFields(const LampState& state)
{
    return stateFields(state, Bridge::Further, LampKind::Unknown);
}

Dictionary firstBridgeStateFields(const LampState& state, LampKind kind)
{
    return stateFields(state, Bridge::First, kind);
}

Dictionary firstBridgeBody(const LampTarget& target)
{
    return firstBridgeStateFields(shapedLampState(target, {}, {}), LampKind::Unknown);
}

} // namespace glowcast
