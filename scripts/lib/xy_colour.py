# The colour of a CIE 1931 xy point at full value, as sRGB components 0..1, for the demo's colour readers.


def xy_rgb(x, y):
    X, Z = x / y, (1 - x - y) / y
    rgb = [3.2406 * X - 1.5372 - 0.4986 * Z, -0.9689 * X + 1.8758 + 0.0415 * Z, 0.0557 * X - 0.2040 + 1.0570 * Z]
    rgb = [max(0.0, c) for c in rgb]
    top = max(rgb) or 1
    return [12.92 * c / top if c / top <= 0.0031308 else 1.055 * (c / top) ** (1 / 2.4) - 0.055 for c in rgb]
