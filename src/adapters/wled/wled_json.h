#pragma once

#include "core/lamp_systems/lamp_system.h"
#include "core/ports/log.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace glowcast {

// One segment of a WLED device as its state reads: what a restore puts back. Colours are the segment's
// up to three colour slots, each [r,g,b] or [r,g,b,w], as read.
struct WledSegment {
    int id = 0;
    std::string name; // its "n", else "Segment N"
    bool on = false;
    int brightness = 0; // 0..255
    int effect = 0;
    int palette = 0;
    int speed = 128;
    int intensity = 128;
    std::vector<std::vector<int>> colours;
    friend bool operator==(const WledSegment&, const WledSegment&) = default;
};

// The most segments read from one device; the rest are left out with a log line.
inline constexpr std::size_t kMostWledSegments = 64;

// The segments of a reply to GET /json/state, in its order. Nothing when it is not a JSON object with a
// "seg" list. Left out, each with a log line: an entry that is no object or has no id 0..255, an id
// already taken, segments past the cap. A name with a control character is logged and replaced by
// "Segment N".
[[nodiscard]] std::optional<std::vector<WledSegment>> readWledSegments(std::string_view json, Log& log,
                                                                       const std::string& systemId);

// What each segment's LEDs can show, from GET /json/info's light capabilities: bit 1 RGB, bit 2 a white
// channel, bit 4 colour temperature; per segment from "leds"."seglc", else the device's "leds"."lc".
// mac: the device's "mac" as 12 lower-case hex digits, its identity; empty when it tells none.
struct WledInfo {
    std::vector<int> segmentCapabilities;
    std::optional<int> capabilities;
    std::string mac;
    friend bool operator==(const WledInfo&, const WledInfo&) = default;
};
[[nodiscard]] std::optional<WledInfo> readWledInfo(std::string_view json);

// A segment as a lamp: keyed by its id, a colour lamp (the sRGB triangle) when its LEDs have RGB, else
// dimmable only (white-only and colour-temperature strips); whether it takes a fourth, white value.
struct WledLamp {
    int id = 0;
    bool colour = true;
    bool white = false;
    SystemLamp lamp;
    friend bool operator==(const WledLamp&, const WledLamp&) = default;
};
// The segment at position `index` of the state's list; a device that tells nothing is taken as RGB.
[[nodiscard]] WledLamp wledLampOf(const WledSegment& segment, std::size_t index, const WledInfo& info);

// The body of one POST /json/state for a cover, every lamp's segment in it:
// {"seg":[{"id":0,"on":true,"bri":255,"fx":0,"col":[[255,0,0]]}],"tt":4}. The colour at full value
// from the chromaticity (or the colour temperature's white), four values with white 0 on RGBW strips;
// "on" only when the state switches the lamp on; brightness 1..254 spread over 1..255; "tt" the fade
// in tenths when the first state has one. The device's own brightness is left as it is.
// soundReactive: the effect is left to the device ("fx" not sent), so that its sound-reactive effects
// run on the sound sync, and each segment's three colour slots hold its colour and then the body's
// other colours in turn, so that the effect plays in the cover's colours.
struct WledCommand {
    WledLamp lamp;
    LampState state;
};
[[nodiscard]] std::string wledCoverBody(const std::vector<WledCommand>& commands, bool soundReactive = false);

// The body that puts a segment back as read: its on, bri, col, fx, pal, sx and ix.
[[nodiscard]] std::string wledRestoreBody(const WledSegment& segment);

} // namespace glowcast
