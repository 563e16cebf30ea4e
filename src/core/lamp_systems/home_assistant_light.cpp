#include "core/lamp_systems/home_assistant_light.h"

#include "core/text/log_text.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>

namespace glowcast {
namespace {

constexpr std::size_t kLongestObjectId = 200;
constexpr MiredRange kUsualMireds{153, 500};
constexpr std::array<std::string_view, 5> kColourModes{"xy", "hs", "rgb", "rgbw", "rgbww"};

bool listed(std::span<const std::string> modes, std::string_view mode)
{
    return std::ranges::find(modes, mode) != modes.end();
}

int kelvinOfMired(int mired)
{
    return static_cast<int>(std::lround(1'000'000.0 / std::max(mired, 1)));
}

std::string fixed(double value, int decimals)
{
    std::array<char, 32> text{};
    const auto [end, error] =
        std::to_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed, decimals);
    return error == std::errc{} ? std::string(text.data(), end) : std::string{"0"};
}

std::string turnOnData(std::string_view entityId, const LampState& state)
{
    std::string data = "{\"entity_id\":" + jsonString(entityId);
    if (state.chromaticity)
        data += ",\"xy_color\":[" + fixed(state.chromaticity->x, 4) + "," + fixed(state.chromaticity->y, 4) + "]";
    if (state.mired)
        data += ",\"color_temp_kelvin\":" + std::to_string(kelvinOfMired(*state.mired));
    if (state.brightness) {
        const int scaled = static_cast<int>(std::lround(std::clamp(*state.brightness, 1, 254) * 255.0 / 254.0));
        data += ",\"brightness\":" + std::to_string(scaled);
    }
    if (state.fadeTenths)
        data += ",\"transition\":" + fixed(std::max(*state.fadeTenths, 0) / 10.0, 1);
    return data + "}";
}

} // namespace

bool isHomeAssistantLightId(std::string_view entityId)
{
    constexpr std::string_view kDomain = "light.";
    if (!entityId.starts_with(kDomain))
        return false;
    const std::string_view object = entityId.substr(kDomain.size());
    return !object.empty() && object.size() <= kLongestObjectId && std::ranges::all_of(object, [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
    });
}

LampCapabilities homeAssistantCapabilities(std::span<const std::string> colourModes, std::optional<int> minKelvin,
                                           std::optional<int> maxKelvin)
{
    const bool colour =
        std::ranges::any_of(kColourModes, [&](std::string_view mode) { return listed(colourModes, mode); });
    const bool temperature = listed(colourModes, "color_temp");
    LampCapabilities lamp;
    if (colour || temperature) {
        lamp.kind = colour ? LampKind::ExtendedColour : LampKind::ColourTemperature;
        if (temperature) {
            lamp.mireds = kUsualMireds;
            if (minKelvin && maxKelvin && *minKelvin >= 1000 && *minKelvin <= *maxKelvin && *maxKelvin <= 25'000)
                lamp.mireds = MiredRange{static_cast<int>(std::ceil(1'000'000.0 / *maxKelvin)),
                                         static_cast<int>(std::floor(1'000'000.0 / *minKelvin))};
        }
    } else if (listed(colourModes, "brightness") || listed(colourModes, "white")) {
        lamp.kind = LampKind::Dimmable;
    } else {
        lamp.kind = LampKind::OnOff;
    }
    return lamp;
}

HomeAssistantCall homeAssistantTurnOn(std::string_view entityId, const LampState& state, const LampCapabilities& lamp)
{
    LampState sent = state;
    if (lamp.kind == LampKind::OnOff) {
        sent.brightness.reset();
        sent.fadeTenths.reset();
    }
    return {"turn_on", turnOnData(entityId, sent)};
}

HomeAssistantCall homeAssistantRestore(std::string_view entityId, const ReadLampState& state)
{
    if (!state.on)
        return {"turn_off", "{\"entity_id\":" + jsonString(entityId) + "}"};
    LampState shown = state.shown;
    shown.fadeTenths.reset();
    return {"turn_on", turnOnData(entityId, shown)};
}

ReadLampState homeAssistantReadState(bool on, std::string_view colourMode, std::optional<int> brightness,
                                     std::optional<Chromaticity> xy, std::optional<int> kelvin)
{
    ReadLampState read;
    read.on = on;
    if (!on)
        return read;
    if (brightness)
        read.shown.brightness = static_cast<int>(std::clamp(std::lround(*brightness * 254.0 / 255.0), 1L, 254L));
    if (colourMode == "color_temp" && kelvin && *kelvin > 0)
        read.shown.mired = static_cast<int>(std::lround(1'000'000.0 / *kelvin));
    else if (std::ranges::find(kColourModes, colourMode) != kColourModes.end() && xy)
        read.shown.chromaticity = xy;
    return read;
}

} // namespace glowcast
