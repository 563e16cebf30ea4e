#include "core/glowcast_controller.h"
#include "core/json_codec.h"
#include "core/lamp_colour.h"
#include "fakes/colour_printing.h"
#include "fakes/controller_rig.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace glowcast {

void PrintTo(const LampEntry& entry, std::ostream* out)
{
    *out << "{" << entry.id << ", " << entry.name << ", " << (entry.enabled ? "enabled" : "disabled") << "}";
}

namespace {

using Patch = PatchCover::Patch;

// Flat colours that the extractor keeps apart: neither dark nor bright, each in its own hue sector.
// 192 and 96 quantise to 0.75 and 0.375 exactly.
const Patch kRed{{192, 0, 0}, 0};
const Patch kYellow{{192, 192, 0}, 0};
const Patch kLime{{96, 192, 0}, 0};
const Patch kGreen{{0, 192, 0}, 0};
const Patch kCyan{{0, 192, 192}, 0};
const Patch kBlue{{0, 0, 192}, 0};
const Patch kMagenta{{192, 0, 192}, 0};

Patch withPixels(Patch patch, int pixels)
{
    patch.pixels = pixels;
    return patch;
}

Colour colourOf(const Patch& patch)
{
    const auto quantised = [](std::uint8_t byte) { return byte == 192 ? 0.75 : byte == 96 ? 0.375 : 0.0; };
    return Colour{quantised(patch.rgb[0]), quantised(patch.rgb[1]), quantised(patch.rgb[2]), 1.0};
}

// The lights reply of a bridge listing the given ids, each named "Lamp <id>".
std::string lightsReply(const std::vector<std::string>& ids)
{
    std::string reply = "{";
    for (const std::string& id : ids) {
        if (reply.size() > 1)
            reply += ",";
        reply += R"(")" + id + R"(":{"state":{"on":true,"bri":254},"type":"Extended color light","name":"Lamp )" + id +
                 R"("})";
    }
    return reply + "}";
}

constexpr const char* kPutSuccess = R"([{"success":{"/lights/1/state/bri":255}}])";

class GlowcastControllerTest : public ::testing::Test, protected ControllerRig {
protected:
    GlowcastControllerTest()
    {
        prefs.texts["username"] = "alice";
        prefs.texts["lastusedbridgeIP"] = "10.0.0.2";
        controller.connectOutlets({&table, &imageView, {&wells[0], &wells[1], &wells[2], &wells[3], &wells[4]}});
    }

    // Wakes the controller and lets the delayed call run the set-up against the given lights reply.
    void setUpWith(const std::string& reply)
    {
        http.replies.emplace_back(reply);
        controller.awakeFromNib();
        ASSERT_TRUE(scheduler.fireNext());
    }

    // Sets up with lamps "1".."count", every one of them saved as enabled.
    void setUpWithEnabledLamps(int count)
    {
        std::vector<std::string> ids;
        std::vector<LampEntry> saved;
        for (int i = 1; i <= count; ++i) {
            ids.push_back(std::to_string(i));
            saved.push_back({std::to_string(i), "", true});
        }
        prefs.savedLamps = saved;
        setUpWith(lightsReply(ids));
        http.sent.clear();
        log.lines.clear();
    }

    void postCover(std::vector<Patch> patches)
    {
        decoder.covers.push_back(std::make_unique<PatchCover>(patches));
        centre.post({"CoverdeckAlbumCoverChanged", "Coverdeck", {{"cover", {0xff, 0xd8, 0xff}}}});
    }

    [[nodiscard]] std::vector<std::string> sentUrls() const
    {
        std::vector<std::string> urls;
        for (const HttpRequest& request : http.sent)
            urls.push_back(request.url);
        return urls;
    }

    [[nodiscard]] std::vector<std::string> sentBodies() const
    {
        std::vector<std::string> bodies;
        for (const HttpRequest& request : http.sent)
            bodies.push_back(request.body);
        return bodies;
    }

    [[nodiscard]] std::string bodyFor(const std::optional<Colour>& colour)
    {
        RecordingLog quiet;
        return JSONFromDictionary(lampStateBody(colour, quiet));
    }

    [[nodiscard]] long count(const std::string& line) const { return std::ranges::count(log.lines, line); }

    [[nodiscard]] bool logged(const std::string& line) const { return count(line) > 0; }

    FakeLampTableView table;
    FakeImageView imageView;
    std::array<FakeColourWell, 5> wells;
};

// --- waking and the two set-up triggers ---

TEST_F(GlowcastControllerTest, WakingSchedulesOneSetUpAQuarterSecondLater)
{
    controller.awakeFromNib();
    ASSERT_EQ(scheduler.pending.size(), 1u);
    EXPECT_EQ(scheduler.pending[0].delay, std::chrono::milliseconds(250));
    EXPECT_FALSE(controller.attemptedSetUp());
    EXPECT_TRUE(http.sent.empty());

    controller.awakeFromNib();
    EXPECT_EQ(scheduler.pending.size(), 1u) << "a second waking schedules nothing";

    http.replies.emplace_back(lightsReply({"1"}));
    ASSERT_TRUE(scheduler.fireNext());
    EXPECT_EQ(log.lines.front(), "bridge initing");
    EXPECT_TRUE(logged("testing"));
    EXPECT_TRUE(logged("hub launching"));
    EXPECT_TRUE(controller.attemptedSetUp());
    ASSERT_EQ(http.sent.size(), 1u);
    EXPECT_EQ(http.sent[0].method, HttpMethod::Get);
    EXPECT_EQ(http.sent[0].url, "http://10.0.0.2/api/alice/lights");
}

TEST_F(GlowcastControllerTest, KeyWindowBeforeTheDelaySetsUpTwiceButRegistersOnce)
{
    prefs.savedLamps = std::vector<LampEntry>{{"1", "Desk", true}};
    controller.awakeFromNib();
    http.replies.emplace_back(lightsReply({"1", "2"}));
    controller.windowDidBecomeKey();
    controller.windowDidBecomeKey();
    EXPECT_EQ(count("hub launching"), 1) << "the key-window trigger is guarded";

    // The bridge now lists a third lamp: the second set-up refreshes the collection and the table.
    http.replies.emplace_back(lightsReply({"1", "2", "3"}));
    ASSERT_TRUE(scheduler.fireNext());
    EXPECT_EQ(count("hub launching"), 2);
    EXPECT_EQ(count("registering for notifications"), 1);
    EXPECT_EQ(centre.observers.size(), 1u);
    EXPECT_EQ(table.reloads, 2);
    EXPECT_EQ(controller.collection(),
              (std::vector<LampEntry>{{"1", "Lamp 1", true}, {"2", "Lamp 2", false}, {"3", "Lamp 3", false}}));

    http.sent.clear();
    http.replies.emplace_back(kPutSuccess);
    postCover({withPixels(kRed, 100)});
    EXPECT_EQ(sentUrls(), (std::vector<std::string>{"http://10.0.0.2/api/alice/lights/1/state"}))
        << "one cover change colours each lamp once";
}

TEST_F(GlowcastControllerTest, KeyWindowAfterTheDelayStartsNothing)
{
    setUpWith(lightsReply({"1"}));
    controller.windowDidBecomeKey();
    EXPECT_EQ(count("hub launching"), 1);
    EXPECT_EQ(http.sent.size(), 1u);
    EXPECT_EQ(centre.observers.size(), 1u);
}

// --- abandoned set-ups ---

TEST_F(GlowcastControllerTest, NoBridgeAddressAbandonsTheSetUpWithoutRegistering)
{
    prefs.texts.erase("lastusedbridgeIP");
    controller.awakeFromNib();
    ASSERT_TRUE(scheduler.fireNext());
    EXPECT_TRUE(logged("tried lights response, result is (null)"));
    EXPECT_TRUE(logged("hub abandoning setup"));
    EXPECT_EQ(alert.shown.size(), 1u);
    EXPECT_TRUE(http.sent.empty());
    EXPECT_TRUE(centre.observers.empty());
    EXPECT_EQ(table.reloads, 0);
    EXPECT_EQ(controller.numberOfRowsInTableView(table), 0);

    controller.windowDidBecomeKey();
    EXPECT_EQ(count("hub launching"), 1) << "an abandoned set-up stays abandoned";
    centre.post({"CoverdeckAlbumCoverChanged", "Coverdeck", {}});
    EXPECT_TRUE(decoder.decoded.empty());
}

TEST_F(GlowcastControllerTest, PairingThatSucceedsButASecondFailingListAbandonsAtPointTwo)
{
    http.replies.emplace_back(R"([{"error":{"type":1,"address":"/","description":"unauthorized user"}}])");
    http.replies.emplace_back(R"([{"success":{"username":"bob"}}])");
    http.replies.emplace_back(std::nullopt);
    controller.awakeFromNib();
    ASSERT_TRUE(scheduler.fireNext());
    EXPECT_TRUE(logged("hub abandoning setup point 2"));
    EXPECT_FALSE(logged("hub abandoning setup"));
    EXPECT_TRUE(centre.observers.empty());
    EXPECT_EQ(table.reloads, 0);
}

TEST_F(GlowcastControllerTest, RefusedUserNamePairsAnewAndCompletes)
{
    prefs.savedLamps = std::vector<LampEntry>{{"1", "Desk", true}};
    http.replies.emplace_back(R"([{"error":{"type":1,"address":"/","description":"unauthorized user"}}])");
    http.replies.emplace_back(R"([{"success":{"username":"bob"}}])");
    http.replies.emplace_back(lightsReply({"1"}));
    controller.awakeFromNib();
    ASSERT_TRUE(scheduler.fireNext());
    ASSERT_EQ(http.sent.size(), 3u);
    EXPECT_EQ(http.sent[1].url, "http://10.0.0.2/api");
    EXPECT_EQ(http.sent[2].url, "http://10.0.0.2/api/bob/lights");
    EXPECT_EQ(controller.collection(), (std::vector<LampEntry>{{"1", "Lamp 1", true}}));
    EXPECT_EQ(centre.observers.size(), 1u);
}

TEST_F(GlowcastControllerTest, AnAbandonedKeyWindowSetUpIsRetriedByTheDelayedCall)
{
    controller.awakeFromNib();
    http.replies.emplace_back(std::nullopt); // the lights request
    controller.windowDidBecomeKey();         // pairing then gets no reply 30 times
    EXPECT_TRUE(logged("hub abandoning setup"));
    EXPECT_TRUE(centre.observers.empty());

    http.replies.emplace_back(lightsReply({"1"}));
    ASSERT_TRUE(scheduler.fireNext());
    EXPECT_EQ(centre.observers.size(), 1u);
    EXPECT_EQ(controller.numberOfRowsInTableView(table), 1);
}

// --- the merge of the bridge's lamps with the saved selection ---

TEST_F(GlowcastControllerTest, MergeKeepsBridgeLampsAndTheirSavedChoice)
{
    prefs.savedLamps = std::vector<LampEntry>{{"1", "Old name", true}, {"9", "Gone", true}};
    setUpWith(lightsReply({"1", "2"}));
    EXPECT_EQ(controller.collection(), (std::vector<LampEntry>{{"1", "Lamp 1", true}, {"2", "Lamp 2", false}}));
    EXPECT_TRUE(logged(R"(collection: ({"id":"1","name":"Lamp 1","enabled":true}, )"
                       R"({"id":"2","name":"Lamp 2","enabled":false}))"));
    EXPECT_EQ(table.reloads, 1);

    EXPECT_EQ(controller.applicationShouldTerminate(), TerminateReply::Now);
    ASSERT_TRUE(prefs.savedLamps);
    EXPECT_EQ(*prefs.savedLamps, (std::vector<LampEntry>{{"1", "Lamp 1", true}, {"2", "Lamp 2", false}}));
}

TEST_F(GlowcastControllerTest, MergeTakesTheFirstSavedRecordAndKeepsDisabledOnesDisabled)
{
    // A record stored without "enabled" reaches the controller as disabled.
    prefs.savedLamps = std::vector<LampEntry>{{"2", "", false}, {"3", "", true}, {"3", "", false}, {"10", "", true}};
    setUpWith(lightsReply({"1", "2", "3"}));
    EXPECT_EQ(controller.collection(),
              (std::vector<LampEntry>{{"1", "Lamp 1", false}, {"2", "Lamp 2", false}, {"3", "Lamp 3", true}}));
}

TEST_F(GlowcastControllerTest, FirstStartWithoutSavedSelectionEnablesNothingAndSendsNothing)
{
    setUpWith(lightsReply({"1", "2"}));
    EXPECT_EQ(controller.collection(), (std::vector<LampEntry>{{"1", "Lamp 1", false}, {"2", "Lamp 2", false}}));
    http.sent.clear();
    postCover({withPixels(kRed, 100)});
    EXPECT_TRUE(http.sent.empty());
}

TEST_F(GlowcastControllerTest, ListEntriesWithoutANameAreLeftOut)
{
    setUpWith(R"({"1":{"name":"Desk"},"2":"on","3":{"type":"plug"},"4":{"name":"Hall"}})");
    EXPECT_EQ(controller.collection(), (std::vector<LampEntry>{{"1", "Desk", false}, {"4", "Hall", false}}));
    EXPECT_TRUE(logged("lamp 2 has no name, left out"));
    EXPECT_TRUE(logged("lamp 3 has no name, left out"));
}

TEST_F(GlowcastControllerTest, AnEmptyLampListGivesAnEmptyTableAndStillRegisters)
{
    setUpWith("{}");
    EXPECT_EQ(controller.numberOfRowsInTableView(table), 0);
    EXPECT_EQ(centre.observers.size(), 1u);
}

// --- the collection and the table's data source ---

class LampCollectionTest : public GlowcastControllerTest {
protected:
    void SetUp() override
    {
        // Positions 1, 3 and 4 enabled.
        prefs.savedLamps = std::vector<LampEntry>{{"b", "", true}, {"d", "", true}, {"e", "", true}, {"a", "", false}};
        setUpWith(R"({"a":{"name":"A"},"b":{"name":"B"},"c":{"name":"C"},"d":{"name":"D"},"e":{"name":"E"}})");
        log.lines.clear();
        table.reloads = 0;
    }
};

TEST_F(LampCollectionTest, CountsAndFindsTheNthEnabledLampInCollectionOrder)
{
    EXPECT_EQ(controller.enabledCount(), 3);
    EXPECT_EQ(controller.getIDofNthEnabled(0), "b");
    EXPECT_EQ(controller.getIDofNthEnabled(1), "d");
    EXPECT_EQ(controller.getIDofNthEnabled(2), "e");
    EXPECT_EQ(controller.getIDofNthEnabled(3), std::nullopt);
    EXPECT_EQ(controller.getIDofNthEnabled(-1), std::nullopt);
    EXPECT_EQ(log.lines, (std::vector<std::string>{"enabledcount returning 3", "getIDofNthEnabled returning b",
                                                   "getIDofNthEnabled returning d", "getIDofNthEnabled returning e"}));
}

TEST_F(GlowcastControllerTest, AnEmptyCollectionCountsZeroAndFindsNothing)
{
    controller.awakeFromNib();
    EXPECT_EQ(controller.enabledCount(), 0);
    EXPECT_EQ(controller.getIDofNthEnabled(0), std::nullopt);
    EXPECT_EQ(controller.numberOfRowsInTableView(table), 0);
    EXPECT_EQ(log.lines.back(), "enabledcount returning 0");
}

TEST_F(LampCollectionTest, TableShowsTheSharedCellsAndTheNames)
{
    EXPECT_EQ(controller.numberOfRowsInTableView(table), 5);
    EXPECT_EQ(controller.yesCell(), (ButtonCell{1, ""}));
    EXPECT_EQ(controller.noCell(), (ButtonCell{0, ""}));
    EXPECT_EQ(std::get<const ButtonCell*>(controller.objectValueForTableColumn(table, "enabled", 1)),
              &controller.yesCell());
    EXPECT_EQ(std::get<const ButtonCell*>(controller.objectValueForTableColumn(table, "enabled", 0)),
              &controller.noCell());
    EXPECT_EQ(std::get<std::string>(controller.objectValueForTableColumn(table, "name", 1)), "B");
    EXPECT_EQ(std::get<std::string>(controller.objectValueForTableColumn(table, "colour", 1)), "");
    EXPECT_EQ(std::get<std::string>(controller.objectValueForTableColumn(table, "name", 5)), "");
    EXPECT_EQ(std::get<std::string>(controller.objectValueForTableColumn(table, "name", -1)), "");
}

TEST_F(LampCollectionTest, EveryCheckBoxCallFlipsTheLampAndReloads)
{
    controller.setObjectValue(table, &controller.yesCell(), "enabled", 0);
    EXPECT_TRUE(controller.collection()[0].enabled);
    EXPECT_EQ(controller.getIDofNthEnabled(0), "a");
    controller.setObjectValue(table, &controller.noCell(), "enabled", 0);
    EXPECT_FALSE(controller.collection()[0].enabled);
    // The value passed is not looked at: "on" for an enabled lamp still turns it off.
    controller.setObjectValue(table, &controller.yesCell(), "enabled", 1);
    EXPECT_FALSE(controller.collection()[1].enabled);
    EXPECT_EQ(table.reloads, 3);
    EXPECT_EQ(log.lines, (std::vector<std::string>{"setting enabled", "getIDofNthEnabled returning a",
                                                   "unsetting enabled", "unsetting enabled"}));
}

TEST_F(LampCollectionTest, EditsOutsideTheCheckBoxColumnChangeNothingButReload)
{
    const std::vector<LampEntry> before = controller.collection();
    controller.setObjectValue(table, std::string{"Renamed"}, "name", 2);
    controller.setObjectValue(table, std::string{"x"}, "colour", 2);
    controller.setObjectValue(table, &controller.yesCell(), "enabled", 5);
    controller.setObjectValue(table, &controller.yesCell(), "enabled", -1);
    EXPECT_EQ(controller.collection(), before);
    EXPECT_EQ(table.reloads, 4);
    EXPECT_TRUE(log.lines.empty());
}

// --- quitting ---

TEST_F(LampCollectionTest, QuitStoresTheTogglesInCollectionOrder)
{
    controller.setObjectValue(table, std::string{}, "enabled", 0);
    controller.setObjectValue(table, std::string{}, "enabled", 4);
    EXPECT_EQ(controller.applicationShouldTerminate(), TerminateReply::Now);
    EXPECT_EQ(log.lines.back(), "hub should terminate");
    EXPECT_EQ(prefs.lampWrites, 1);
    EXPECT_EQ(*prefs.savedLamps,
              (std::vector<LampEntry>{
                  {"a", "A", true}, {"b", "B", true}, {"c", "C", false}, {"d", "D", true}, {"e", "E", false}}));
}

TEST_F(GlowcastControllerTest, QuitBeforeAnySetUpKeepsTheSavedSelection)
{
    const std::vector<LampEntry> saved{{"1", "Desk", true}, {"2", "Hall", false}};
    prefs.savedLamps = saved;
    controller.awakeFromNib();
    EXPECT_EQ(controller.applicationShouldTerminate(), TerminateReply::Now);
    EXPECT_TRUE(logged("hub should terminate"));
    EXPECT_TRUE(logged("no lamp list was read, keeping the saved selection"));
    EXPECT_EQ(prefs.lampWrites, 0);
    EXPECT_EQ(prefs.savedLamps, saved);
}

TEST_F(GlowcastControllerTest, QuitAfterAnAbandonedSetUpKeepsTheSavedSelection)
{
    const std::vector<LampEntry> saved{{"1", "Desk", true}};
    prefs.savedLamps = saved;
    prefs.texts.erase("lastusedbridgeIP");
    controller.awakeFromNib();
    ASSERT_TRUE(scheduler.fireNext());
    ASSERT_TRUE(logged("hub abandoning setup"));
    EXPECT_EQ(controller.applicationShouldTerminate(), TerminateReply::Now);
    EXPECT_EQ(prefs.lampWrites, 0);
    EXPECT_EQ(prefs.savedLamps, saved);
}

TEST_F(GlowcastControllerTest, QuitAfterABridgeWithNoLampsStoresTheEmptyList)
{
    prefs.savedLamps = std::vector<LampEntry>{{"1", "Desk", true}};
    setUpWith("{}");
    EXPECT_EQ(controller.applicationShouldTerminate(), TerminateReply::Now);
    EXPECT_EQ(prefs.savedLamps, std::vector<LampEntry>{});
}

// --- cover changes ---

TEST_F(GlowcastControllerTest, CoverWithNoLampEnabledShowsTheCoverAndWhiteWellsAndSendsNothing)
{
    setUpWithEnabledLamps(0);
    postCover({withPixels(kRed, 3000)});
    ASSERT_EQ(decoder.decoded.size(), 1u);
    EXPECT_EQ(decoder.decoded[0], (std::vector<std::uint8_t>{0xff, 0xd8, 0xff}));
    ASSERT_EQ(imageView.shown.size(), 1u);
    EXPECT_NE(imageView.shown[0], nullptr);
    for (const FakeColourWell& well : wells)
        EXPECT_EQ(well.shown, std::vector<Colour>{whiteColour()});
    EXPECT_TRUE(http.sent.empty());
    EXPECT_EQ(count("enabledcount returning 0"), 2) << "once for the colours, once ending the loop";
}

TEST_F(GlowcastControllerTest, CoverWithThreeLampsSendsColoursInCollectionOrder)
{
    setUpWithEnabledLamps(3);
    for (int i = 0; i < 3; ++i)
        http.replies.emplace_back(kPutSuccess);
    postCover({withPixels(kRed, 900), withPixels(kGreen, 600), withPixels(kBlue, 300)});

    EXPECT_EQ(wells[0].shown, std::vector<Colour>{colourOf(kRed)});
    EXPECT_EQ(wells[1].shown, std::vector<Colour>{colourOf(kGreen)});
    EXPECT_EQ(wells[2].shown, std::vector<Colour>{colourOf(kBlue)});
    EXPECT_EQ(wells[3].shown, std::vector<Colour>{whiteColour()});
    EXPECT_EQ(wells[4].shown, std::vector<Colour>{whiteColour()});

    EXPECT_EQ(sentUrls(), (std::vector<std::string>{"http://10.0.0.2/api/alice/lights/1/state",
                                                    "http://10.0.0.2/api/alice/lights/2/state",
                                                    "http://10.0.0.2/api/alice/lights/3/state"}));
    EXPECT_TRUE(std::ranges::all_of(http.sent, [](const HttpRequest& r) { return r.method == HttpMethod::Put; }));
    EXPECT_EQ(sentBodies(),
              (std::vector<std::string>{bodyFor(colourOf(kRed)), bodyFor(colourOf(kGreen)), bodyFor(colourOf(kBlue))}));
    EXPECT_EQ(count("enabledcount returning 3"), 5);
    EXPECT_EQ(count("getIDofNthEnabled returning 2"), 1);
}

TEST_F(GlowcastControllerTest, CoverWithSevenLampsShowsFiveWellsAndSendsSevenColours)
{
    setUpWithEnabledLamps(7);
    const std::vector<Patch> patches{withPixels(kRed, 1000),   withPixels(kYellow, 900), withPixels(kLime, 800),
                                     withPixels(kGreen, 700),  withPixels(kCyan, 600),   withPixels(kBlue, 500),
                                     withPixels(kMagenta, 400)};
    postCover(patches);

    for (std::size_t k = 0; k < 5; ++k)
        EXPECT_EQ(wells[k].shown, std::vector<Colour>{colourOf(patches[k])}) << "well " << k + 1;
    ASSERT_EQ(http.sent.size(), 7u);
    for (std::size_t k = 0; k < 7; ++k) {
        EXPECT_EQ(http.sent[k].url, "http://10.0.0.2/api/alice/lights/" + std::to_string(k + 1) + "/state");
        EXPECT_EQ(http.sent[k].body, bodyFor(colourOf(patches[k]))) << "lamp " << k + 1;
    }
}

TEST_F(GlowcastControllerTest, LampsPastTheEndOfTheColourListGetTheZeroBody)
{
    setUpWithEnabledLamps(3);
    // Only dark and mid-grey pixels: nothing passes the extractor's filter.
    postCover({withPixels(Patch{{40, 10, 10}, 0}, 3000), withPixels(Patch{{128, 128, 128}, 0}, 3000)});
    EXPECT_EQ(sentBodies(), (std::vector<std::string>(3, R"({"bri":0,"sat":0})")));
    for (const FakeColourWell& well : wells)
        EXPECT_EQ(well.shown, std::vector<Colour>{whiteColour()});
    ASSERT_EQ(imageView.shown.size(), 1u);
    EXPECT_NE(imageView.shown[0], nullptr);
}

TEST_F(GlowcastControllerTest, CoverThatDoesNotDecodeClearsTheImageAndSendsZeroBodies)
{
    setUpWithEnabledLamps(2);
    centre.post({"CoverdeckAlbumCoverChanged", "Coverdeck", {{"cover", {'n', 'o', 'p', 'e'}}}});
    EXPECT_EQ(decoder.decoded.size(), 1u);
    EXPECT_EQ(imageView.shown, std::vector<const CoverImage*>{nullptr});
    EXPECT_EQ(sentBodies(), (std::vector<std::string>(2, R"({"bri":0,"sat":0})")));
}

TEST_F(GlowcastControllerTest, NotificationWithoutCoverClearsTheImageAndSendsZeroBodies)
{
    setUpWithEnabledLamps(2);
    centre.post({"CoverdeckAlbumCoverChanged", "Coverdeck", {{"artwork", {1, 2, 3}}}});
    EXPECT_TRUE(decoder.decoded.empty());
    EXPECT_EQ(imageView.shown, std::vector<const CoverImage*>{nullptr});
    for (const FakeColourWell& well : wells)
        EXPECT_EQ(well.shown, std::vector<Colour>{whiteColour()});
    EXPECT_EQ(sentUrls(), (std::vector<std::string>{"http://10.0.0.2/api/alice/lights/1/state",
                                                    "http://10.0.0.2/api/alice/lights/2/state"}));
    EXPECT_EQ(sentBodies(), (std::vector<std::string>(2, R"({"bri":0,"sat":0})")));
}

TEST_F(GlowcastControllerTest, SecondOfThreeRequestsFailingStillSendsTheThird)
{
    setUpWithEnabledLamps(3);
    http.replies.emplace_back(kPutSuccess);
    http.replies.emplace_back(
        R"([{"error":{"type":3,"address":"/lights/2/state","description":"resource, /lights/2/state, not available"}}])");
    http.replies.emplace_back(kPutSuccess);
    postCover({withPixels(kRed, 100)});
    EXPECT_EQ(http.sent.size(), 3u);
    EXPECT_EQ(http.sent[2].url, "http://10.0.0.2/api/alice/lights/3/state");
    EXPECT_EQ(count("Bridge Error: resource, /lights/2/state, not available"), 1);
}

TEST_F(GlowcastControllerTest, AnUnreachableBridgeDuringACoverChangeIsTriedOncePerLamp)
{
    setUpWithEnabledLamps(3);
    postCover({withPixels(kRed, 100)});
    EXPECT_EQ(http.sent.size(), 3u);
    EXPECT_EQ(count("no response from Bridge"), 3);
}

TEST_F(GlowcastControllerTest, PureRedGoesOutWithBareNumbersAndList)
{
    setUpWithEnabledLamps(1);
    postCover({Patch{{255, 0, 0}, 6400}});
    ASSERT_EQ(http.sent.size(), 1u);
    const std::string& body = http.sent[0].body;
    EXPECT_TRUE(body == R"({"bri":255,"xy":[0.640,0.330]})" || body == R"({"xy":[0.640,0.330],"bri":255})") << body;
}

TEST_F(GlowcastControllerTest, OnlyTheRegisteredNameAndObjectReachTheHandler)
{
    setUpWithEnabledLamps(1);
    centre.post({"CoverdeckAlbumCoverChanged", "coverdeck", {{"cover", {1}}}});
    centre.post({"CoverdeckAlbumCoverChange", "Coverdeck", {{"cover", {1}}}});
    EXPECT_TRUE(decoder.decoded.empty());
    EXPECT_TRUE(http.sent.empty());
}

TEST_F(LampCollectionTest, ATogglePicksTheLampsOfTheNextCoverChange)
{
    controller.setObjectValue(table, std::string{}, "enabled", 3); // "d" off
    controller.setObjectValue(table, std::string{}, "enabled", 2); // "c" on
    http.sent.clear();
    postCover({withPixels(kRed, 100)});
    EXPECT_EQ(sentUrls(), (std::vector<std::string>{"http://10.0.0.2/api/alice/lights/b/state",
                                                    "http://10.0.0.2/api/alice/lights/c/state",
                                                    "http://10.0.0.2/api/alice/lights/e/state"}));
}

} // namespace
} // namespace glowcast
