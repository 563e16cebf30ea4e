#include "core/palette/colour_quantiser.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <numeric>

namespace glowcast {

namespace {

constexpr int kLloydRounds = 4;
constexpr int kBinBits = 4;

struct Point {
    std::array<double, 3> lab{}; // Oklab lightness, a, b
    double weight = 0.0;
};

double squaredDistance(const std::array<double, 3>& p, const std::array<double, 3>& q)
{
    const double d0 = p[0] - q[0];
    const double d1 = p[1] - q[1];
    const double d2 = p[2] - q[2];
    return d0 * d0 + d1 * d1 + d2 * d2;
}

// The distinct colours at four bits a channel, each at the opacity-weighted mean of its pixels'
// light, so a bin stands for exactly the pixels in it. The table of bins is fixed (4096 entries).
std::vector<Point> distinctColours(const PixelCanvas& canvas)
{
    std::vector<Point> points;
    if (canvas.width <= 0 || canvas.height <= 0 ||
        canvas.rgba.size() != static_cast<std::size_t>(canvas.width) * static_cast<std::size_t>(canvas.height) * 4)
        return points;
    struct Bin {
        double red = 0.0;
        double green = 0.0;
        double blue = 0.0;
        double weight = 0.0;
    };
    std::vector<Bin> bins(std::size_t{1} << (3 * kBinBits));
    const auto& linear = linearFromByteTable();
    constexpr int kShift = 8 - kBinBits;
    for (std::size_t i = 0; i < canvas.rgba.size(); i += 4) {
        const std::uint8_t* pixel = &canvas.rgba[i];
        if (pixel[3] == 0)
            continue;
        const double opacity = pixel[3] / 255.0;
        Bin& bin = bins[static_cast<std::size_t>((pixel[0] >> kShift) << (2 * kBinBits) |
                                                 (pixel[1] >> kShift) << kBinBits | (pixel[2] >> kShift))];
        bin.red += linear[pixel[0]] * opacity;
        bin.green += linear[pixel[1]] * opacity;
        bin.blue += linear[pixel[2]] * opacity;
        bin.weight += opacity;
    }
    for (const Bin& bin : bins) {
        if (bin.weight <= 0.0)
            continue;
        const Oklab mean = oklabFromLinear({bin.red / bin.weight, bin.green / bin.weight, bin.blue / bin.weight});
        points.push_back({{mean.lightness, mean.a, mean.b}, bin.weight});
    }
    return points;
}

struct Moments {
    double weight = 0.0;
    std::array<double, 3> sum{};
    double squares = 0.0;

    void add(const Point& point)
    {
        weight += point.weight;
        for (std::size_t axis = 0; axis < 3; ++axis) {
            sum[axis] += point.weight * point.lab[axis];
            squares += point.weight * point.lab[axis] * point.lab[axis];
        }
    }
    // The weighted sum of squared distances from the mean.
    [[nodiscard]] double spread() const
    {
        if (weight <= 0.0)
            return 0.0;
        return squares - (sum[0] * sum[0] + sum[1] * sum[1] + sum[2] * sum[2]) / weight;
    }
};

// A run [begin, end) of the index list, with its spread.
struct Box {
    std::size_t begin = 0;
    std::size_t end = 0;
    double spread = 0.0;
};

Moments momentsOf(const std::vector<Point>& points, const std::vector<std::size_t>& order, std::size_t begin,
                  std::size_t end)
{
    Moments moments;
    for (std::size_t i = begin; i < end; ++i)
        moments.add(points[order[i]]);
    return moments;
}

// Splits the box across its widest axis at the cut that leaves the least spread on both sides.
std::pair<Box, Box> split(const std::vector<Point>& points, std::vector<std::size_t>& order, const Box& box)
{
    const Moments whole = momentsOf(points, order, box.begin, box.end);
    std::size_t axis = 0;
    double widest = -1.0;
    for (std::size_t candidate = 0; candidate < 3; ++candidate) {
        double squares = 0.0;
        for (std::size_t i = box.begin; i < box.end; ++i)
            squares += points[order[i]].weight * points[order[i]].lab[candidate] * points[order[i]].lab[candidate];
        const double variance = squares - whole.sum[candidate] * whole.sum[candidate] / whole.weight;
        if (variance > widest) {
            widest = variance;
            axis = candidate;
        }
    }
    const auto first = order.begin() + static_cast<std::ptrdiff_t>(box.begin);
    const auto last = order.begin() + static_cast<std::ptrdiff_t>(box.end);
    std::sort(first, last, [&](std::size_t p, std::size_t q) {
        if (points[p].lab[axis] != points[q].lab[axis])
            return points[p].lab[axis] < points[q].lab[axis];
        return p < q;
    });
    Moments below;
    std::size_t cut = box.begin + 1;
    double best = -1.0;
    for (std::size_t i = box.begin; i + 1 < box.end; ++i) {
        below.add(points[order[i]]);
        Moments above = whole;
        above.weight -= below.weight;
        for (std::size_t k = 0; k < 3; ++k)
            above.sum[k] -= below.sum[k];
        above.squares -= below.squares;
        const double total = below.spread() + above.spread();
        if (best < 0.0 || total < best) {
            best = total;
            cut = i + 1;
        }
    }
    Box low{box.begin, cut, momentsOf(points, order, box.begin, cut).spread()};
    Box high{cut, box.end, momentsOf(points, order, cut, box.end).spread()};
    return {low, high};
}

} // namespace

std::vector<ColourCluster> quantiseColours(const PixelCanvas& canvas, std::size_t maximum)
{
    const std::vector<Point> points = distinctColours(canvas);
    if (points.empty() || maximum == 0)
        return {};

    // Variance split: always the box with the most spread, while it has two colours to part.
    std::vector<std::size_t> order(points.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::vector<Box> boxes{{0, points.size(), momentsOf(points, order, 0, points.size()).spread()}};
    while (boxes.size() < maximum) {
        const auto widest = std::max_element(boxes.begin(), boxes.end(), [](const Box& p, const Box& q) {
            const bool pSplits = p.end - p.begin > 1;
            const bool qSplits = q.end - q.begin > 1;
            if (pSplits != qSplits)
                return qSplits;
            return p.spread < q.spread;
        });
        if (widest->end - widest->begin < 2 || widest->spread <= 0.0)
            break;
        const auto [low, high] = split(points, order, *widest);
        *widest = low;
        boxes.push_back(high);
    }

    // Weighted k-means from the boxes' means.
    std::vector<std::array<double, 3>> centres;
    for (const Box& box : boxes) {
        const Moments moments = momentsOf(points, order, box.begin, box.end);
        centres.push_back(
            {moments.sum[0] / moments.weight, moments.sum[1] / moments.weight, moments.sum[2] / moments.weight});
    }
    std::vector<std::size_t> nearest(points.size(), 0);
    std::vector<Moments> members(centres.size());
    for (int round = 0; round < kLloydRounds; ++round) {
        bool moved = false;
        for (std::size_t p = 0; p < points.size(); ++p) {
            std::size_t best = 0;
            double bestDistance = squaredDistance(points[p].lab, centres[0]);
            for (std::size_t c = 1; c < centres.size(); ++c) {
                const double distance = squaredDistance(points[p].lab, centres[c]);
                if (distance < bestDistance) {
                    bestDistance = distance;
                    best = c;
                }
            }
            moved = moved || (round > 0 && nearest[p] != best);
            nearest[p] = best;
        }
        std::fill(members.begin(), members.end(), Moments{});
        for (std::size_t p = 0; p < points.size(); ++p)
            members[nearest[p]].add(points[p]);
        for (std::size_t c = 0; c < centres.size(); ++c) {
            if (members[c].weight > 0.0)
                centres[c] = {members[c].sum[0] / members[c].weight, members[c].sum[1] / members[c].weight,
                              members[c].sum[2] / members[c].weight};
        }
        if (round > 0 && !moved)
            break;
    }

    std::vector<ColourCluster> clusters;
    for (std::size_t c = 0; c < centres.size(); ++c) {
        if (members[c].weight > 0.0)
            clusters.push_back({{centres[c][0], centres[c][1], centres[c][2]}, members[c].weight});
    }
    std::stable_sort(clusters.begin(), clusters.end(),
                     [](const ColourCluster& p, const ColourCluster& q) { return p.weight > q.weight; });
    return clusters;
}

} // namespace glowcast
