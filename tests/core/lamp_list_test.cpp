#include "core/json_codec.h"
#include "core/lamp_list.h"
#include "support/printing.h"
#include "support/recording_log.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <ranges>
#include <string>
#include <vector>

namespace glowcast {
namespace {

using Lamps = std::vector<LampEntry>;
using Lines = std::vector<std::string>;

TEST(LampListTest, KeepsWhatCanBeALampAndBoundsTheRest)
{
    struct Row {
        const char* what;
        std::string reply;
        std::optional<Lamps> lamps; // nothing: the reply is no lamp list
        Lines lines;
    };
    // 300 lamps named with 65 two-byte characters: 256 are kept, with names of 64 characters.
    std::string name;
    for (int i = 0; i < 65; ++i)
        name += "\xC3\xA9";
    std::string many = "{";
    Lamps kept;
    Lines cuts;
    for (int i = 1; i <= 300; ++i) {
        many += (i > 1 ? R"(,")" : R"(")") + std::to_string(i) + R"(":{"name":")" + name + R"("})";
        if (i <= 256) {
            kept.push_back({std::to_string(i), name.substr(0, 128), false});
            cuts.push_back("lamp " + kept.back().id + " has a name longer than 64 characters, cut to '" +
                           kept.back().name + "'");
        }
    }
    cuts.push_back("the bridge lists more than 256 lamps; lamp 257 and those after it left out");
    const auto badId = [](const std::string& id) {
        return "lamp '" + id + "' has an id that cannot stand in a URL path, left out";
    };
    const Row rows[] = {
        {"lamps in the reply's order",
         R"({"2":{"state":{"on":true},"name":"Hall"},"1":{"name":"Desk"}})",
         Lamps{{"2", "Hall", false}, {"1", "Desk", false}},
         {}},
        {"entries without a name",
         R"({"1":{"name":"Desk"},"2":"on","3":{"type":"plug"},"4":{"name":"Hall"}})",
         Lamps{{"1", "Desk", false}, {"4", "Hall", false}},
         {"lamp 2 has no name, left out", "lamp 3 has no name, left out"}},
        {"ids that would reach another resource",
         R"({"1/../../../../evil":{"name":"E"},"..":{"name":"U"},"7/..":{"name":"S"},"%2E%2E":{"name":"P"},)"
         R"(")" +
             std::string(65, 'x') + R"(":{"name":"L"},"1":{"name":"Desk"}})",
         Lamps{{"1", "Desk", false}},
         {badId("1/../../../../evil"), badId(".."), badId("7/.."), badId("%2E%2E"), badId(std::string(65, 'x'))}},
        {"more and longer than a bridge has", many + "}", kept, cuts},
        {"an id and a name as long as they may be",
         R"({")" + std::string(64, 'i') + R"(":{"name":")" + name.substr(2) + R"("}})",
         Lamps{{std::string(64, 'i'), name.substr(2), false}},
         {}},
        {"a bridge without lamps", " {} ", Lamps{}, {}},
        {"an error page", "<html>502 Bad Gateway</html>", std::nullopt, {}},
        {"a list", "[]", std::nullopt, {}},
        {"garbage in braces", "{\xff\xfe<<not json>>}", std::nullopt, {}},
        {"an object without lamps",
         R"({"1":"on","2":{"type":"plug"}})",
         std::nullopt,
         {"lamp 1 has no name, left out", "lamp 2 has no name, left out"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        RecordingLog log;
        EXPECT_EQ(lampsFromLightsReply(row.reply, log), row.lamps);
        // The reader's own lines follow the codec's working, when it decoded the reply.
        RecordingLog codec;
        (void)dictionaryFromJSON(row.reply, codec);
        const bool decoded = std::ranges::equal(codec.lines, log.lines | std::views::take(codec.lines.size()));
        EXPECT_EQ(Lines(log.lines.begin() + (decoded ? std::ssize(codec.lines) : 0), log.lines.end()), row.lines);
    }
}

} // namespace
} // namespace glowcast
