#include "core/covers/art_url.h"
#include "core/covers/cover_follower.h"
#include "support/fake_platform.h"
#include "support/recording_log.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace glowcast {

void PrintTo(const ArtRefused& refused, std::ostream* out)
{
    *out << "refused: " << refused.reason;
}

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
const Bytes kJpeg{0xFF, 0xD8, 0xFF, 0xE0};
const Bytes kPng{0x89, 'P', 'N', 'G'};

TEST(ArtUrlTest, ReadsEveryKindAndRefusesTheRest)
{
    const std::string more = ", more than the 16 a cover may have";
    const std::string notRead = "Glowcast reads covers from file, data, http and https URLs, not from \"";
    // clang-format off
    const std::pair<std::string, ArtSource> rows[] = {
        {"file:///home/ann/Music/cover", ArtFile{"/home/ann/Music/cover"}},
        {"file://LocalHost/tmp/a%20b/%C3%A9t%C3%A9.jpg", ArtFile{"/tmp/a b/\xC3\xA9t\xC3\xA9.jpg"}},
        {"file://nas/share/c.jpg", ArtRefused{"the file URL names another host, \"nas\""}},
        {"file:///tmp/%4z", ArtRefused{"the file URL has a broken percent escape"}},
        {"file:///tmp/%00x", ArtRefused{"the file URL's path holds a NUL byte"}},
        {"file:cover.jpg", ArtRefused{"the file URL has no absolute path"}},
        {"data:image/png;base64,/9j/4A==", ArtData{kJpeg}}, // labelled PNG, holds a JPEG
        {"data:;BASE64,/9j/\r\n4A", ArtData{kJpeg}},
        {"data:;base64,%2F9j%2F4A%3D%3D", ArtData{kJpeg}},
        {"data:image/jpeg,%FF%D8%FF%E0", ArtData{kJpeg}},
        {"data:;base64,_9j_4A==", ArtData{kJpeg}},
        {"data:;base64,/9j/4AA", ArtData{{0xFF, 0xD8, 0xFF, 0xE0, 0x00}}},
        {"svn+ssh://host/a", ArtRefused{notRead + "svn+ssh:\" ones"}},
        {"data:;base64,/9j/4A=x", ArtRefused{"the data URI's base64 is broken"}},
        {"data:image/png;base64", ArtRefused{"the data URI has no comma before its data"}},
        {"data:,", ArtRefused{"the data URI holds no bytes"}},
        {"data:;base64,AAAAAAAAAAAAAAAAAAAAAAAA", ArtRefused{"the data URI holds 18 bytes" + more}},
        {"data:;base64," + std::string(200, 'A'), ArtRefused{"the data URI holds at least 75 bytes" + more}},
        {"https://open.spotify.com/image/ab67616d0000b273", ArtHttp{"https://i.scdn.co/image/ab67616d0000b273"}},
        {"https:///x.jpg", ArtRefused{"the web URL names no host"}},
        {"http://a b/c", ArtRefused{"the web URL holds a space or a control character"}},
        {"attachment://cover.jpg", ArtRefused{notRead + "attachment:\" ones"}},
        {"", ArtRefused{"the art URL is empty"}},
        {"cover.jpg", ArtRefused{"the art URL has no scheme"}},
        {"file:///%30%39%4a%4A%6f%6F", ArtFile{"/09JJoo"}},
        {"file://localhost", ArtRefused{"the file URL has no path"}},
        {"data:;base64,Q Q\t=\v=\f", ArtData{{0x41}}},
        {"data:;base64,QUI", ArtData{{0x41, 0x42}}}, // the last byte of a group of three letters
        {"data:;base64,+-/_AZaz09+/-_-_", ArtData{{0xFB, 0xEF, 0xFF, 0x01, 0x96, 0xB3, 0xD3, 0xDF, 0xBF, 0xFB, 0xFF, 0xBF}}},
        {"data:;base64,QQ=", ArtRefused{"the data URI's base64 is broken"}},
        {"data:;base64,QQ%3", ArtRefused{"the data URI has a broken percent escape"}},
        {"data:;base64,QUJDQ", ArtRefused{"the data URI's base64 is broken"}},
        {"data:," + std::string(48, 'a'), ArtRefused{"the data URI holds 48 bytes" + more}},
        {"data:," + std::string(51, 'a'), ArtRefused{"the data URI holds at least 17 bytes" + more}},
        {"data:;base64," + std::string(65557, 'A'), ArtRefused{"the data URI holds about 49176 bytes" + more}},
        {"http://", ArtRefused{"the web URL names no host"}},
        {"http://?a", ArtRefused{"the web URL names no host"}},
        {"http://#a", ArtRefused{"the web URL names no host"}},
        {"http://a\x7f/", ArtRefused{"the web URL holds a space or a control character"}},
        {"Http://x/!~", ArtHttp{"Http://x/!~"}},
        {"https://open.spotify.com/image/", ArtHttp{"https://open.spotify.com/image/"}},
        {"https://Open.Spotify.com/image/a/b", ArtHttp{"https://Open.Spotify.com/image/a/b"}},
        {"AZaz09+-.:x", ArtRefused{notRead + "azaz09+-.:\" ones"}},
        {"ht_tp://x", ArtRefused{"the art URL has no scheme"}},
        {"http://x/" + std::string(kMaximumArtUrlBytes - 9, 'a'), ArtHttp{"http://x/" + std::string(kMaximumArtUrlBytes - 9, 'a')}},
        {"http://x/" + std::string(kMaximumArtUrlBytes, 'a'), ArtRefused{"the art URL is 65545 bytes long"}}};
    // clang-format on
    for (const auto& [url, expected] : rows)
        EXPECT_EQ(parseArtUrl(url, 16), expected) << url;
    EXPECT_EQ(percentDecode(std::string_view("%41").substr(0, 2)), std::nullopt); // an escape the text's end cuts
}

// The fixture is every port the follower needs: it records reads and covers, and tells a JPEG or a
// PNG by the first byte.
class FollowerTest : public ::testing::Test,
                     public ArtFetcher,
                     public CoverSniffer,
                     public CoverSink,
                     public FollowerView,
                     public Clock {
protected:
    void readFile(const std::string& path, std::function<void(ArtFetchResult)> done) override
    {
        reads.push_back(path);
        pending.push_back(std::move(done));
    }
    void download(const std::string& url, std::function<void(ArtFetchResult)> done) override { readFile(url, done); }
    void cancel() override { ++cancels; }
    void finish(ArtFetchResult result) { pending.back()(std::move(result)); }
    std::optional<std::string> imageFormat(std::span<const std::uint8_t> bytes) override
    {
        const char* format = bytes.empty() ? nullptr : bytes[0] == 0xFF ? "jpeg" : bytes[0] == 0x89 ? "png" : nullptr;
        return format != nullptr ? std::optional<std::string>(format) : std::nullopt;
    }
    void coverChanged(Bytes bytes, SteadyTime heard) override
    {
        sent.push_back(std::move(bytes));
        heardAt = heard;
    }
    SteadyTime now() const override { return at; }
    void showFollowed(const FollowerStatus& status) override { shown.push_back(status); }

    // Short names stand for "org.mpris.MediaPlayer2.<name>".
    static std::string bus(const std::string& name) { return std::string{kMprisBusPrefix} + name; }
    void status(const std::string& name, PlaybackStatus status) { follower.playerChanged(bus(name), {{}, status, {}}); }
    void track(const std::string& name, const std::string& title, std::optional<std::string> art)
    {
        follower.playerChanged(bus(name), {{}, {}, TrackMetadata{"/t/" + title, title, {}, std::move(art)}});
    }
    const std::string coverOfA = "players: org.mpris.MediaPlayer2.a: the cover ";
    const std::string stay = "; the lamps stay as they are";
    // Whether this line was written, once.
    [[nodiscard]] bool logged(const std::string& line) const { return log.count(line) == 1; }

    std::vector<std::string> reads; // paths and URLs, in order
    std::vector<std::function<void(ArtFetchResult)>> pending;
    int cancels = 0;
    ManualScheduler scheduler;
    RecordingLog log;
    std::vector<Bytes> sent;
    SteadyTime heardAt{};
    SteadyTime at{};
    std::vector<FollowerStatus> shown;
    FollowerOptions options;
    CoverFollower follower{options, *this, *this, *this, scheduler, *this, log, this};
};

// Each step is "name:Playing", "name:Paused", "name:Stopped", "name=Identity" or "-name" (it quits); then the
// player followed, none when empty.
TEST_F(FollowerTest, FollowsThePlayerThatStartedPlayingLastWhenTurnedOn)
{
    const std::pair<std::vector<std::string>, std::string> rows[] = {
        {{"a:Paused", "b:Stopped"}, ""},
        {{"a:Paused", "b:Playing"}, "b"},
        {{"a:Playing", "b:Playing"}, "b"},
        {{"b:Playing", "a:Playing"}, "a"},
        {{"a:Playing", "b:Playing", "b:Paused"}, "a"},
        {{"a:Playing", "b:Playing", "a:Playing"}, "b"}, // still playing: not a new start
        {{"a:Playing", "b:Playing", "b:Stopped", "a:Paused"}, "b"},
        {{"a:Playing", "b:Playing", "-b"}, "a"},
        {{"a:Playing", "-a"}, ""},
        {{"a:Playing", "vlc.instance7:Playing"}, "a"},
        {{"a:Playing", "b:Playing", "b=ZA"}, "a"},
        {{"a:Playing", "b:Playing", "b=" + std::string(1025, 'z')}, "b"}}; // cut at 1024 bytes: not the name ignored
    for (const auto& [steps, followed] : rows) {
        SCOPED_TRACE(::testing::PrintToString(steps));
        CoverFollower choosy{{true, {"vlc", "za", std::string(1025, 'z')}}, *this, *this, *this, scheduler, *this, log};
        for (const std::string& step : steps) {
            const std::size_t mark = step.find_first_of(":=");
            if (step[0] == '-')
                choosy.playerVanished(bus(step.substr(1)));
            else if (step[mark] == '=')
                choosy.playerChanged(bus(step.substr(0, mark)), {step.substr(mark + 1), {}, {}});
            else
                choosy.playerChanged(bus(step.substr(0, mark)),
                                     {{}, playbackStatusFromText(step.substr(mark + 1)), {}});
        }
        EXPECT_EQ(choosy.status().busName, followed.empty() ? "" : bus(followed));
    }
    EXPECT_EQ(playbackStatusText(PlaybackStatus::Unknown), "Unknown");

    CoverFollower off{{false, {}}, *this, *this, *this, scheduler, *this, log, this}; // turned off: does nothing
    off.playerChanged(bus("a"), {"A", PlaybackStatus::Playing, TrackMetadata{"/1", "One", {}, "data:,%89PNG"}});
    EXPECT_FALSE(off.status().enabled);
    EXPECT_TRUE(off.status().busName.empty());
    EXPECT_TRUE(sent.empty());
}

TEST_F(FollowerTest, ActsOnEachChangeOfArtAndNeverReusesAnOlderCover)
{
    status("a", PlaybackStatus::Playing);
    track("a", "One", std::nullopt); // the title first, the art a moment later
    EXPECT_TRUE(logged("players: org.mpris.MediaPlayer2.a publishes no cover for \"One\"" + stay));
    track("a", "One", "file:///music/one.jpg");
    ASSERT_EQ(reads, std::vector<std::string>{"/music/one.jpg"});
    finish({ArtFetchResult::Kind::Bytes, kJpeg, {}});
    track("a", "Two", "");
    EXPECT_TRUE(logged(coverOfA + " is not read: the art URL is empty" + stay));
    EXPECT_EQ(sent, std::vector<Bytes>{kJpeg});
    EXPECT_EQ(shown.back(), (FollowerStatus{true, bus("a"), "", PlaybackStatus::Playing, "Two", ""}));
}

TEST_F(FollowerTest, SameBytesRepeatedMetadataAndPausingSendNothing)
{
    status("a", PlaybackStatus::Playing);
    track("a", "One", "data:image/png;base64,/9j/4A==");
    const std::size_t lines = log.lines.size();
    track("a", "One", "data:image/png;base64,/9j/4A=="); // sent again on a seek: not even read
    status("a", PlaybackStatus::Paused);
    status("a", PlaybackStatus::Playing); // the same track again: it was heard already
    EXPECT_EQ(log.lines.size(), lines);
    track("a", "Two", "file:///tmp/art"); // one file name for every track
    finish({ArtFetchResult::Kind::Bytes, kJpeg, {}});
    EXPECT_TRUE(logged(coverOfA + "file:///tmp/art is the cover the lamps show already; nothing sent"));
    const Bytes sameLength{0xFF, 0xD8, 0xFF, 0xE1};
    track("a", "Three", "file:///tmp/art");
    finish({ArtFetchResult::Kind::Bytes, sameLength, {}});
    EXPECT_EQ(sent, (std::vector<Bytes>{kJpeg, sameLength}));

    follower.sendAgain(); // the lamps were put back meanwhile
    finish({ArtFetchResult::Kind::Bytes, sameLength, {}});
    EXPECT_EQ(sent, (std::vector<Bytes>{kJpeg, sameLength, sameLength}));
    EXPECT_EQ(reads, (std::vector<std::string>{"/tmp/art", "/tmp/art", "/tmp/art"}));
}

// Heard, not announced: a track new while its player is paused (or stopped) is read when the player plays
// it, and heard then; one skipped before that is never read.
TEST_F(FollowerTest, ATrackNewWhilePausedIsReadWhenItPlaysAndOneSkippedIsNot)
{
    status("a", PlaybackStatus::Playing);
    status("a", PlaybackStatus::Paused);
    track("a", "One", "file:///one.jpg");
    track("a", "Two", "file:///two.jpg");
    at += 5s;
    status("a", PlaybackStatus::Playing);
    finish({ArtFetchResult::Kind::Bytes, kJpeg, {}});
    EXPECT_EQ(reads, std::vector<std::string>{"/two.jpg"});
    EXPECT_EQ(heardAt, SteadyTime{5s});
}

TEST_F(FollowerTest, AMissingFileIsReadAgainForTwoSecondsOnly)
{
    status("a", PlaybackStatus::Playing);
    track("a", "One", "file:///tmp/late.png");
    for (int attempt = 0; attempt < 9; ++attempt) {
        finish({ArtFetchResult::Kind::Missing, {}, "no such file"});
        scheduler.fireNext();
    }
    EXPECT_EQ(reads.size(), 9u);
    EXPECT_TRUE(logged(coverOfA + "file:///tmp/late.png is not there yet; looking again for up to 2 s"));
    EXPECT_TRUE(logged(coverOfA + "file:///tmp/late.png did not appear within 2 s" + stay));

    track("a", "Two", "file:///tmp/late.png");
    finish({ArtFetchResult::Kind::Missing, {}, "no such file"});
    scheduler.fireNext();
    finish({ArtFetchResult::Kind::Bytes, kPng, {}});
    EXPECT_EQ(sent, std::vector<Bytes>{kPng});
}

TEST_F(FollowerTest, NewerArtDropsTheRunningReadAndAPlayerThatQuitsDropsItsOwn)
{
    status("a", PlaybackStatus::Playing);
    track("a", "One", "http://127.0.0.1/one");
    auto stale = pending.back();
    track("a", "One", "file:///tmp/missing");
    finish({ArtFetchResult::Kind::Missing, {}, "no such file"});
    track("a", "Two", "https://open.spotify.com/image/2");
    EXPECT_EQ(cancels, 1); // the retry's wait needs no cancel: it is dropped when it fires
    scheduler.fireNext();
    stale({ArtFetchResult::Kind::Bytes, kPng, {}});
    finish({ArtFetchResult::Kind::Bytes, kJpeg, {}});
    EXPECT_EQ(reads, (std::vector<std::string>{"http://127.0.0.1/one", "/tmp/missing", "https://i.scdn.co/image/2"}));
    EXPECT_EQ(sent, std::vector<Bytes>{kJpeg});

    track("a", "Three", "file:///tmp/three");
    follower.playerVanished(bus("a"));
    EXPECT_EQ(cancels, 2);
    EXPECT_TRUE(logged("players: no player to follow"));
}

} // namespace
} // namespace glowcast
