#!/usr/bin/env python3
# Reads the zigbee2mqtt stand-in's record ("TOPIC PAYLOAD" lines) and prints, for each lamp in the
# order it was first sent a state, the colour it was last sent as six hex digits: its xy point or hue and saturation at its
# brightness, a colour temperature as a warm or cool white, brightness alone as grey.
import colorsys
import json
import sys

from xy_colour import xy_rgb

last = {}
for text in open(sys.argv[1], encoding="utf-8", errors="replace"):
    # A name may hold spaces; the payload is the JSON object at the end.
    topic, _, payload = text.rstrip("\n").partition(" {")
    payload = "{" + payload
    if topic.endswith("/set"):
        try:
            last[topic[:-4]] = {**last.get(topic[:-4], {}), **json.loads(payload)}
        except (ValueError, TypeError):
            pass

for name in last:
    state = last[name]
    level = min(max(state.get("brightness", 254), 0), 254) / 254
    colour = state.get("color") or {}
    if colour.get("y"):
        x, y = colour.get("x", 0), colour["y"]
        rgb = xy_rgb(x, y)
    elif "hue" in colour:
        rgb = colorsys.hsv_to_rgb(colour["hue"] / 360, colour.get("saturation", 100) / 100, 1)
    elif "color_temp" in state:
        warm = min(max((state["color_temp"] - 153) / (500 - 153), 0), 1)
        rgb = (1, 1 - 0.3 * warm, 1 - 0.7 * warm)
    else:
        rgb = (1, 1, 1)
    print("".join("%02x" % round(255 * level * c) for c in rgb))
