#include "core/palette/vivid_palette.h"

#include "core/colour/chromaticity.h"
#include "core/colour/perceptual.h"
#include "core/palette/colour_quantiser.h"
#include "core/palette/lamp_colour.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <optional>

namespace glowcast {

namespace {

constexpr std::size_t kClusters = 24;
// Not lamp colours while the cover has others.
constexpr double kBlackLStar = 15.0;
constexpr double kWhiteLStar = 92.0;
constexpr double kGreyChroma = 0.04;
// Above the white's lightness a colour this rich still is one (a yellow, a lime, a light cyan); only
// paler ones are tints of white.
constexpr double kLightColourChroma = 0.10;
// A group smaller than this share of the cover is noise, not a colour of it.
constexpr double kSmallestShare = 0.002;
// Each lamp colour's floors (Oklab), and the ceiling that keeps it from washing out to white.
constexpr double kLampChroma = 0.07;
constexpr double kLowestLightness = 0.40;
constexpr double kHighestLightness = 0.90;
// Every two lamp colours at least this far apart (CIEDE2000).
constexpr double kDistinctFloor = 16.0;
// How much a unit of Oklab chroma is worth against a unit of mean distance to the picture.
constexpr double kChromaWorth = 8.0;
constexpr int kSwapRounds = 32;
// Fills: hues this many degrees (and twice and three times as many) either side of the heaviest groups' own.
constexpr double kFillTurn = 20.0;
constexpr std::size_t kFilledGroups = 8;
// Beside each group's own lightness, a lighter and a darker lamp colour of the same hue: the shades
// a photograph has of one colour, and what keeps a cover with few hues from repeating colours.
constexpr double kShadeStep = 0.2;
// And a richer one: the group's chroma times this, as far as a screen can show it.
constexpr double kRicher = 1.5;
// Those only where the cover has a colour this near them (CIEDE2000): a flat cover stays one colour.
constexpr double kNearPicture = 15.0;
// A lamp colour this near the black body's whites (CIE 1960 uv, 2000 to 6500 K) reads as white light.
constexpr double kWhiteLightUv = 0.008;
constexpr int kTurnStepDegrees = 3;
constexpr int kLargestTurnDegrees = 24;
// A colourless cover's lamps: never dimmer than this, so a black cover dims the room without darkness.
constexpr std::int32_t kNeutralFloorBri = 20;

struct Candidate {
    Oklab colour;
    CieLab lab;
    double share = 0.0; // of the cover, of the group it stands for
};

LinearRgb clampedLinear(const LinearRgb& c)
{
    return {std::clamp(c.red, 0.0, 1.0), std::clamp(c.green, 0.0, 1.0), std::clamp(c.blue, 0.0, 1.0)};
}

bool inGamut(const Oklab& colour)
{
    constexpr double kSlack = 1e-9;
    const LinearRgb c = linearFromOklab(colour);
    return c.red >= -kSlack && c.red <= 1.0 + kSlack && c.green >= -kSlack && c.green <= 1.0 + kSlack &&
           c.blue >= -kSlack && c.blue <= 1.0 + kSlack;
}

// The group's colour as a lamp shows it: lightness within the floor and ceiling, chroma at least
// the floor, then chroma lowered (hue and lightness kept) until a screen can show it.
Oklab lampColour(const Oklab& centre)
{
    const double chroma = centre.chroma();
    const double lightness = std::clamp(centre.lightness, kLowestLightness, kHighestLightness);
    const double wanted = std::max(chroma, kLampChroma);
    const double cosine = chroma > 0.0 ? centre.a / chroma : 1.0;
    const double sine = chroma > 0.0 ? centre.b / chroma : 0.0;
    const auto at = [&](double c) { return Oklab{lightness, c * cosine, c * sine}; };
    if (inGamut(at(wanted)))
        return at(wanted);
    double low = 0.0;
    double high = wanted;
    for (int step = 0; step < 24; ++step) {
        const double middle = (low + high) / 2.0;
        (inGamut(at(middle)) ? low : high) = middle;
    }
    return at(low);
}

Chromaticity chromaticityOf(const LinearRgb& light)
{
    const double bigX = 0.4124564 * light.red + 0.3575761 * light.green + 0.1804375 * light.blue;
    const double bigY = 0.2126729 * light.red + 0.7151522 * light.green + 0.0721750 * light.blue;
    const double bigZ = 0.0193339 * light.red + 0.1191920 * light.green + 0.9503041 * light.blue;
    const double sum = bigX + bigY + bigZ;
    // Black has no chromaticity of its own: the white point, as for every grey.
    if (sum <= 0.0)
        return {0.3127, 0.3290};
    return {bigX / sum, bigY / sum};
}

bool readsAsWhiteLight(const LinearRgb& light)
{
    // The black body's curve from 2000 to 6500 K in uv, as a line through points 5 mired apart.
    static const std::vector<Chromaticity> curve = [] {
        std::vector<Chromaticity> points;
        for (double mired = 500.0; mired >= 150.0; mired -= 5.0)
            points.push_back(uniformChromaticity(blackBodyChromaticity(1e6 / mired)));
        return points;
    }();
    const Chromaticity point = uniformChromaticity(chromaticityOf(light));
    const auto [lowU, highU] = std::minmax({curve.front().x, curve.back().x});
    const auto [lowV, highV] = std::minmax({curve.front().y, curve.back().y});
    if (point.x < lowU - kWhiteLightUv || point.x > highU + kWhiteLightUv || point.y < lowV - kWhiteLightUv ||
        point.y > highV + kWhiteLightUv)
        return false;
    for (std::size_t i = 0; i + 1 < curve.size(); ++i) {
        const double dx = curve[i + 1].x - curve[i].x;
        const double dy = curve[i + 1].y - curve[i].y;
        const double t =
            std::clamp(((point.x - curve[i].x) * dx + (point.y - curve[i].y) * dy) / (dx * dx + dy * dy), 0.0, 1.0);
        const double du = point.x - curve[i].x - t * dx;
        const double dv = point.y - curve[i].y - t * dy;
        if (du * du + dv * dv < kWhiteLightUv * kWhiteLightUv)
            return true;
    }
    return false;
}

// The hue nearest the group's own (turned a few degrees at a time, either way) whose lamp colour
// does not read as white light: an orange or a tan at a candle's chromaticity becomes a slightly
// redder or yellower one. Nothing when no turn within the limit gets there.
std::optional<Oklab> offWhiteLight(const Oklab& centre)
{
    for (int turn = 0; turn <= kLargestTurnDegrees; turn += kTurnStepDegrees) {
        for (const int sign : {1, -1}) {
            if (turn == 0 && sign < 0)
                continue;
            const double angle = sign * turn * std::numbers::pi / 180.0;
            const Oklab turned{centre.lightness, centre.a * std::cos(angle) - centre.b * std::sin(angle),
                               centre.a * std::sin(angle) + centre.b * std::cos(angle)};
            const Oklab shown = lampColour(turned);
            if (!readsAsWhiteLight(clampedLinear(linearFromOklab(shown))))
                return turned;
        }
    }
    return std::nullopt;
}

Colour encoded(const LinearRgb& linear)
{
    const LinearRgb c = clampedLinear(linear);
    return {encodedFromLinear(c.red), encodedFromLinear(c.green), encodedFromLinear(c.blue), 1.0};
}

std::vector<Colour> warmWhite(const std::vector<ColourCluster>& clusters, std::int32_t n)
{
    double weight = 0.0;
    double lightness = 0.0;
    for (const ColourCluster& cluster : clusters) {
        weight += cluster.weight;
        lightness += cluster.weight * cluster.centre.lightness;
    }
    const double mean = weight > 0.0 ? lightness / weight : 0.0;
    const auto bri = std::clamp(static_cast<std::int32_t>(std::lround(254.0 * mean)), kNeutralFloorBri, 254);
    // The white's light at full brightness (largest channel 1), then dimmed in linear light so its
    // chromaticity stays while its largest encoded channel becomes bri / 254.
    const double bigX = kWarmWhiteX / kWarmWhiteY;
    const double bigZ = (1.0 - kWarmWhiteX - kWarmWhiteY) / kWarmWhiteY;
    LinearRgb white{3.2404542 * bigX - 1.5371385 - 0.4985314 * bigZ, -0.9692660 * bigX + 1.8760108 + 0.0415560 * bigZ,
                    0.0556434 * bigX - 0.2040259 + 1.0572252 * bigZ};
    const double scale = linearFromEncoded(bri / 254.0) / std::max({white.red, white.green, white.blue});
    white = {white.red * scale, white.green * scale, white.blue * scale};
    return std::vector<Colour>(static_cast<std::size_t>(n), encoded(white));
}

class Picker {
public:
    // Candidates from fillFrom on only fill the places the others leave.
    Picker(const std::vector<ColourCluster>& clusters, std::vector<Candidate> candidates, std::size_t fillFrom)
        : m_candidates(std::move(candidates)), m_fillFrom(fillFrom),
          m_apart(m_candidates.size() * m_candidates.size(), kUnknown)
    {
        double total = 0.0;
        for (const ColourCluster& cluster : clusters)
            total += cluster.weight;
        for (const ColourCluster& cluster : clusters) {
            m_shares.push_back(cluster.weight / total);
            m_labs.push_back(cieLabFromLinear(clampedLinear(linearFromOklab(cluster.centre))));
        }
        m_distance.assign(m_labs.size() * m_candidates.size(), kUnknownDistance);
    }

    // The set, by greedy growth and then swaps while a swap lowers the cost; then the fills, greedily.
    std::vector<std::size_t> choose(std::size_t wanted) const
    {
        std::vector<std::size_t> chosen;
        grow(chosen, wanted, 0, m_fillFrom);
        double current = cost(chosen);
        for (int round = 0; round < kSwapRounds; ++round) {
            bool improved = false;
            for (std::size_t slot = 0; slot < chosen.size(); ++slot) {
                for (std::size_t c = 0; c < m_fillFrom; ++c) {
                    if (!fits(chosen, c, slot))
                        continue;
                    const std::size_t old = chosen[slot];
                    chosen[slot] = c;
                    const double value = cost(chosen);
                    if (value < current - 1e-12) {
                        current = value;
                        improved = true;
                    } else {
                        chosen[slot] = old;
                    }
                }
            }
            if (!improved)
                break;
        }
        grow(chosen, wanted, m_fillFrom, m_candidates.size());
        return chosen;
    }

    // Highest score first: the share of the picture a colour stands nearest to, and its chroma.
    void order(std::vector<std::size_t>& chosen) const
    {
        std::vector<double> covered(chosen.size(), 0.0);
        for (std::size_t j = 0; j < m_labs.size(); ++j)
            covered[nearest(chosen, j)] += m_shares[j];
        std::vector<std::pair<double, std::size_t>> scored;
        for (std::size_t i = 0; i < chosen.size(); ++i)
            scored.emplace_back(covered[i] + m_candidates[chosen[i]].colour.chroma(), chosen[i]);
        std::stable_sort(scored.begin(), scored.end(), [](const auto& p, const auto& q) { return p.first > q.first; });
        for (std::size_t i = 0; i < chosen.size(); ++i)
            chosen[i] = scored[i].second;
    }

    [[nodiscard]] const Oklab& colour(std::size_t c) const { return m_candidates[c].colour; }

private:
    void grow(std::vector<std::size_t>& chosen, std::size_t wanted, std::size_t from, std::size_t to) const
    {
        while (chosen.size() < wanted) {
            std::optional<std::size_t> best;
            double bestCost = 0.0;
            for (std::size_t c = from; c < to; ++c) {
                if (!fits(chosen, c, chosen.size()))
                    continue;
                chosen.push_back(c);
                const double value = cost(chosen);
                chosen.pop_back();
                if (!best || value < bestCost) {
                    best = c;
                    bestCost = value;
                }
            }
            if (!best)
                return;
            chosen.push_back(*best);
        }
    }

    // Whether candidate c keeps its distance from every chosen one except the one in slot skip (and
    // is not one of them).
    bool fits(const std::vector<std::size_t>& chosen, std::size_t c, std::size_t skip) const
    {
        for (std::size_t slot = 0; slot < chosen.size(); ++slot)
            if (slot != skip && !apart(chosen[slot], c))
                return false;
        return true;
    }

    // A candidate's distances to the picture's groups, worked out when first asked: the fills' often never are.
    double distance(std::size_t j, std::size_t c) const
    {
        double* column = &m_distance[c * m_labs.size()];
        if (column[0] == kUnknownDistance)
            for (std::size_t k = 0; k < m_labs.size(); ++k)
                column[k] = ciede2000(m_labs[k], m_candidates[c].lab);
        return column[j];
    }

    // Worked out when first asked: most pairs never are.
    bool apart(std::size_t p, std::size_t q) const
    {
        std::int8_t& known = m_apart[p * m_candidates.size() + q];
        if (known == kUnknown)
            known = p != q && ciede2000(m_candidates[p].lab, m_candidates[q].lab) >= kDistinctFloor ? 1 : 0;
        return known == 1;
    }

    std::size_t nearest(const std::vector<std::size_t>& chosen, std::size_t j) const
    {
        std::size_t best = 0;
        for (std::size_t i = 1; i < chosen.size(); ++i)
            if (distance(j, chosen[i]) < distance(j, chosen[best]))
                best = i;
        return best;
    }

    // The picture's mean distance to its nearest lamp colour, less what the colours' chroma is worth.
    double cost(const std::vector<std::size_t>& chosen) const
    {
        double away = 0.0;
        for (std::size_t j = 0; j < m_labs.size(); ++j)
            away += m_shares[j] * distance(j, chosen[nearest(chosen, j)]);
        double chroma = 0.0;
        for (std::size_t c : chosen)
            chroma += m_candidates[c].colour.chroma();
        return away - kChromaWorth * chroma / static_cast<double>(chosen.size());
    }

    std::vector<Candidate> m_candidates;
    std::vector<double> m_shares;
    std::vector<CieLab> m_labs;
    static constexpr double kUnknownDistance = -1.0;
    mutable std::vector<double> m_distance; // candidate x cluster, CIEDE2000
    std::size_t m_fillFrom;
    static constexpr std::int8_t kUnknown = -1;
    mutable std::vector<std::int8_t> m_apart; // candidate x candidate: 1 far enough apart, 0 not
};

} // namespace

std::vector<Colour> vividColours(const PixelCanvas& canvas, std::int32_t n)
{
    if (n <= 0)
        return {};
    const std::vector<ColourCluster> clusters = quantiseColours(canvas, kClusters);
    double total = 0.0;
    for (const ColourCluster& cluster : clusters)
        total += cluster.weight;

    std::vector<CieLab> pictureLabs;
    for (const ColourCluster& cluster : clusters)
        pictureLabs.push_back(cieLabFromLinear(clampedLinear(linearFromOklab(cluster.centre))));
    std::vector<Candidate> candidates;
    std::vector<ColourCluster> colourful;
    for (const ColourCluster& cluster : clusters) {
        const double share = cluster.weight / total;
        const double lStar = cieLabFromLinear(clampedLinear(linearFromOklab(cluster.centre))).lightness;
        const double chroma = cluster.centre.chroma();
        if (share < kSmallestShare || lStar < kBlackLStar || (lStar > kWhiteLStar && chroma < kLightColourChroma) ||
            chroma < kGreyChroma)
            continue;
        const std::optional<Oklab> hue = offWhiteLight(cluster.centre);
        if (!hue)
            continue;
        colourful.push_back({*hue, cluster.weight});
        std::vector<Oklab> kept;
        for (const double shade : {0.0, -kShadeStep, kShadeStep}) {
            for (const double richer : {1.0, kRicher}) {
                const Oklab colour = lampColour({hue->lightness + shade, hue->a * richer, hue->b * richer});
                const LinearRgb light = clampedLinear(linearFromOklab(colour));
                const bool seen = std::any_of(kept.begin(), kept.end(), [&](const Oklab& k) {
                    return std::abs(k.lightness - colour.lightness) < kShadeStep / 2 &&
                           std::abs(k.chroma() - colour.chroma()) < 0.02;
                });
                if (seen || readsAsWhiteLight(light))
                    continue;
                const CieLab lab = cieLabFromLinear(light);
                const bool own = shade == 0.0 && richer == 1.0;
                if (!own && std::none_of(pictureLabs.begin(), pictureLabs.end(),
                                         [&](const CieLab& p) { return ciede2000(p, lab) < kNearPicture; }))
                    continue;
                kept.push_back(colour);
                candidates.push_back({colour, lab, share});
            }
        }
    }
    if (candidates.empty())
        return warmWhite(clusters, n);

    // A cover with at least as many colours of its own as lamps, but too close together for them
    // all, fills the rest with its heaviest colours' hues turned: never twice the same colour there.
    const std::size_t fillFrom = candidates.size();
    if (colourful.size() >= static_cast<std::size_t>(n)) {
        for (std::size_t i = 0; i < colourful.size() && i < kFilledGroups; ++i) {
            const Oklab& hue = colourful[i].centre;
            for (const double degrees :
                 {kFillTurn, -kFillTurn, 2 * kFillTurn, -2 * kFillTurn, 3 * kFillTurn, -3 * kFillTurn}) {
                const double angle = degrees * std::numbers::pi / 180.0;
                const Oklab colour = lampColour({hue.lightness, hue.a * std::cos(angle) - hue.b * std::sin(angle),
                                                 hue.a * std::sin(angle) + hue.b * std::cos(angle)});
                const LinearRgb light = clampedLinear(linearFromOklab(colour));
                if (!readsAsWhiteLight(light))
                    candidates.push_back({colour, cieLabFromLinear(light), 0.0});
            }
        }
    }

    const Picker picker(clusters, std::move(candidates), fillFrom);
    std::vector<std::size_t> chosen = picker.choose(static_cast<std::size_t>(n));
    picker.order(chosen);
    std::vector<Colour> colours;
    colours.reserve(static_cast<std::size_t>(n));
    for (std::size_t i = 0; colours.size() < static_cast<std::size_t>(n); ++i)
        colours.push_back(encoded(linearFromOklab(picker.colour(chosen[i % chosen.size()]))));
    return colours;
}

LampLight vividLampLight(const Colour& colour)
{
    const auto channel = [](double value) { return std::isfinite(value) ? std::clamp(value, 0.0, 1.0) : 0.0; };
    const double red = channel(colour.red);
    const double green = channel(colour.green);
    const double blue = channel(colour.blue);
    const Chromaticity xy = chromaticityOf({linearFromEncoded(red), linearFromEncoded(green), linearFromEncoded(blue)});
    const auto bri = std::clamp(static_cast<std::int32_t>(std::lround(254.0 * std::max({red, green, blue}))), 1, 254);
    return {bri, xy.x, xy.y};
}

LampTarget vividLampTarget(const std::optional<Colour>& colour)
{
    if (!colour)
        return {};
    const LampLight light = vividLampLight(*colour);
    return {light.bri, Chromaticity{toThreeDecimals(light.x), toThreeDecimals(light.y)}};
}

} // namespace glowcast
