#pragma once

#include <chrono>
#include <optional>

namespace glowcast {

// How gently Glowcast treats the lamps. Every member's default leaves the requests exactly as they
// are without lamp care.
struct LampCareSettings {
    std::optional<int> fade;                          // "transitiontime" in tenths of a second
    bool switchOn = false;                            // a colour also switches its lamp on
    std::optional<int> minimumBrightness;             // the lowest "bri" a colour is sent with
    bool fitLamp = false;                             // colours fitted to each lamp's kind, gamut and range
    std::optional<int> pace;                          // the most lamp commands per second
    bool skipUnchanged = false;                       // a lamp is not sent the body it last accepted
    std::optional<std::chrono::seconds> restoreAfter; // how long a pause lasts before lamps are put back
    std::chrono::milliseconds delay{0};               // how long after a cover arrives its lamps change
    friend bool operator==(const LampCareSettings&, const LampCareSettings&) = default;
};

} // namespace glowcast
