#pragma once

#include "core/ports/cover_image.h"

#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <span>
#include <utility>
#include <vector>

namespace glowcast {

// A cover made of flat patches of colour on black, laid out pixel by pixel in an 80 x 80 grid, so the
// extractor counts exactly the given number of pixels of each colour. Drawn at any other size it is
// scaled by picking the nearest pixel.
class PatchCover final : public CoverImage {
public:
    struct Patch {
        std::array<std::uint8_t, 3> rgb;
        int pixels;
    };
    static constexpr int kSide = 80;

    explicit PatchCover(const std::vector<Patch>& patches)
    {
        m_canvas.width = kSide;
        m_canvas.height = kSide;
        m_canvas.rgba.assign(static_cast<std::size_t>(kSide * kSide * 4), 0);
        for (std::size_t i = 3; i < m_canvas.rgba.size(); i += 4)
            m_canvas.rgba[i] = 255;
        std::size_t pixel = 0;
        for (const Patch& patch : patches)
            for (int n = 0; n < patch.pixels && pixel < static_cast<std::size_t>(kSide * kSide); ++n, ++pixel)
                for (std::size_t c = 0; c < 3; ++c)
                    m_canvas.rgba[pixel * 4 + c] = patch.rgb[c];
    }

    PixelCanvas drawInto(int width, int height) const override
    {
        PixelCanvas out{width, height, std::vector<std::uint8_t>(static_cast<std::size_t>(width * height * 4))};
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const int sx = x * kSide / width;
                const int sy = y * kSide / height;
                for (int c = 0; c < 4; ++c)
                    out.rgba[static_cast<std::size_t>((y * width + x) * 4 + c)] =
                        m_canvas.rgba[static_cast<std::size_t>((sy * kSide + sx) * 4 + c)];
            }
        return out;
    }

private:
    PixelCanvas m_canvas;
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
