#pragma once

#include "core/ports/cover_image.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <span>
#include <utility>
#include <vector>

namespace glowcast {

// An 80 x 80 opaque black cover with flat patches laid out in row order, so the extractor counts
// exactly the given number of pixels of each colour. Drawn at its own size it comes back unchanged;
// at any other size (the window's cover view) as a transparent canvas of that size.
class PatchCover final : public CoverImage {
public:
    struct Patch {
        std::array<std::uint8_t, 3> rgb;
        int pixels;
    };

    explicit PatchCover(const std::vector<Patch>& patches)
    {
        for (std::size_t alpha = 3; alpha < m_canvas.rgba.size(); alpha += 4)
            m_canvas.rgba[alpha] = 255;
        std::size_t at = 0;
        for (const Patch& patch : patches)
            for (int n = 0; n < patch.pixels && at < m_canvas.rgba.size(); ++n, at += 4)
                std::ranges::copy(patch.rgb, m_canvas.rgba.begin() + static_cast<std::ptrdiff_t>(at));
    }

    [[nodiscard]] PixelCanvas drawInto(int width, int height) const override
    {
        if (width == m_canvas.width && height == m_canvas.height)
            return m_canvas;
        return PixelCanvas{width, height, std::vector<std::uint8_t>(static_cast<std::size_t>(width) * height * 4)};
    }

private:
    PixelCanvas m_canvas{80, 80, std::vector<std::uint8_t>(std::size_t{80} * 80 * 4)};
};

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
