#include "core/eyedropper.h"
#include "fakes/colour_printing.h"
#include "fakes/fake_cover_image.h"
#include "fakes/recording_log.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace glowcast {
namespace {

using Rgba = FakeCoverImage::Rgba;
constexpr int kPixels = 80 * 80;

Colour rgb(double red, double green, double blue)
{
    return Colour{red, green, blue, 1.0};
}

std::vector<std::string> elementLines(int taken, int final)
{
    return {"returning array with " + std::to_string(taken) + " elements",
            "returning array with " + std::to_string(final) + " elements"};
}

// An 80 x 80 cover laid out as groups of pixels, in row order, the rest transparent.
struct Group {
    int pixels;
    Rgba rgba;
};

FakeCoverImage coverOf(const std::vector<Group>& groups)
{
    FakeCoverImage cover{80, 80};
    int next = 0;
    for (const Group& group : groups)
        next = cover.fill(next, group.pixels, group.rgba);
    return cover;
}

class EyedropperTest : public ::testing::Test {
protected:
    RecordingLog log;

    std::vector<Colour> coloursOf(const FakeCoverImage& cover, int n)
    {
        Eyedropper eyedropper{&cover, log};
        return eyedropper.getColours(n);
    }
};

// The pixel groups of the documented worked example; components are the nearest 8-bit values.
const std::vector<Group> kWorkedExample = {
    {2000, {204, 77, 26, 255}},   // 0.80, 0.30, 0.10 -> 518
    {1500, {214, 89, 38, 255}},   // 0.84, 0.35, 0.15 -> 66054
    {1200, {255, 255, 255, 255}}, // white -> 526344
    {800, {51, 102, 230, 255}},   // 0.20, 0.40, 0.90 -> 459521
    {500, {26, 179, 51, 255}},    // 0.10, 0.70, 0.20 -> 66816
    {300, {128, 128, 128, 255}},  // mid grey, not counted
    {100, {51, 13, 13, 255}},     // dark red, not counted
};

TEST_F(EyedropperTest, WorkedExampleTakesThreeDistinctColoursAndRepeatsThem)
{
    const FakeCoverImage cover = coverOf(kWorkedExample);
    Eyedropper eyedropper{&cover, log};
    EXPECT_EQ(eyedropper.getProcessedImage(), nullptr);

    const std::vector<Colour> colours = eyedropper.getColours(5);

    const Colour c518 = rgb(0.75, 0.25, 0);
    const Colour c459521 = rgb(0.125, 0.375, 0.875);
    const Colour c66816 = rgb(0, 0.625, 0.125);
    EXPECT_EQ(colours, (std::vector<Colour>{c518, c459521, c66816, c518, c459521}));
    EXPECT_EQ(log.lines, elementLines(3, 5));
    ASSERT_NE(eyedropper.getProcessedImage(), nullptr);
    EXPECT_EQ(*eyedropper.getProcessedImage(), cover.canvas());
}

TEST_F(EyedropperTest, ColourNumbersDecodeToTheBottomOfTheirStep)
{
    const FakeCoverImage cover{80, 80};
    const Eyedropper eyedropper{&cover, log};
    EXPECT_EQ(eyedropper.colorFromSingleValue(518), rgb(0.75, 0.25, 0));
    EXPECT_EQ(eyedropper.colorFromSingleValue(66054), rgb(0.75, 0.25, 0.125));
    EXPECT_EQ(eyedropper.colorFromSingleValue(526344), rgb(1, 1, 1));
    EXPECT_EQ(eyedropper.colorFromSingleValue(459521), rgb(0.125, 0.375, 0.875));
    EXPECT_EQ(eyedropper.colorFromSingleValue(0), rgb(0, 0, 0));
    EXPECT_EQ(eyedropper.colorFromSingleValue(8), rgb(1, 0, 0));
}

TEST_F(EyedropperTest, OneSaturatedColourFillsTheWholeList)
{
    const FakeCoverImage red{80, 80, {255, 0, 0, 255}};
    EXPECT_EQ(coloursOf(red, 4), std::vector<Colour>(4, rgb(1, 0, 0)));
    EXPECT_EQ(log.lines, elementLines(1, 4));
}

TEST_F(EyedropperTest, OnlyAComponentOfExactlyOneReachesTheTopLevel)
{
    EXPECT_EQ(coloursOf(FakeCoverImage{80, 80, {255, 0, 0, 255}}, 1), std::vector<Colour>{rgb(1, 0, 0)});
    // 254 / 255 is 0.996: index 7.
    EXPECT_EQ(coloursOf(FakeCoverImage{80, 80, {254, 0, 0, 255}}, 1), std::vector<Colour>{rgb(0.875, 0, 0)});
    EXPECT_EQ(coloursOf(FakeCoverImage{80, 80, {255, 255, 255, 255}}, 2), std::vector<Colour>(2, rgb(1, 1, 1)));
    // A light grey of 0.9 is bright enough to count and quantises to 0.875.
    EXPECT_EQ(coloursOf(FakeCoverImage{80, 80, {230, 230, 230, 255}}, 2),
              std::vector<Colour>(2, rgb(0.875, 0.875, 0.875)));
}

TEST_F(EyedropperTest, PixelFilterComparisonsAreStrict)
{
    // Saturation exactly 0.5 with brightness 0.85 or less does not count, a hair more does.
    EXPECT_FALSE(Eyedropper::passesPixelFilter(rgb(0.8, 0.4, 0.4)));
    EXPECT_TRUE(Eyedropper::passesPixelFilter(rgb(0.8, 0.399, 0.4)));
    // Brightness exactly 0.35 does not count, however saturated.
    EXPECT_FALSE(Eyedropper::passesPixelFilter(rgb(0.35, 0, 0)));
    EXPECT_TRUE(Eyedropper::passesPixelFilter(rgb(0.351, 0, 0)));
    // Brightness exactly 0.85 without saturation does not count; above it anything counts.
    EXPECT_FALSE(Eyedropper::passesPixelFilter(rgb(0.85, 0.85, 0.85)));
    EXPECT_FALSE(Eyedropper::passesPixelFilter(rgb(0.85, 0.5, 0.5)));
    EXPECT_TRUE(Eyedropper::passesPixelFilter(rgb(0.851, 0.851, 0.851)));
    EXPECT_FALSE(Eyedropper::passesPixelFilter(rgb(0, 0, 0)));
}

TEST_F(EyedropperTest, PixelsAtTheThresholdsDoNotCount)
{
    // 200 and 100 give saturation exactly 0.5; 89 / 255 is below 0.35; 216 / 255 is below 0.85.
    const FakeCoverImage cover = coverOf(
        {{1000, {200, 100, 100, 255}}, {1000, {89, 0, 0, 255}}, {1000, {216, 216, 216, 255}}, {10, {0, 0, 90, 255}}});
    // Only the last group, saturated with brightness 90 / 255 above 0.35, counts.
    EXPECT_EQ(coloursOf(cover, 2), std::vector<Colour>(2, rgb(0, 0, 0.25)));
}

TEST_F(EyedropperTest, WhiteStrikesOutEveryBrightColour)
{
    const FakeCoverImage cover = coverOf({{3000, {255, 255, 255, 255}},
                                          {1500, {255, 230, 26, 255}},
                                          {1000, {26, 26, 102, 255}},
                                          {900, {26, 153, 153, 255}}});
    EXPECT_EQ(coloursOf(cover, 3), (std::vector<Colour>{rgb(1, 1, 1), rgb(0, 0, 0.375), rgb(0, 0.5, 0.5)}));
    EXPECT_EQ(log.lines, elementLines(3, 3));
}

TEST_F(EyedropperTest, TwoDarkColoursResembleWhateverTheirHues)
{
    // Brightness 0.36 counts but quantises to 0.25: dark.
    const FakeCoverImage cover = coverOf({{2000, {92, 0, 0, 255}}, {1000, {0, 0, 92, 255}}});
    EXPECT_EQ(coloursOf(cover, 2), std::vector<Colour>(2, rgb(0.25, 0, 0)));
    EXPECT_EQ(log.lines, elementLines(1, 2));
}

TEST_F(EyedropperTest, RedsOnEitherSideOfHueZeroAreDistinct)
{
    // (0.625, 0, 0.125) lies in the last sector, (0.625, 0, 0) in the first.
    const FakeCoverImage cover = coverOf({{2000, {160, 0, 40, 255}}, {1000, {160, 0, 0, 255}}});
    EXPECT_EQ(coloursOf(cover, 2), (std::vector<Colour>{rgb(0.625, 0, 0.125), rgb(0.625, 0, 0)}));
}

TEST_F(EyedropperTest, HueSectorHalvesRoundAwayFromZero)
{
    // Pure green: hue 1/3 times 7.5 narrows to 2.5 and rounds to sector 3, the sector of
    // (0, 0.625, 0.125), so that one is struck out while (0.25, 0.625, 0), sector 2, stays.
    const FakeCoverImage cover =
        coverOf({{3000, {0, 255, 0, 255}}, {2000, {0, 160, 40, 255}}, {1000, {64, 160, 0, 255}}});
    EXPECT_EQ(coloursOf(cover, 3), (std::vector<Colour>{rgb(0, 1, 0), rgb(0.25, 0.625, 0), rgb(0, 1, 0)}));
    EXPECT_EQ(log.lines, elementLines(2, 3));
}

TEST_F(EyedropperTest, EqualCountsTakeTheSmallerColourNumberFirstWhateverTheLayout)
{
    // 5 is (0.625, 0, 0) and 8 is (1, 0, 0): both in sector 0, so only the first taken survives.
    const std::vector<Colour> expected{rgb(0.625, 0, 0)};
    EXPECT_EQ(coloursOf(coverOf({{3200, {160, 0, 0, 255}}, {3200, {255, 0, 0, 255}}}), 1), expected);
    EXPECT_EQ(coloursOf(coverOf({{3200, {255, 0, 0, 255}}, {3200, {160, 0, 0, 255}}}), 1), expected);

    FakeCoverImage interleaved{80, 80};
    for (int i = 0; i < kPixels; ++i)
        interleaved.setPixel(i, i % 2 == 0 ? Rgba{255, 0, 0, 255} : Rgba{160, 0, 0, 255});
    EXPECT_EQ(coloursOf(interleaved, 3), std::vector<Colour>(3, rgb(0.625, 0, 0)));
}

TEST_F(EyedropperTest, FillRepeatsTheTakenColoursInOrderForAnyLength)
{
    const FakeCoverImage cover = coverOf({{2000, {255, 0, 0, 255}}, {1000, {0, 0, 160, 255}}});
    const Colour red = rgb(1, 0, 0);
    const Colour blue = rgb(0, 0, 0.625);
    EXPECT_EQ(coloursOf(cover, 5), (std::vector<Colour>{red, blue, red, blue, red}));
    EXPECT_EQ(coloursOf(cover, 7), (std::vector<Colour>{red, blue, red, blue, red, blue, red}));
    EXPECT_EQ(coloursOf(cover, 1), std::vector<Colour>{red});
    std::vector<std::string> expectedLines = elementLines(2, 5);
    for (const auto& line : elementLines(2, 7))
        expectedLines.push_back(line);
    for (const auto& line : elementLines(1, 1))
        expectedLines.push_back(line);
    EXPECT_EQ(log.lines, expectedLines);
}

TEST_F(EyedropperTest, NoColoursWantedStillRedrawsTheCover)
{
    const FakeCoverImage cover = coverOf(kWorkedExample);
    Eyedropper eyedropper{&cover, log};
    EXPECT_TRUE(eyedropper.getColours(0).empty());
    EXPECT_EQ(log.lines, elementLines(0, 0));
    ASSERT_NE(eyedropper.getProcessedImage(), nullptr);
    EXPECT_EQ(*eyedropper.getProcessedImage(), cover.canvas());
    EXPECT_TRUE(eyedropper.getColours(-3).empty());
}

TEST_F(EyedropperTest, CoverWithNothingToCountGivesAnEmptyListInsteadOfFillingForever)
{
    // All dark, mid greys, and fully transparent pixels.
    const FakeCoverImage cover =
        coverOf({{2000, {20, 10, 5, 255}}, {2000, {128, 128, 128, 255}}, {1000, {200, 200, 200, 255}}});
    EXPECT_TRUE(coloursOf(cover, 5).empty());
    EXPECT_EQ(log.lines, elementLines(0, 0));
}

TEST_F(EyedropperTest, CoverThatDidNotDecodeLeavesATransparentCanvas)
{
    Eyedropper eyedropper{nullptr, log};
    EXPECT_TRUE(eyedropper.getColours(3).empty());
    EXPECT_EQ(log.lines, elementLines(0, 0));
    const PixelCanvas* canvas = eyedropper.getProcessedImage();
    ASSERT_NE(canvas, nullptr);
    EXPECT_EQ(canvas->width, 80);
    EXPECT_EQ(canvas->height, 80);
    EXPECT_EQ(canvas->rgba, std::vector<std::uint8_t>(kPixels * 4, 0));
}

TEST_F(EyedropperTest, EachCallRedrawsTheCover)
{
    FakeCoverImage cover{80, 80, {255, 0, 0, 255}};
    Eyedropper eyedropper{&cover, log};
    EXPECT_EQ(eyedropper.getColours(1), std::vector<Colour>{rgb(1, 0, 0)});
    cover.fill(0, kPixels, {0, 0, 255, 255});
    EXPECT_EQ(eyedropper.getColours(1), std::vector<Colour>{rgb(0, 0, 1)});
    EXPECT_EQ(cover.draws, 2);
    EXPECT_EQ(*eyedropper.getProcessedImage(), cover.canvas());
}

} // namespace
} // namespace glowcast
