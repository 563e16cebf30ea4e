#!/usr/bin/env python3
"""Draws the demo's sample album covers as small PNG files, with nothing but the standard library.

Each cover has six colours in six different hue sectors, in shares of about 40, 20, 14, 11, 8 and 7
per cent: a background, a ring, the disc inside it and three bands along the bottom. The shares are
far enough apart that the colour extraction ranks them in that order, and the hues far enough apart
that it keeps all six, so with six lamps enabled every lamp gets its own colour and the first lamp
the cover's dominant one. Only the background is at full brightness: two very bright colours would
count as alike and one of them would be dropped. Thin dark lines (which the extraction ignores) give
the covers some shape.

Usage: generate.py [OUTPUT_DIRECTORY]   (default: the directory of this script)
"""

import math
import os
import struct
import sys
import zlib

SIZE = 320

# Saturated colours, one per hue sector of the extraction (the hue in eighths of the circle, from
# red), each channel in the middle of its quantisation step and the largest at 208, not "very bright".
RED = (208, 16, 16)
ORANGE = (208, 176, 16)
LIME = (112, 208, 16)
GREEN = (16, 208, 80)
AZURE = (16, 176, 208)
BLUE = (48, 16, 208)
PURPLE = (176, 16, 208)
PINK = (208, 16, 112)
DARK = (24, 24, 28)


def brightest(colour):
    """The same hue with its largest channel at full intensity."""
    scale = 255 / max(colour)
    return tuple(min(255, round(channel * scale)) for channel in colour)


# Name, then the six colours from the largest share to the smallest.
COVERS = [
    ("01-ember", [brightest(RED), ORANGE, PURPLE, AZURE, LIME, BLUE]),
    ("02-meadow", [brightest(GREEN), ORANGE, BLUE, PINK, AZURE, PURPLE]),
    ("03-deep-sea", [brightest(BLUE), AZURE, ORANGE, RED, GREEN, PURPLE]),
    ("04-sunflower", [brightest(ORANGE), BLUE, PINK, GREEN, AZURE, PURPLE]),
    ("05-neon", [brightest(PURPLE), LIME, AZURE, ORANGE, RED, BLUE]),
    ("06-lagoon", [brightest(AZURE), PINK, BLUE, ORANGE, GREEN, PURPLE]),
]


def cover_pixels(colours):
    background, ring, disc, band1, band2, band3 = colours
    area = SIZE * SIZE
    bands = [(band1, 0.11), (band2, 0.08), (band3, 0.07)]
    band_rows = []
    for colour, share in bands:
        band_rows.extend([colour] * round(share * area / SIZE))
    top_of_bands = SIZE - len(band_rows)
    inner = math.sqrt(0.14 * area / math.pi)
    outer = math.sqrt(0.34 * area / math.pi)
    centre_x, centre_y = SIZE / 2, top_of_bands / 2

    rows = []
    for y in range(SIZE):
        row = bytearray()
        for x in range(SIZE):
            if y >= top_of_bands:
                band_y = y - top_of_bands
                colour = band_rows[band_y]
                if band_y > 0 and band_rows[band_y - 1] != colour:
                    colour = DARK
            else:
                distance = math.hypot(x + 0.5 - centre_x, y + 0.5 - centre_y)
                if distance < inner:
                    colour = disc
                elif distance < outer:
                    colour = ring
                else:
                    colour = background
                if abs(distance - outer) < 1.0 or abs(distance - inner) < 1.0:
                    colour = DARK
            row.extend(colour)
        rows.append(bytes(row))
    return rows


def png(width, height, rows):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    raw = b"".join(b"\x00" + row for row in rows)
    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")


def main():
    directory = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    os.makedirs(directory, exist_ok=True)
    for name, colours in COVERS:
        path = os.path.join(directory, name + ".png")
        with open(path, "wb") as out:
            out.write(png(SIZE, SIZE, cover_pixels(colours)))
        print(f"{path}: {os.path.getsize(path)} bytes")


if __name__ == "__main__":
    main()
