#pragma once

#include "core/ports/cover_image.h"

#include <cstdint>
#include <span>
#include <vector>

namespace glowcast {

// Premultiplied 8-bit RGBA pixels, row by row from the top left: the form a cover is kept in, so
// that averaging never lets the colour of a transparent pixel bleed into its neighbours.
struct CoverPixels {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgba; // width * height * 4 bytes
    friend bool operator==(const CoverPixels&, const CoverPixels&) = default;
};

// Where each pixel of one side of the result takes its value from: a run of source pixels with
// integer weights that add up to total. Reducing, each source pixel weighs what the result pixel
// covers of it (an area average) in 14-bit fixed point, the middle weights rounded up and the last
// what remains, as image libraries commonly do it: covers keep the colours they always had.
// Enlarging, the two nearest source pixels share a result pixel linearly.
struct AxisWeights {
    struct Span {
        int first = 0;
        int count = 0;
        int weights = 0; // index of the first weight in AxisWeights::weights
    };
    std::vector<Span> spans;
    std::vector<std::uint32_t> weights;
    std::uint32_t total = 1;

    [[nodiscard]] static AxisWeights between(int from, int to);
    // Reducing only, with exact weights: in units of 1/to of a source pixel, what each result pixel
    // covers of each source pixel; the total is from.
    [[nodiscard]] static AxisWeights exactArea(int from, int to);
};

// Scales a picture row by row as a decoder hands the rows over, so that the whole source is never
// held: each row is reduced across at once and added into the rows of the result it falls in.
class RowScaler {
public:
    RowScaler(int fromWidth, int fromHeight, int toWidth, int toHeight);

    // The next source row, premultiplied RGBA; rows past the source's height are ignored.
    void addRow(std::span<const std::uint8_t> rgba);
    // The result once every row was added.
    [[nodiscard]] CoverPixels finish() const;

private:
    AxisWeights m_across;
    AxisWeights m_down;
    int m_toWidth;
    int m_toHeight;
    bool m_coarse;
    int m_nextRow = 0;
    int m_firstOpenRow = 0;               // the first result row that a later source row can still reach
    std::vector<std::uint64_t> m_reduced; // one source row reduced across
    std::vector<std::uint64_t> m_sums;    // the result's rows, weighted sums
};

// Reduces a picture row by row with exact area weights, down the rows first: each result row is
// cut to 8 bits before it is reduced across, and each pixel cut again, as PNG readers commonly
// reduce 8-bit colour images while they decode them. Nothing is premultiplied here. Only for
// results no larger than the source in either side, from a source of at most kTallest rows.
class RowAverager {
public:
    // A result row's sums are 32 bits: at most 255 times the source's height.
    static constexpr int kTallest = static_cast<int>(UINT32_MAX / 255);

    RowAverager(int fromWidth, int fromHeight, int toWidth, int toHeight);

    void addRow(std::span<const std::uint8_t> rgba);
    [[nodiscard]] CoverPixels finish() && { return std::move(m_result); }

private:
    AxisWeights m_across;
    AxisWeights m_down;
    int m_nextRow = 0;
    int m_openRow = 0;                  // the result row being summed
    std::vector<std::uint32_t> m_sums;  // the open result row at the source's width
    std::vector<std::uint8_t> m_column; // the open row once complete, cut to 8 bits
    CoverPixels m_result;
};

// Turns straight RGBA into premultiplied, in place.
void premultiply(std::span<std::uint8_t> rgba);

// The picture as a cover is stored turned upright: orientation as the camera's tag gives it, 1 to 8
// (2 mirrored, 3 turned half round, 4 flipped, 5 transposed, 6 turned a quarter clockwise, 7 the
// other diagonal, 8 a quarter anticlockwise).
[[nodiscard]] CoverPixels orientedPixels(const CoverPixels& pixels, int orientation);

// Straight RGBA for the core: the picture stretched over a transparent canvas of width x height,
// sampled bilinearly between pixel centres (down the rows first, each step cut down) and turned
// straight, to the bit as a painter draws an image smoothly and converts its canvas.
[[nodiscard]] PixelCanvas straightCanvas(const CoverPixels& pixels, int width, int height);

} // namespace glowcast
