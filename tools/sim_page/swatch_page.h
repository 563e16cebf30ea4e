#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace glowcast::sim {

// One lamp on a stand-in's page: its name, the colour it gives off (black when off) and a line of detail.
struct Swatch {
    std::string name;
    int red = 0;
    int green = 0;
    int blue = 0;
    std::string detail;
    bool greyedOut = false; // a lamp that cannot be reached
};

inline std::string htmlEscaped(std::string_view text)
{
    std::string escaped;
    for (const char c : text) {
        switch (c) {
        case '<':
            escaped += "&lt;";
            break;
        case '>':
            escaped += "&gt;";
            break;
        case '&':
            escaped += "&amp;";
            break;
        case '"':
            escaped += "&quot;";
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

// "#rrggbb", each channel clamped to 0..255.
inline std::string hexColour(int red, int green, int blue)
{
    const auto byte = [](int value) { return value < 0 ? 0 : value > 255 ? 255 : value; };
    char text[8];
    std::snprintf(text, sizeof text, "#%02x%02x%02x", byte(red), byte(green), byte(blue));
    return text;
}

// The page a stand-in serves at "/": each lamp as a swatch of its colour with its name and detail,
// reloading itself every second, in the look of the bridge simulator's page.
inline std::string swatchPage(std::string_view title, const std::vector<Swatch>& swatches)
{
    std::string html = "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
                       "<meta http-equiv=\"refresh\" content=\"1\"><title>" +
                       htmlEscaped(title) +
                       "</title><style>"
                       "body { background: #15161a; color: #e8e8ea; font: 15px/1.4 sans-serif; margin: 2em; }"
                       "h1 { font-size: 1.3em; font-weight: 600; }"
                       "#lamps { display: flex; flex-wrap: wrap; gap: 2em; margin-top: 1.5em; }"
                       ".lamp { text-align: center; width: 9em; }"
                       ".swatch { width: 8em; height: 8em; border-radius: 50%; margin: 0 auto .6em;"
                       " border: 2px solid #333; }"
                       ".unreachable { opacity: .35; filter: grayscale(1); }"
                       ".detail { color: #9a9aa2; font-size: .85em; }"
                       "</style></head><body><h1>" +
                       htmlEscaped(title) + "</h1><div id=\"lamps\">";
    for (const Swatch& swatch : swatches) {
        const std::string colour = hexColour(swatch.red, swatch.green, swatch.blue);
        html += std::string{"<div class=\"lamp"} + (swatch.greyedOut ? " unreachable" : "") +
                "\"><div class=\"swatch\" style=\"background-color: " + colour + "; box-shadow: 0 0 3em " + colour +
                "\"></div><div>" + htmlEscaped(swatch.name) + "</div><div class=\"detail\">" + colour + ", " +
                htmlEscaped(swatch.detail) + "</div></div>";
    }
    return html + "</div></body></html>\n";
}

} // namespace glowcast::sim
