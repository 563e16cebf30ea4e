#pragma once

// A simulated lamp and the rules by which it takes a state change, as a lamp behind a bridge
// does: which attributes its kind has, which values it accepts, and what it holds afterwards.

#include "bridge_sim/lamp_light.h"

#include <QJsonValue>

#include <optional>
#include <string>
#include <string_view>

namespace glowcast::sim {

enum class LampKind {
    ExtendedColour,    // colour in gamut C and colour temperature
    ColourA,           // colour in gamut A
    ColourB,           // colour in gamut B
    ColourTemperature, // white of a settable temperature
    Dimmable,          // brightness only
};

// The kinds by the names the command line and the control interface use: "extended",
// "colour-a", "colour-b", "temperature", "dimmable".
[[nodiscard]] std::optional<LampKind> lampKindNamed(std::string_view name);
[[nodiscard]] std::string_view lampKindName(LampKind kind);

struct Lamp {
    std::string id;
    std::string name;
    LampKind kind = LampKind::ExtendedColour;
    // Warm white at full brightness.
    bool on = true;
    int bri = 254;
    int hue = 8418;
    int sat = 140;
    Xy xy{0.4573, 0.41};
    int ct = 366;
    std::string alert = "none";
    std::string effect = "none";
    std::string colormode = "ct";
    bool reachable = true;
};

// A lamp as it comes on when it gets power.
[[nodiscard]] Lamp newLamp(std::string id, std::string name, LampKind kind);

// One attribute's outcome: `error` 0 and the value the lamp now holds as JSON text, or the
// protocol's error type and its description.
struct Outcome {
    int error = 0;
    std::string text;
    friend bool operator==(const Outcome&, const Outcome&) = default;
};

// Sets one state attribute. `accepting` is whether the lamp takes changes at all: it is on, or
// the same request switches it on. On an error the lamp is left as it was.
[[nodiscard]] Outcome setAttribute(Lamp& lamp, const std::string& key, const QJsonValue& value, bool accepting);

// The lamp as the bridge lists it, and its state object alone.
[[nodiscard]] std::string lampJson(const Lamp& lamp);
[[nodiscard]] std::string lampStateJson(const Lamp& lamp);

} // namespace glowcast::sim
