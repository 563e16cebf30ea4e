#pragma once

#include "core/colour/chromaticity.h"

#include <optional>
#include <string>

namespace glowcast {

// What the palette asks of one lamp, whatever its system: a brightness 0..255 and the colour's
// chromaticity, as the first bridge's body {"bri","xy"} carries them (xy to three decimals, after
// the palette's corrections); no chromaticity and brightness 0 for a lamp without a colour.
struct LampTarget {
    int brightness = 0;
    std::optional<Chromaticity> chromaticity;
    friend bool operator==(const LampTarget&, const LampTarget&) = default;
};

// What one lamp is to show, whatever its system: lamp care decides it from the lamp's capabilities,
// the adapter only encodes it. Brightness is on the bridge's scale, 0..255 (0 is the dimmest light the
// lamp has, not off: each encoder puts it in its system's range, 1..254 for most); at most one of
// chromaticity and mired is set; switchOn only with the switch-on setting (a lamp that is off otherwise
// stays off); fade in tenths of a second.
struct LampState {
    bool switchOn = false;
    std::optional<int> brightness;
    std::optional<Chromaticity> chromaticity;
    std::optional<int> mired;
    std::optional<int> fadeTenths;
    friend bool operator==(const LampState&, const LampState&) = default;
};

// A lamp's state as read for the restore: on or off, and what it showed.
struct ReadLampState {
    bool on = false;
    LampState shown;
    friend bool operator==(const ReadLampState&, const ReadLampState&) = default;
};

struct LampStateCommand {
    std::string key;
    LampState state;
    friend bool operator==(const LampStateCommand&, const LampStateCommand&) = default;
};

} // namespace glowcast
