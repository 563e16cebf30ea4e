#include "core/eyedropper.h"
#include "support/fake_cover.h"
#include "support/printing.h"
#include "support/recording_log.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace glowcast {
namespace {

using Patch = PatchCover::Patch;
using Colours = std::vector<Colour>;

// The pixel groups of the documented worked example; components are the nearest 8-bit values.
const std::vector<Patch> kWorkedExample = {
    {{204, 77, 26}, 2000},   // 0.80, 0.30, 0.10 -> 518
    {{214, 89, 38}, 1500},   // 0.84, 0.35, 0.15 -> 66054
    {{255, 255, 255}, 1200}, // white -> 526344
    {{51, 102, 230}, 800},   // 0.20, 0.40, 0.90 -> 459521
    {{26, 179, 51}, 500},    // 0.10, 0.70, 0.20 -> 66816
    {{128, 128, 128}, 300},  // mid grey, not counted
    {{51, 13, 13}, 100},     // dark red, not counted
};

struct ExtractionCase {
    const char* what;
    std::vector<Patch> patches; // on opaque black, which never counts
    int n;
    Colours expected;
    std::size_t taken; // colours the selection took before the fill step
};

TEST(EyedropperTest, TakesDistinctColoursAndRepeatsThem)
{
    const Colour red = Colour(1, 0, 0);
    const Colour blue = Colour(0, 0, 0.625);
    const std::vector<Patch> redBlue{{{255, 0, 0}, 2000}, {{0, 0, 160}, 1000}};
    const std::vector<ExtractionCase> cases = {
        {"worked example",
         kWorkedExample,
         5,
         {{0.75, 0.25, 0}, {0.125, 0.375, 0.875}, {0, 0.625, 0.125}, {0.75, 0.25, 0}, {0.125, 0.375, 0.875}},
         3},
        {"one colour fills the list", {{{255, 0, 0}, 6400}}, 4, Colours(4, red), 1},
        // Only a component of exactly 1.0 reaches index 8; 254 / 255 is index 7.
        {"almost full red", {{{254, 0, 0}, 6400}}, 1, {{0.875, 0, 0}}, 1},
        {"white", {{{255, 255, 255}, 6400}}, 2, Colours(2, {1, 1, 1}), 1},
        {"light grey of 0.9 counts", {{{230, 230, 230}, 6400}}, 2, Colours(2, {0.875, 0.875, 0.875}), 1},
        // Saturation exactly 0.5, brightness below 0.35 and below 0.85 unsaturated do not count.
        {"thresholds are strict",
         {{{200, 100, 100}, 1000}, {{89, 0, 0}, 1000}, {{216, 216, 216}, 1000}, {{0, 0, 90}, 10}},
         2,
         Colours(2, {0, 0, 0.25}),
         1},
        {"white strikes out bright ones",
         {{{255, 255, 255}, 3000}, {{255, 230, 26}, 1500}, {{26, 26, 102}, 1000}, {{26, 153, 153}, 900}},
         3,
         {{1, 1, 1}, {0, 0, 0.375}, {0, 0.5, 0.5}},
         3},
        {"two darks alike, whatever the hue", {{{92, 0, 0}, 2000}, {{0, 0, 92}, 1000}}, 2, Colours(2, {0.25, 0, 0}), 1},
        {"reds around hue 0", {{{160, 0, 40}, 2000}, {{160, 0, 0}, 1000}}, 2, {{0.625, 0, 0.125}, {0.625, 0, 0}}, 2},
        // Pure green's sector 2.5 rounds away from zero to 3, striking out (0, 0.625, 0.125).
        {"halves round away from zero",
         {{{0, 255, 0}, 3000}, {{0, 160, 40}, 2000}, {{64, 160, 0}, 1000}},
         3,
         {{0, 1, 0}, {0.25, 0.625, 0}, {0, 1, 0}},
         2},
        // Equal counts: the smaller colour number first, whatever the layout.
        {"equal counts, dim first", {{{160, 0, 0}, 3200}, {{255, 0, 0}, 3200}}, 1, {{0.625, 0, 0}}, 1},
        {"equal counts, bright first", {{{255, 0, 0}, 3200}, {{160, 0, 0}, 3200}}, 1, {{0.625, 0, 0}}, 1},
        {"fill to five", redBlue, 5, {red, blue, red, blue, red}, 2},
        {"one wanted", redBlue, 1, {red}, 1},
        {"none wanted", kWorkedExample, 0, {}, 0},
        {"fewer than none wanted", kWorkedExample, -3, {}, 0},
        // An empty tally must end the fill step with an empty list.
        {"nothing counts", {{{20, 10, 5}, 2000}, {{128, 128, 128}, 2000}, {{200, 200, 200}, 1000}}, 5, {}, 0},
    };
    for (const ExtractionCase& c : cases) {
        SCOPED_TRACE(c.what);
        RecordingLog log;
        const PatchCover cover{c.patches};
        EXPECT_EQ(Eyedropper(&cover, log).getColours(c.n), c.expected);
        const auto line = [](std::size_t count) {
            return "returning array with " + std::to_string(count) + " elements";
        };
        EXPECT_EQ(log.lines, (std::vector<std::string>{line(c.taken), line(c.expected.size())}));
    }
}

} // namespace
} // namespace glowcast
