#pragma once

#include "core/colour/colour.h"
#include "core/control/lamp_collection.h"
#include "core/lamp_care/lamp_restorer.h"
#include "core/lamp_care/send_schedule.h"
#include "core/lamp_systems/lamp_systems.h"
#include "core/lamps/lamp_entry.h"
#include "core/lamps/lamp_plan.h"
#include "core/palette/palette.h"
#include "core/palette/palette_document.h"
#include "core/ports/clock.h"
#include "core/ports/cover_feed.h"
#include "core/ports/cover_image.h"
#include "core/ports/follower_view.h"
#include "core/ports/log.h"
#include "core/ports/preferences.h"
#include "core/ports/scheduler.h"
#include "core/ports/views.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace glowcast {

class BridgeBridge;
class LampBeat;
class LampCare;

inline constexpr std::chrono::milliseconds kSetUpDelay{250};

// How a set-up ended: with the lamp list read and the cover handler registered, or abandoned.
enum class SetUpEnd { Listening, Abandoned };

// The main controller: sets itself up against the bridge, fills the lamp collection, follows cover
// changes (the lamp plan decides which lamp takes which body, lamp care sends them) and saves the
// selection when the program quits. Every call happens on the main thread, one at a time. Lamp care
// with its default settings sends each request as it is given.
class GlowcastController {
public:
    GlowcastController(BridgeBridge& bridgeBridge, LampCare& lampCare, Preferences& preferences, CoverFeed& coverFeed,
                       Scheduler& scheduler, CoverDecoder& coverDecoder, Clock& clock, Log& log);
    GlowcastController(const GlowcastController&) = delete;
    GlowcastController& operator=(const GlowcastController&) = delete;

    // The lamp systems beside the first bridge: their lamps follow the first bridge's in the table and
    // are handed their states before the first bridge's lamps are sent theirs.
    void setLampSystems(LampSystems* systems) { m_systems = systems; }
    // The beat: told the cover's states each system but a WLED was handed, and whether the followed
    // player plays.
    void setBeat(LampBeat* beat) { m_beat = beat; }
    // A state of the beat's for a lamp: a system's goes to its sender at once; the first bridge's, whose
    // requests block, waits for its turn in the scheduler's queue, the newest per lamp.
    void pulse(const std::string& systemId, const LampStateCommand& command);
    // The systems' lamps were read again, or a system came or went: the rows after the first bridge's
    // lamps are refilled, each lamp with its choice (the one it has, else the saved one, else off).
    // The first lamps of any system register the cover handler when no set-up has.
    void systemLampsChanged();

    // A view that ends is disconnected first: connect empty views.
    void connectViews(const ControllerViews& views);

    // Empties the collection and schedules the first set-up a quarter second later; once only.
    void start();
    // The window became the active window: sets up at once when no set-up was tried since start.
    void windowActivated();
    void setUp();
    // The program is about to end: stores the lamp selection, when a set-up read one.
    void saveBeforeQuit();

    [[nodiscard]] const std::vector<LampEntry>& collection() const { return m_lamps.entries(); }
    // For the lamp table, which shows the collection and switches its lamps.
    [[nodiscard]] LampCollection& lamps() { return m_lamps; }

    // A new cover: shown with its colours, and the enabled lamps coloured after it. With a delay the
    // lamps change that long after the cover was heard: each system's states and the first bridge's
    // walk wait for their planned time, and a newer cover replaces what still waits.
    void coverChanged(const CoverArrival& cover);

    [[nodiscard]] bool attemptedSetUp() const { return m_attemptedSetUp; }

    // Told of each of the first bridge's lamps after it was sent a cover's colour, as a neutral state
    // (for the table's swatch; the other systems' lamps are told by their registry).
    std::function<void(const std::string& id, const LampState& state)> onLampSent;
    // Told at the end of every set-up, whichever way it ended.
    std::function<void(SetUpEnd)> onSetUpEnded;
    // Told when the followed player plays again after the lamps were put back: its cover is wanted
    // again, though it did not change.
    std::function<void()> onPlayingAfterRestore;
    // A set-up has read the lamp list and the cover handler is registered.
    [[nodiscard]] bool listening() const { return m_lamps.filled() && m_registered; }

    // Switches the lamp with the id on or off (a log line, the table told) and saves the selection at
    // once, so that a crash or a kill never undoes a switch the user was told of; nothing when it
    // already is. A switch that cannot be saved is taken back (NotSaved), as is one from the table.
    SwitchResult setLampEnabled(std::string_view id, bool enabled) { return m_lamps.setLampEnabled(id, enabled); }
    // Stores the selection, merged with the saved one; false when the preferences could not.
    [[nodiscard]] bool saveSelection();
    // A quit was asked for: no set-up, pairing or cover change starts from now on, and the one under
    // way stops sending. The saving at the end still runs.
    void stop();

    // While not following, a cover change from any source is logged and not handled.
    void setFollowing(bool following);
    [[nodiscard]] bool following() const { return m_following; }
    // The palette the next cover's colours are taken with.
    void setPalette(Palette palette) { m_palette = palette; }
    // While pinned, covers change nothing on the lamps; their colours are still taken and shown. Unpinned
    // after a cover came meanwhile, the lamps take the last cover's colours at once.
    void setPinned(bool pinned);
    [[nodiscard]] bool pinned() const { return m_pinned; }
    // In album mode a media player's cover of the same album and artist as the last cover handled changes
    // nothing on the lamps; a cover without an album (every cover-changed notice's) always does.
    void setAlbumMode(bool albumMode) { m_albumMode = albumMode; }
    [[nodiscard]] bool albumMode() const { return m_albumMode; }
    // The colours of the last cover change handled, in the extractor's order; empty before it.
    [[nodiscard]] const std::vector<Colour>& lastColours() const { return m_lastColours; }
    // The palette of the last cover whose colours were taken; nothing before it.
    [[nodiscard]] const std::optional<PaletteDocument>& lastPalette() const { return m_lastPalette; }
    // Told once per cover whose colours were taken, before its lamps are sent them.
    std::function<void(const PaletteDocument&)> onPaletteTaken;
    // How long the first bridge takes to answer a lamp state; nothing before its first.
    [[nodiscard]] std::optional<LatencyFigures> bridgeLatency() const;

    // What the followed media player does, for putting the lamps back once it has stopped playing: a
    // player that plays, pauses or stops, or none followed any more (after one was).
    void followedPlayerChanged(const FollowerStatus& status);

private:
    // The set-up the start scheduled.
    void delayedSetUp();
    // Keeps one delayed call pending for the lamp care's restore, at the time it is due.
    void armRestore();
    void registerForCovers();
    // True when any system has lamps.
    bool refillSystemLamps();
    // Colours the enabled lamps: at once without changeIn, else that long from now.
    void colourLamps(const std::vector<Colour>& colours, bool coverChanged,
                     std::optional<std::chrono::milliseconds> changeIn);
    // Hands each system its lamps' states of the plan; what they were handed, by table id.
    using SystemStates = std::vector<std::pair<std::string, LampState>>;
    SystemStates sendToSystems(const std::vector<LampAssignment>& plan, bool coverChanged,
                               std::optional<std::chrono::milliseconds> changeIn);
    // The beat takes the cover's states of the first bridge's lamps and of every system but a WLED.
    void tellBeat(const std::vector<LampAssignment>& plan, const SystemStates& states);
    // Sends the first bridge's lamps of the plan one by one, with the walk's log lines.
    void walk(const std::vector<LampAssignment>& plan, bool coverChanged);
    // Whether a saved record the collection does not hold is kept: its system's lamps were not read.
    [[nodiscard]] bool keptUnread(std::string_view id) const;

    BridgeBridge& m_bridgeBridge;
    LampCare& m_lampCare;
    Palette m_palette = Palette::Classic;
    Preferences& m_preferences;
    CoverFeed& m_coverFeed;
    Scheduler& m_scheduler;
    CoverDecoder& m_coverDecoder;
    Clock& m_clock;
    Log& m_log;
    CoverDisplay* m_coverDisplay = nullptr;

    bool m_attemptedSetUp = false;
    bool m_started = false;
    // The cover handler is registered once, however many set-ups complete.
    bool m_registered = false;
    LampCollection m_lamps{m_log};
    LampSystems* m_systems = nullptr;
    LampBeat* m_beat = nullptr;
    std::map<std::string, LampState, std::less<>> m_bridgePulses; // waiting for their turn
    bool m_bridgePulsesPending = false;
    // The systems whose lamps were read in this run.
    std::set<std::string, std::less<>> m_systemsRead;
    bool m_following = true;
    bool m_stopped = false;
    std::vector<Colour> m_lastColours;
    std::optional<PaletteDocument> m_lastPalette;
    // The last cover handled, by its bytes' size and hash: the same cover again is no cover change
    // for a lamp still fading.
    std::optional<std::pair<std::size_t, std::size_t>> m_lastCover;
    bool m_pinned = false;
    // A cover came while pinned: the lamps do not show the last colours.
    bool m_heldByPin = false;
    bool m_albumMode = false;
    // The last cover handled's track, for album mode.
    CoverTrack m_lastTrack;
    std::optional<PlayerActivity> m_playerActivity;
    // The lamps were put back since the last cover was handled.
    bool m_restored = false;
    // The time the pending restore call is for; a call made by an older arming does nothing.
    std::optional<SteadyTime> m_restoreArmedFor;
    std::uint64_t m_restoreArming = 0;
    // Counts the covers handled: a walk waiting for its planned time belongs to the newest only.
    std::uint64_t m_coverCount = 0;
    LateNotice m_lateNotice;
};

} // namespace glowcast
