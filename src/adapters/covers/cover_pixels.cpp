#include "adapters/covers/cover_pixels.h"

#include <algorithm>
#include <array>
#include <cmath>

#if defined(__SSE__)
#include <immintrin.h>
#endif

namespace glowcast {

namespace {

constexpr std::uint32_t kLinearTotal = 256;
constexpr int kCoarseBits = 14;
constexpr std::uint32_t kCoarseTotal = 1U << kCoarseBits;

// Steps through the source in 16.16 fixed point; the first source pixel weighs what is left of it,
// the middle ones the rounded-up share each covers, the last one what remains of the whole.
AxisWeights coarseReduction(int from, int to)
{
    AxisWeights axis;
    axis.total = kCoarseTotal;
    const std::int64_t step = (std::int64_t{from} << 16) / to;
    const std::int64_t share = ((std::int64_t{to} << kCoarseBits) + from - 1) / from;
    for (std::int64_t i = 0; i < to; ++i) {
        const std::int64_t position = i * step;
        const auto first = static_cast<int>(position >> 16);
        const std::size_t start = axis.weights.size();
        std::int64_t weight = ((0x10000 - (position & 0xFFFF)) * share) >> 16;
        axis.weights.push_back(static_cast<std::uint32_t>(weight));
        std::int64_t left = kCoarseTotal - weight;
        for (; left > share; left -= share)
            axis.weights.push_back(static_cast<std::uint32_t>(share));
        axis.weights.push_back(static_cast<std::uint32_t>(left));
        // A run that would reach past the last pixel gives the rest to the last pixel.
        while (first + static_cast<int>(axis.weights.size() - start) > from) {
            const std::uint32_t rest = axis.weights.back();
            axis.weights.pop_back();
            axis.weights.back() += rest;
        }
        axis.spans.push_back({first, static_cast<int>(axis.weights.size() - start), static_cast<int>(start)});
    }
    return axis;
}

std::uint8_t mix(unsigned first, unsigned second, unsigned weight)
{
    return static_cast<std::uint8_t>((first * (256 - weight) + second * weight) >> 8);
}

constexpr std::int64_t kOne = 0x10000; // a pixel in 16.16 fixed point

// Where a painter samples one side of the picture, in 16.16 fixed point: it maps the canvas back
// through the inverse of its scale, moved by 1/65536 of a pixel so that its positions round down
// alike everywhere, and steps from one canvas pixel to the next by the inverse cut to fixed point.
// The same sums in the same order give the same bits.
struct PainterAxis {
    double inverse = 1; // picture pixels a canvas pixel
    double shift = 0;   // the nudge, in picture pixels
    std::int64_t step = kOne;

    PainterAxis(int from, int to)
    {
        const double scale = static_cast<double>(to) / from;
        inverse = 1.0 / scale;
        shift = -(scale / 65536.0) * inverse;
        step = static_cast<std::int64_t>(inverse * 65536.0);
    }
    // Canvas pixel i's centre in the picture, less half a pixel.
    [[nodiscard]] std::int64_t at(int i) const
    {
        return static_cast<std::int64_t>((inverse * (i + 0.5) + shift) * 65536.0) - kOne / 2;
    }
};

// Samples the picture bilinearly between pixel centres into the canvas as a painter draws an
// image smoothly: beyond the outer centres the edge pixels stand alone; the two rows are mixed
// first with 8-bit weights, then the two results across, each step cut down. Reduced more than
// twice across (and not enlarged more than 8 times down), a painter on a processor with AVX2 takes
// the middle of each row 8 pixels at a time, mixing the four pixels at once with 4-bit weights:
// from the first canvas pixel that falls between two picture pixels, in whole eights that stay
// short of the last picture pixel's centre.
void stretch(const CoverPixels& pixels, PixelCanvas& canvas)
{
    const PainterAxis across(pixels.width, canvas.width);
    const PainterAxis down(pixels.height, canvas.height);
    const std::int64_t lastCentre = std::int64_t{pixels.width - 1} * kOne;
    const auto bounds = [](std::int64_t position, int size) {
        const std::int64_t pixel = position >> 16;
        const std::int64_t first = std::clamp<std::int64_t>(pixel, 0, size - 1);
        const std::int64_t second = pixel < 0 || pixel >= size - 1 ? first : pixel + 1;
        return std::pair{static_cast<std::size_t>(first) * 4, static_cast<std::size_t>(second) * 4};
    };
    int blocksBegin = 0;
    int blocksEnd = 0;
    if (across.step > 2 * kOne && down.inverse >= 1.0 / 8) {
        std::int64_t fx = across.at(0);
        for (; blocksBegin < canvas.width && (fx < 0 || fx >= lastCentre); ++blocksBegin)
            fx += across.step;
        const std::int64_t inside = std::min<std::int64_t>(canvas.width - blocksBegin, (lastCentre - fx) / across.step);
        blocksEnd = blocksBegin + static_cast<int>(std::max<std::int64_t>(inside, 0) / 8 * 8);
    }
    const auto rowBytes = static_cast<std::size_t>(pixels.width) * 4;
    std::vector<std::uint8_t> column(blocksBegin == blocksEnd ? rowBytes : 0);
    std::uint8_t* out = canvas.rgba.data();
    for (int y = 0; y < canvas.height; ++y) {
        const std::int64_t fy = down.at(y);
        const auto [top, bottom] = bounds(fy, pixels.height);
        const unsigned lower = static_cast<unsigned>(fy & 0xFFFF) >> 8;
        const std::uint8_t* above = pixels.rgba.data() + top / 4 * rowBytes;
        const std::uint8_t* below = pixels.rgba.data() + bottom / 4 * rowBytes;
        std::int64_t fx = across.at(0);
        if (blocksBegin == blocksEnd) {
            // Every canvas pixel mixes the two rows: they are mixed once, whole.
            for (std::size_t c = 0; c < rowBytes; ++c)
                column[c] = mix(above[c], below[c], lower);
            for (int x = 0; x < canvas.width; ++x, fx += across.step, out += 4) {
                const auto [first, second] = bounds(fx, pixels.width);
                for (std::size_t c = 0; c < 4; ++c)
                    out[c] = mix(column[first + c], column[second + c], static_cast<unsigned>(fx & 0xFFFF) >> 8);
            }
            continue;
        }
        const unsigned lower4 = (lower + 8) >> 4;
        for (int x = 0; x < canvas.width; ++x, fx += across.step, out += 4) {
            const unsigned right = static_cast<unsigned>(fx & 0xFFFF) >> 8;
            if (x >= blocksBegin && x < blocksEnd) {
                const auto left = static_cast<std::size_t>(fx >> 16) * 4;
                const unsigned right4 = (right + 8) >> 4;
                const std::array<unsigned, 4> weights{(16 - right4) * (16 - lower4), right4 * (16 - lower4),
                                                      (16 - right4) * lower4, right4 * lower4};
                for (std::size_t c = 0; c < 4; ++c)
                    out[c] =
                        static_cast<std::uint8_t>((above[left + c] * weights[0] + above[left + 4 + c] * weights[1] +
                                                   below[left + c] * weights[2] + below[left + 4 + c] * weights[3]) >>
                                                  8);
                continue;
            }
            const auto [first, second] = bounds(fx, pixels.width);
            for (std::size_t c = 0; c < 4; ++c)
                out[c] = mix(mix(above[first + c], below[first + c], lower),
                             mix(above[second + c], below[second + c], lower), right);
        }
    }
}

// sums[i] += weight * row[i]. In blocks of a fixed length over memory that does not overlap, which
// the compiler turns into vector instructions.
void addWeighted(std::uint32_t* __restrict sums, const std::uint8_t* __restrict row, std::size_t count,
                 std::uint32_t weight)
{
    constexpr std::size_t kBlock = 16;
    std::size_t at = 0;
    for (; at + kBlock <= count; at += kBlock)
        for (std::size_t k = 0; k < kBlock; ++k)
            sums[at + k] += weight * row[at + k];
    for (; at < count; ++at)
        sums[at] += weight * row[at];
}

// 255 / alpha as the painter's conversion to straight colour takes it, in single precision: on x86
// the processor's reciprocal estimate refined by one Newton-Raphson step, so that colours round
// from it exactly as they did.
std::array<float, 256> unpremultiplyFactors()
{
    std::array<float, 256> factors{};
    for (std::size_t alpha = 1; alpha < factors.size(); ++alpha) {
        const auto a = static_cast<float>(alpha);
#if defined(__SSE__)
        const float estimate = _mm_cvtss_f32(_mm_rcp_ss(_mm_set_ss(a)));
#else
        const float estimate = 1.0F / a;
#endif
        factors[alpha] = (estimate + estimate - estimate * (estimate * a)) * 255.0F;
    }
    return factors;
}

// column[i] = sums[i] / total, each sum at most 255 times total. A division by the same number
// again and again is a multiplication by 2^64 / total rounded up, keeping the high 64 bits: exact
// for every 32-bit sum and total, and quicker than dividing.
void cutSums(std::uint8_t* __restrict column, const std::uint32_t* __restrict sums, std::size_t count,
             std::uint32_t total)
{
    if (total == 1) {
        std::copy_n(sums, count, column);
        return;
    }
    const std::uint64_t reciprocal = ~std::uint64_t{0} / total + 1;
    const std::uint64_t high = reciprocal >> 32;
    const std::uint64_t low = reciprocal & 0xFFFFFFFFU;
    for (std::size_t at = 0; at < count; ++at) {
        const std::uint64_t sum = sums[at];
        column[at] = static_cast<std::uint8_t>((sum * high + (sum * low >> 32)) >> 32);
    }
}

} // namespace

AxisWeights AxisWeights::between(int from, int to)
{
    if (to < from)
        return coarseReduction(from, to);
    AxisWeights axis;
    axis.spans.reserve(static_cast<std::size_t>(to));
    if (to == from) {
        for (int i = 0; i < to; ++i)
            axis.spans.push_back({i, 1, 0});
        axis.weights.push_back(1);
        return axis;
    }
    // Enlarging: pixel centres line up, and a result pixel between two source centres mixes them.
    axis.total = kLinearTotal;
    for (int i = 0; i < to; ++i) {
        // Source position (i + 0.5) * from / to - 0.5, in 1/(2 * to) steps.
        const std::int64_t position = (2 * std::int64_t{i} + 1) * from - to;
        const std::int64_t step = 2 * std::int64_t{to};
        int first = 0;
        std::uint32_t second = 0;
        if (position > 0) {
            first = static_cast<int>(position / step);
            second = static_cast<std::uint32_t>((position % step * kLinearTotal + step / 2) / step);
        }
        if (first >= from - 1) {
            first = from - 1;
            second = 0;
        }
        axis.spans.push_back({first, second == 0 ? 1 : 2, static_cast<int>(axis.weights.size())});
        axis.weights.push_back(kLinearTotal - second);
        if (second != 0)
            axis.weights.push_back(second);
    }
    return axis;
}

AxisWeights AxisWeights::exactArea(int from, int to)
{
    AxisWeights axis;
    const std::int64_t f = from;
    const std::int64_t t = to;
    axis.total = static_cast<std::uint32_t>(from);
    for (std::int64_t i = 0; i < t; ++i) {
        // Result pixel i spans [i * from, (i + 1) * from), source pixel x spans [x * to, (x + 1) * to).
        const std::int64_t begin = i * f;
        const std::int64_t end = (i + 1) * f;
        const auto first = static_cast<int>(begin / t);
        const auto last = static_cast<int>((end - 1) / t);
        axis.spans.push_back({first, last - first + 1, static_cast<int>(axis.weights.size())});
        for (std::int64_t x = first; x <= last; ++x)
            axis.weights.push_back(static_cast<std::uint32_t>(std::min((x + 1) * t, end) - std::max(x * t, begin)));
    }
    return axis;
}

RowAverager::RowAverager(int fromWidth, int fromHeight, int toWidth, int toHeight)
    : m_across(AxisWeights::exactArea(fromWidth, toWidth)), m_down(AxisWeights::exactArea(fromHeight, toHeight)),
      m_sums(static_cast<std::size_t>(fromWidth) * 4),
      m_column(m_sums.size()), m_result{toWidth, toHeight,
                                        std::vector<std::uint8_t>(static_cast<std::size_t>(toWidth) *
                                                                  static_cast<std::size_t>(toHeight) * 4)}
{
}

void RowAverager::addRow(std::span<const std::uint8_t> rgba)
{
    const int y = m_nextRow++;
    // A source row on the border of two result rows is shared: it ends one and starts the next.
    while (m_openRow < m_result.height) {
        const AxisWeights::Span& rows = m_down.spans[static_cast<std::size_t>(m_openRow)];
        if (y < rows.first || y >= rows.first + rows.count)
            return;
        const std::uint32_t weight = m_down.weights[static_cast<std::size_t>(rows.weights + y - rows.first)];
        addWeighted(m_sums.data(), rgba.data(), m_sums.size(), weight);
        if (y < rows.first + rows.count - 1)
            return;
        cutSums(m_column.data(), m_sums.data(), m_sums.size(), m_down.total);
        std::fill(m_sums.begin(), m_sums.end(), 0);
        std::uint8_t* out =
            m_result.rgba.data() + static_cast<std::size_t>(m_openRow) * static_cast<std::size_t>(m_result.width) * 4;
        for (const AxisWeights::Span& span : m_across.spans) {
            for (std::size_t c = 0; c < 4; ++c) {
                std::uint64_t sum = 0;
                for (int k = 0; k < span.count; ++k)
                    sum += m_across.weights[static_cast<std::size_t>(span.weights + k)] *
                           m_column[static_cast<std::size_t>(span.first + k) * 4 + c];
                *out++ = static_cast<std::uint8_t>(sum / m_across.total);
            }
        }
        ++m_openRow;
    }
}

RowScaler::RowScaler(int fromWidth, int fromHeight, int toWidth, int toHeight)
    : m_across(AxisWeights::between(fromWidth, toWidth)), m_down(AxisWeights::between(fromHeight, toHeight)),
      m_toWidth(toWidth), m_toHeight(toHeight), m_coarse(toWidth < fromWidth && toHeight < fromHeight),
      m_reduced(static_cast<std::size_t>(toWidth) * 4),
      m_sums(static_cast<std::size_t>(toWidth) * static_cast<std::size_t>(toHeight) * 4)
{
}

void RowScaler::addRow(std::span<const std::uint8_t> rgba)
{
    const int y = m_nextRow++;
    while (m_firstOpenRow < m_toHeight) {
        const AxisWeights::Span& open = m_down.spans[static_cast<std::size_t>(m_firstOpenRow)];
        if (open.first + open.count > y)
            break;
        ++m_firstOpenRow;
    }
    if (m_firstOpenRow >= m_toHeight || m_down.spans[static_cast<std::size_t>(m_firstOpenRow)].first > y)
        return;
    for (int i = 0; i < m_toWidth; ++i) {
        const AxisWeights::Span& span = m_across.spans[static_cast<std::size_t>(i)];
        const std::uint32_t* weight = m_across.weights.data() + span.weights;
        const std::uint8_t* pixel = rgba.data() + static_cast<std::size_t>(span.first) * 4;
        // 64 bits: a row of millions of pixels reduced to one would overflow 32.
        std::uint64_t r = 0;
        std::uint64_t g = 0;
        std::uint64_t b = 0;
        std::uint64_t a = 0;
        for (int k = 0; k < span.count; ++k, pixel += 4) {
            r += pixel[0] * weight[k];
            g += pixel[1] * weight[k];
            b += pixel[2] * weight[k];
            a += pixel[3] * weight[k];
        }
        // Coarse sums keep 10 of their 14 fraction bits before they are weighed again down the rows.
        const int shift = m_coarse ? 4 : 0;
        std::uint64_t* out = m_reduced.data() + static_cast<std::size_t>(i) * 4;
        out[0] = r >> shift;
        out[1] = g >> shift;
        out[2] = b >> shift;
        out[3] = a >> shift;
    }
    for (int j = m_firstOpenRow; j < m_toHeight; ++j) {
        const AxisWeights::Span& span = m_down.spans[static_cast<std::size_t>(j)];
        if (span.first > y)
            break;
        const std::uint64_t weight = m_down.weights[static_cast<std::size_t>(span.weights + y - span.first)];
        std::uint64_t* sums = m_sums.data() + static_cast<std::size_t>(j) * static_cast<std::size_t>(m_toWidth) * 4;
        for (std::size_t c = 0; c < m_reduced.size(); ++c)
            sums[c] += m_reduced[c] * weight;
    }
}

CoverPixels RowScaler::finish() const
{
    CoverPixels result{m_toWidth, m_toHeight, std::vector<std::uint8_t>(m_sums.size())};
    if (m_coarse) {
        for (std::size_t c = 0; c < m_sums.size(); ++c)
            result.rgba[c] =
                static_cast<std::uint8_t>(std::min<std::uint64_t>(m_sums[c] >> (2 * kCoarseBits - 4), 255));
        return result;
    }
    const std::uint64_t total = std::uint64_t{m_across.total} * m_down.total;
    for (std::size_t c = 0; c < m_sums.size(); ++c)
        result.rgba[c] = static_cast<std::uint8_t>(std::min<std::uint64_t>((m_sums[c] + total / 2) / total, 255));
    return result;
}

void premultiply(std::span<std::uint8_t> rgba)
{
    for (std::size_t at = 0; at + 3 < rgba.size(); at += 4) {
        const unsigned alpha = rgba[at + 3];
        if (alpha == 255)
            continue;
        for (std::size_t c = 0; c < 3; ++c) {
            const unsigned product = rgba[at + c] * alpha + 128;
            rgba[at + c] = static_cast<std::uint8_t>((product + (product >> 8)) >> 8);
        }
    }
}

CoverPixels orientedPixels(const CoverPixels& pixels, int orientation)
{
    if (orientation < 2 || orientation > 8)
        return pixels;
    const int w = pixels.width;
    const int h = pixels.height;
    const bool across = orientation >= 5; // the sides trade places
    CoverPixels turned{across ? h : w, across ? w : h, std::vector<std::uint8_t>(pixels.rgba.size())};
    for (int y = 0; y < turned.height; ++y) {
        for (int x = 0; x < turned.width; ++x) {
            int sx = x;
            int sy = y;
            switch (orientation) {
            case 2:
                sx = w - 1 - x;
                break;
            case 3:
                sx = w - 1 - x;
                sy = h - 1 - y;
                break;
            case 4:
                sy = h - 1 - y;
                break;
            case 5:
                sx = y;
                sy = x;
                break;
            case 6:
                sx = y;
                sy = h - 1 - x;
                break;
            case 7:
                sx = w - 1 - y;
                sy = h - 1 - x;
                break;
            default:
                sx = w - 1 - y;
                sy = x;
                break;
            }
            const auto from =
                (static_cast<std::size_t>(sy) * static_cast<std::size_t>(w) + static_cast<std::size_t>(sx)) * 4;
            const auto to =
                (static_cast<std::size_t>(y) * static_cast<std::size_t>(turned.width) + static_cast<std::size_t>(x)) *
                4;
            std::copy_n(pixels.rgba.begin() + static_cast<std::ptrdiff_t>(from), 4,
                        turned.rgba.begin() + static_cast<std::ptrdiff_t>(to));
        }
    }
    return turned;
}

PixelCanvas straightCanvas(const CoverPixels& pixels, int width, int height)
{
    if (width <= 0 || height <= 0)
        return PixelCanvas{};
    PixelCanvas canvas{
        width, height,
        std::vector<std::uint8_t>(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4)};
    if (pixels.width <= 0 || pixels.height <= 0)
        return canvas;
    if (width == pixels.width && height == pixels.height)
        canvas.rgba = pixels.rgba;
    else
        stretch(pixels, canvas);
    static const std::array<float, 256> factors = unpremultiplyFactors();
    for (std::size_t at = 0; at + 3 < canvas.rgba.size(); at += 4) {
        const unsigned alpha = canvas.rgba[at + 3];
        if (alpha == 255)
            continue;
        for (std::size_t c = 0; c < 3; ++c)
            canvas.rgba[at + c] = static_cast<std::uint8_t>(
                std::min(255L, std::lrint(static_cast<float>(canvas.rgba[at + c]) * factors[alpha])));
    }
    return canvas;
}

} // namespace glowcast
