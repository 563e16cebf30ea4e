#pragma once

#include "core/lamp_systems/lamp_system.h"

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace glowcast {

// A Home Assistant light as Glowcast drives it: what its colour modes let it show, and the data of the
// light.turn_on and light.turn_off services that make it show a lamp state.

// Whether the id is a light's entity id: "light." and 1..200 lowercase letters, digits and '_'. Only
// such ids are read, sent or put in a URL.
[[nodiscard]] bool isHomeAssistantLightId(std::string_view entityId);

// What a light can show from its supported_color_modes: xy, hs, rgb, rgbw or rgbww a colour lamp
// (with a colour-temperature range too when color_temp is listed); color_temp alone a
// colour-temperature lamp; brightness or white a dimmable one; onoff, or nothing known, on and off
// only. The range comes from min_color_temp_kelvin/max_color_temp_kelvin (153..500 mired without a
// usable one).
[[nodiscard]] LampCapabilities homeAssistantCapabilities(std::span<const std::string> colourModes,
                                                         std::optional<int> minKelvin, std::optional<int> maxKelvin);

// A service call: "turn_on" or "turn_off", and its JSON data.
struct HomeAssistantCall {
    std::string service;
    std::string data;
    friend bool operator==(const HomeAssistantCall&, const HomeAssistantCall&) = default;
};

// light.turn_on with the state: "xy_color" for a colour, "color_temp_kelvin" for a colour
// temperature (the shaping chose which the lamp is given), "brightness" 1..255 (the lamp
// state's 1..254 scaled; never 0, which would switch the lamp off), "transition" in seconds.
[[nodiscard]] HomeAssistantCall homeAssistantTurnOn(std::string_view entityId, const LampState& state,
                                                    const LampCapabilities& lamp);
// Puts a light back as read: light.turn_off when it was off, else light.turn_on with what it showed.
[[nodiscard]] HomeAssistantCall homeAssistantRestore(std::string_view entityId, const ReadLampState& state);

// A light's state as read: "on" or not, and for one that is on its brightness (0..255, scaled to
// 1..254), and its colour as its color_mode says (color_temp: the kelvin; any colour mode: the xy).
[[nodiscard]] ReadLampState homeAssistantReadState(bool on, std::string_view colourMode, std::optional<int> brightness,
                                                   std::optional<Chromaticity> xy, std::optional<int> kelvin);

} // namespace glowcast
