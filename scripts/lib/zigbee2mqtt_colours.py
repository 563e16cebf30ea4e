#!/usr/bin/env python3
# Reads the zigbee2mqtt stand-in's record ("TOPIC PAYLOAD" lines) and prints, for each lamp in the
# order it was first sent a state, the colour it was last sent as six hex digits: its xy point or hue and saturation at its
# brightness, a colour temperature as a warm or cool white, brightness alone as grey.
import colorsys
import json
import sys

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
        X, Z = x / y, (1 - x - y) / y
        rgb = [3.2406 * X - 1.5372 - 0.4986 * Z, -0.9689 * X + 1.8758 + 0.0415 * Z, 0.0557 * X - 0.2040 + 1.0570 * Z]
        rgb = [max(0.0, c) for c in rgb]
        top = max(rgb) or 1
        rgb = [c / top for c in rgb]
        rgb = [12.92 * c if c <= 0.0031308 else 1.055 * c ** (1 / 2.4) - 0.055 for c in rgb]
    elif "hue" in colour:
        rgb = colorsys.hsv_to_rgb(colour["hue"] / 360, colour.get("saturation", 100) / 100, 1)
    elif "color_temp" in state:
        warm = min(max((state["color_temp"] - 153) / (500 - 153), 0), 1)
        rgb = (1, 1 - 0.3 * warm, 1 - 0.7 * warm)
    else:
        rgb = (1, 1, 1)
    print("".join("%02x" % round(255 * level * c) for c in rgb))
