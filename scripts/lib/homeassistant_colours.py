#!/usr/bin/env python3
# Reads the Home Assistant stand-in's record ("SERVICE DATA" lines) and prints, for each light in the
# order it was first called, the colour it was last sent as six hex digits: its xy point at its
# brightness, a colour temperature as a warm or cool white, brightness alone as grey, off as black.
import json
import sys

from xy_colour import xy_rgb

last = {}
for text in open(sys.argv[1], encoding="utf-8", errors="replace"):
    service, _, data = text.rstrip("\n").partition(" ")
    try:
        call = json.loads(data)
    except ValueError:
        continue
    if not isinstance(call, dict) or "entity_id" not in call:
        continue
    entity = str(call["entity_id"])
    state = {**last.get(entity, {}), **call, "off": service == "turn_off"}
    last[entity] = state

for state in last.values():
    level = 0 if state["off"] else min(max(state.get("brightness", 255), 0), 255) / 255
    if state.get("xy_color"):
        x, y = state["xy_color"]
        rgb = xy_rgb(x, y)
    elif "color_temp_kelvin" in state:
        warm = min(max((6500 - state["color_temp_kelvin"]) / (6500 - 2000), 0), 1)
        rgb = (1, 1 - 0.3 * warm, 1 - 0.7 * warm)
    else:
        rgb = (1, 1, 1)
    print("".join("%02x" % round(255 * level * c) for c in rgb))
