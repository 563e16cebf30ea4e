#include "adapters/covers/cover_file_decoder.h"
#include "adapters/files/regular_file.h"
#include "core/colour/perceptual.h"
#include "core/palette/eyedropper.h"
#include "core/palette/vivid_palette.h"
#include "support/recording_log.h"

#include <gtest/gtest.h>

#include <array>
#include <cctype>
#include <charconv>
#include <string>
#include <vector>

namespace glowcast {
namespace {

CieLab labOf(double red, double green, double blue)
{
    return cieLabFromLinear({linearFromEncoded(red), linearFromEncoded(green), linearFromEncoded(blue)});
}

CieLab labOf(const std::string& hex)
{
    std::array<double, 3> rgb{};
    for (std::size_t c = 0; c < 3; ++c) {
        int value = 0;
        std::from_chars(hex.data() + 2 * c, hex.data() + 2 * c + 2, value, 16);
        rgb[c] = value / 255.0;
    }
    return labOf(rgb[0], rgb[1], rgb[2]);
}

void expectWithinOneDeltaE(const std::vector<Colour>& colours, const std::vector<std::string>& expected)
{
    ASSERT_EQ(colours.size(), expected.size());
    for (std::size_t i = 0; i < colours.size(); ++i)
        EXPECT_LE(ciede2000(labOf(colours[i].red, colours[i].green, colours[i].blue), labOf(expected[i])), 1.0)
            << "colour " << i << ", before #" << expected[i];
}

struct Sample {
    const char* file; // from the top of the source tree
    std::vector<std::string> classic;
    std::vector<std::string> vivid; // empty: not compared
};

// The five colours of each palette for the covers of the source tree, as Qt's image readers and
// smooth scaling decoded them before PNG and JPEG got decoders of their own.
const std::vector<Sample> kSamples{
    {"samples/covers/01-ember.png",
     {"ff0000", "bf9f00", "9f00bf", "009fbf", "60bf00"},
     {"ff1414", "b010d0", "d0b010", "70d010", "10b0d0"}},
    {"samples/covers/02-meadow.png",
     {"00ff60", "bf9f00", "2000bf", "bf0060", "9f00bf"},
     {"14ff62", "3010d0", "d0b010", "d01070", "10b0d0"}},
    {"samples/covers/03-deep-sea.png",
     {"2000ff", "009fbf", "bf9f00", "bf0000", "00bf40"},
     {"3b14ff", "d01010", "10b0d0", "d0b010", "10d050"}},
    {"samples/covers/04-sunflower.png",
     {"ffbf00", "2000bf", "bf0060", "00bf40", "9f00bf"},
     {"ffd814", "3010d0", "d01070", "10d050", "10b0d0"}},
    {"samples/covers/05-neon.png",
     {"bf00ff", "60bf00", "009fbf", "bf9f00", "bf0000"},
     {"d814ff", "70d010", "d01010", "d0b010", "10b0d0"}},
    {"samples/covers/06-lagoon.png",
     {"00bfff", "bf0060", "2000bf", "bf9f00", "00bf40"},
     {"14d8ff", "3010d0", "d01070", "10d050", "d0b010"}},
    {"fuzz/corpus/cover_decoder_fuzz/seed-progressive.jpg",
     {"bf2000", "008020", "604020", "408020", "bf2000"},
     {"ca271d", "1e9e3b", "2a5232", "afddb8", "7a5822"}},
    {"fuzz/corpus/cover_decoder_fuzz/seed.bmp",
     {"bf2000", "008020", "604020", "406020", "bf2000"},
     {"c8281e", "209f3c", "24542c", "a4d2ae", "895432"}},
    // 4 x 4 pixels stretched to 80 x 80: the vivid picks move by up to 1.4.
    {"fuzz/corpus/cover_decoder_fuzz/seed.gif", {"dfdfdf", "0020bf", "802040", "602060", "809fbf"}, {}},
    {"fuzz/corpus/cover_decoder_fuzz/seed.jpg",
     {"bf2000", "208020", "606020", "408020", "bf2000"},
     {"c7291d", "209d3b", "2b5232", "b2deb8", "647031"}},
    {"fuzz/corpus/cover_decoder_fuzz/seed.png",
     {"bf2000", "008020", "406020", "bf2000", "008020"},
     {"c8281e", "1f9f3c", "00ea51", "b8e7c2", "5a7530"}},
    {"fuzz/corpus/cover_decoder_fuzz/seed.webp",
     {"bf2020", "008020", "606020", "408020", "dfffff"},
     {"c82923", "1d9f3a", "b4e5c1", "984500", "656f30"}},
    {"tests/data/bands-30.gif",
     {"9f0000", "00009f", "009f00", "404000", "9f0000"},
     {"0100d9", "00a000", "a00000", "5a4500", "0c4f63"}},
};

void PrintTo(const Sample& sample, std::ostream* out)
{
    *out << sample.file;
}

class CoverFileDecoderDifferenceTest : public ::testing::TestWithParam<Sample> {};

TEST_P(CoverFileDecoderDifferenceTest, GivesTheLampsTheColoursTheyHadWithinOneDeltaE)
{
    RecordingLog log;
    const FileRead file = readRegularFile(std::string(GLOWCAST_TEST_DATA "/../../") + GetParam().file,
                                          CoverFileDecoder::kMemoryBudgetBytes);
    ASSERT_TRUE(file.ok()) << file.reason;
    const std::unique_ptr<CoverImage> cover = CoverFileDecoder(log).decode(file.bytes);
    ASSERT_NE(cover, nullptr) << (log.lines.empty() ? "" : log.lines.back());
    {
        SCOPED_TRACE("classic");
        expectWithinOneDeltaE(Eyedropper(cover.get(), log).getColours(5), GetParam().classic);
    }
    if (!GetParam().vivid.empty()) {
        SCOPED_TRACE("vivid");
        expectWithinOneDeltaE(vividColours(cover->drawInto(Eyedropper::kCanvasSide, Eyedropper::kCanvasSide), 5),
                              GetParam().vivid);
    }
}

INSTANTIATE_TEST_SUITE_P(Corpora, CoverFileDecoderDifferenceTest, ::testing::ValuesIn(kSamples),
                         [](const ::testing::TestParamInfo<Sample>& row) {
                             const std::string file = row.param.file;
                             std::string name = file.substr(file.rfind('/') + 1);
                             for (char& c : name)
                                 if (std::isalnum(static_cast<unsigned char>(c)) == 0)
                                     c = '_';
                             return name;
                         });

} // namespace
} // namespace glowcast
