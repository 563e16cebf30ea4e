#pragma once

#include "core/ports/cover_image.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <span>
#include <utility>
#include <vector>

namespace glowcast {

// A cover whose pixels the test lays out. Drawn at its own size it comes back unchanged; at any
// other size (the window's cover view) as a transparent canvas of that size.
class FakeCoverImage final : public CoverImage {
public:
    using Rgba = std::array<std::uint8_t, 4>;
    struct Patch {
        std::array<std::uint8_t, 3> rgb;
        int pixels;
    };

    FakeCoverImage(int width, int height, Rgba fill = {0, 0, 0, 0})
        : m_canvas{width, height, std::vector<std::uint8_t>(static_cast<std::size_t>(width) * height * 4)}
    {
        this->fill(0, width * height, fill);
    }

    // An 80 x 80 opaque black cover with flat patches laid out in row order, so the extractor
    // counts exactly the given number of pixels of each colour.
    explicit FakeCoverImage(const std::vector<Patch>& patches) : FakeCoverImage(80, 80, {0, 0, 0, 255})
    {
        int next = 0;
        for (const Patch& patch : patches)
            next = fill(next, patch.pixels, {patch.rgb[0], patch.rgb[1], patch.rgb[2], 255});
    }

    // Gives up to `count` pixels from `start`, in row order, one colour; returns the index after them.
    int fill(int start, int count, Rgba rgba)
    {
        const int end = std::min(start + count, m_canvas.width * m_canvas.height);
        for (int i = start; i < end; ++i)
            std::ranges::copy(rgba, m_canvas.rgba.begin() + static_cast<std::ptrdiff_t>(i) * 4);
        return end;
    }

    [[nodiscard]] const PixelCanvas& canvas() const { return m_canvas; }

    [[nodiscard]] PixelCanvas drawInto(int width, int height) const override
    {
        ++draws;
        if (width == m_canvas.width && height == m_canvas.height)
            return m_canvas;
        return PixelCanvas{width, height, std::vector<std::uint8_t>(static_cast<std::size_t>(width) * height * 4)};
    }

    mutable int draws = 0;

private:
    PixelCanvas m_canvas;
};

using PatchCover = FakeCoverImage;

// Hands out the queued covers in order, one per decode, and null once they run out (as for bytes
// that do not decode). Records the bytes it was given.
class FakeCoverDecoder final : public CoverDecoder {
public:
    std::deque<std::unique_ptr<CoverImage>> covers;
    std::vector<std::vector<std::uint8_t>> decoded;

    std::unique_ptr<CoverImage> decode(std::span<const std::uint8_t> bytes) override
    {
        decoded.emplace_back(bytes.begin(), bytes.end());
        if (covers.empty())
            return nullptr;
        auto next = std::move(covers.front());
        covers.pop_front();
        return next;
    }
};

} // namespace glowcast
