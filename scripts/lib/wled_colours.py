#!/usr/bin/env python3
# Reads the WLED stand-in's GET /json (its state and its information) on standard input and prints, for
# each segment in order, the colour its LEDs show as six hex digits: the first colour slot of an RGB
# segment, white for one without RGB (white only, colour temperature), each at the segment's and the
# device's brightness; a segment or device that is off as black.
import json
import sys

try:
    device = json.load(sys.stdin)
except ValueError:
    sys.exit(1)
state = device.get("state", {})
kinds = device.get("info", {}).get("leds", {}).get("seglc", [])
overall = state.get("bri", 255) / 255 if state.get("on", True) else 0
for index, segment in enumerate(state.get("seg", [])):
    level = overall * segment.get("bri", 255) / 255 if segment.get("on", True) else 0
    rgb = (segment.get("col") or [[0, 0, 0]])[0][:3]
    if index < len(kinds) and not kinds[index] & 1:
        rgb = (255, 255, 255)
    print("".join("%02x" % round(level * min(max(c, 0), 255)) for c in rgb))
