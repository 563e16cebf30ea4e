#pragma once

#include "core/ports/cover_image.h"

#include <array>
#include <cstdint>
#include <utility>

namespace glowcast {

// A cover whose pixels the test lays out. Drawn into a canvas of its own size it comes back
// unchanged; into another size it is resampled by nearest neighbour.
class FakeCoverImage final : public CoverImage {
public:
    using Rgba = std::array<std::uint8_t, 4>;

    FakeCoverImage(int width, int height, Rgba fill = {0, 0, 0, 0}) : m_canvas{width, height, {}}
    {
        m_canvas.rgba.reserve(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4);
        for (int i = 0; i < width * height; ++i)
            m_canvas.rgba.insert(m_canvas.rgba.end(), fill.begin(), fill.end());
    }

    void setPixel(int index, Rgba rgba)
    {
        for (std::size_t c = 0; c < 4; ++c)
            m_canvas.rgba[static_cast<std::size_t>(index) * 4 + c] = rgba[c];
    }

    // Gives the next `count` pixels, in row order from `start`, one colour; returns the index after them.
    int fill(int start, int count, Rgba rgba)
    {
        for (int i = start; i < start + count; ++i)
            setPixel(i, rgba);
        return start + count;
    }

    [[nodiscard]] const PixelCanvas& canvas() const { return m_canvas; }

    [[nodiscard]] PixelCanvas drawInto(int width, int height) const override
    {
        ++draws;
        if (width == m_canvas.width && height == m_canvas.height)
            return m_canvas;
        PixelCanvas out{width, height, std::vector<std::uint8_t>(static_cast<std::size_t>(width) * height * 4)};
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const int sx = x * m_canvas.width / width;
                const int sy = y * m_canvas.height / height;
                for (int c = 0; c < 4; ++c)
                    out.rgba[(static_cast<std::size_t>(y) * width + x) * 4 + c] =
                        m_canvas.rgba[(static_cast<std::size_t>(sy) * m_canvas.width + sx) * 4 + c];
            }
        }
        return out;
    }

    mutable int draws = 0;

private:
    PixelCanvas m_canvas;
};

} // namespace glowcast
