#include "core/control/glowcast_controller.h"

#include "core/beat/lamp_beat.h"
#include "core/bridge/bridge_bridge.h"
#include "core/bridge/lamp_care.h"
#include "core/bridge/lamp_list.h"
#include "core/lamp_care/lamp_shaping.h"
#include "core/lamp_systems/system_kinds.h"
#include "core/lamps/lamp_plan.h"
#include "core/lamps/selection_merge.h"
#include "core/palette/eyedropper.h"
#include "core/palette/lamp_colour.h"
#include "core/text/log_text.h"

#include <algorithm>
#include <cstddef>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <utility>

namespace glowcast {

namespace {

using EnabledById = std::unordered_map<std::string_view, bool>;

// Whether each lamp is chosen, by id; of an id listed twice, the first.
EnabledById enabledById(const std::vector<LampEntry>& lamps)
{
    EnabledById enabled;
    enabled.reserve(lamps.size());
    for (const LampEntry& lamp : lamps)
        enabled.try_emplace(lamp.id, lamp.enabled);
    return enabled;
}

// A track names its album only when the album is not empty.
bool sameAlbum(const CoverTrack& last, const CoverTrack& next)
{
    return !next.album.empty() && next.album == last.album && next.artist == last.artist;
}

} // namespace

GlowcastController::GlowcastController(BridgeBridge& bridgeBridge, LampCare& lampCare, Preferences& preferences,
                                       CoverFeed& coverFeed, Scheduler& scheduler, CoverDecoder& coverDecoder,
                                       Clock& clock, Log& log)
    : m_bridgeBridge(bridgeBridge), m_lampCare(lampCare), m_preferences(preferences), m_coverFeed(coverFeed),
      m_scheduler(scheduler), m_coverDecoder(coverDecoder), m_clock(clock), m_log(log)
{
    m_lamps.keepSwitch = [this] { return saveSelection(); };
}

void GlowcastController::connectViews(const ControllerViews& views)
{
    m_lamps.setView(views.lamps);
    m_coverDisplay = views.cover;
}

void GlowcastController::start()
{
    m_attemptedSetUp = false;
    if (m_started)
        return;
    m_started = true;
    m_lamps.clear();
    m_scheduler.schedule(kSetUpDelay, [this] { delayedSetUp(); });
}

void GlowcastController::delayedSetUp()
{
    m_log.write("testing");
    setUp();
}

void GlowcastController::windowActivated()
{
    if (!m_attemptedSetUp)
        setUp();
}

void GlowcastController::setUp()
{
    if (m_stopped) {
        m_log.write("quitting: no set-up");
        return;
    }
    // Whichever way the set-up ends, whoever offers a way out of a failed one hears of it.
    struct EndReport {
        GlowcastController& controller;
        bool listed = false;
        ~EndReport()
        {
            if (controller.onSetUpEnded)
                controller.onSetUpEnded(listed ? SetUpEnd::Listening : SetUpEnd::Abandoned);
        }
    } endReport{*this};

    m_log.write("hub launching");
    m_attemptedSetUp = true;

    std::optional<std::string> reply = m_bridgeBridge.read("lights");
    m_log.write("tried lights response, result is " + describe(reply));
    if (!reply) {
        if (!m_bridgeBridge.pair()) {
            m_log.write("hub abandoning setup");
            return;
        }
        reply = m_bridgeBridge.read("lights");
    }
    if (!reply) {
        m_log.write("hub abandoning setup point 2");
        return;
    }

    // A reply that is no lamp list (an error page, garbage) says nothing about the bridge's lamps:
    // taken as an empty bridge, it would wipe the saved selection at the next quit.
    Dictionary lampList;
    std::optional<std::vector<LampEntry>> lamps = lampsFromLightsReply(*reply, m_log, &lampList);
    if (!lamps) {
        m_log.write("hub abandoning setup: the lights reply is not a lamp list");
        return;
    }
    m_lampCare.readLampList(lampList);
    m_lamps.fill(std::move(*lamps), m_preferences.lamps());
    endReport.listed = true;
    // The other systems' lamps follow the first bridge's, as read so far.
    if (m_systems != nullptr && !m_systems->lamps().empty())
        refillSystemLamps();
    m_log.write("collection: " + m_lamps.description());
    registerForCovers();
}

void GlowcastController::registerForCovers()
{
    // A later set-up refreshes the collection and the table, but a second registration would
    // colour every lamp twice for each cover.
    if (m_registered)
        return;
    m_log.write("registering for notifications");
    m_coverFeed.follow([this](const CoverArrival& cover) { coverChanged(cover); });
    m_registered = true;
}

void GlowcastController::systemLampsChanged()
{
    // Lamps of another system follow the covers even while the first bridge is not set up.
    if (refillSystemLamps() && !m_stopped)
        registerForCovers();
}

bool GlowcastController::refillSystemLamps()
{
    if (m_systems == nullptr)
        return false;
    const std::vector<SystemLampRow> rows = m_systems->lamps();
    const std::optional<std::vector<LampEntry>> saved = rows.empty() ? std::nullopt : m_preferences.lamps();
    // A system of thousands of lamps tells them again at every rename: each lamp's choice is one lookup.
    const EnabledById held = enabledById(m_lamps.entries());
    const EnabledById stored = saved ? enabledById(*saved) : EnabledById{};
    std::vector<LampEntry> lamps;
    lamps.reserve(rows.size());
    for (const SystemLampRow& row : rows) {
        m_systemsRead.insert(row.systemId);
        bool enabled = false;
        if (const auto found = held.find(row.id); found != held.end())
            enabled = found->second;
        else if (const auto record = stored.find(row.id); record != stored.end())
            enabled = record->second;
        lamps.push_back({row.id, row.lamp.name, enabled});
    }
    // The first bridge's lamps come first; the other systems' lamps are the rows after them.
    const auto firstOther = std::ranges::find_if(
        m_lamps.entries(), [](const LampEntry& entry) { return splitLampId(entry.id).has_value(); });
    m_lamps.replaceFrom(static_cast<std::size_t>(firstOther - m_lamps.entries().begin()), std::move(lamps));
    return !rows.empty();
}

void GlowcastController::saveBeforeQuit()
{
    m_log.write("hub should terminate");
    // Before any set-up has read the bridge's lamps (or any other system its lamps) the collection is
    // empty and knows nothing of the user's choice; storing it would wipe the saved selection.
    if (m_lamps.filled() || !m_systemsRead.empty())
        (void)saveSelection(); // the preferences log a failure; the program ends either way
    else
        m_log.write("no lamp list was read, keeping the saved selection");
}

bool GlowcastController::saveSelection()
{
    return m_preferences.updateLamps([this](const std::optional<std::vector<LampEntry>>& saved) {
        return mergeSelection(m_lamps.asSetUp(), m_lamps.entries(), saved,
                              [this](std::string_view id) { return keptUnread(id); });
    });
}

bool GlowcastController::keptUnread(std::string_view id) const
{
    // A system that is down at start, or a first bridge not set up, loses no choice.
    const std::optional<SystemLampId> split = splitLampId(id);
    if (!split)
        return !m_lamps.filled();
    return !m_systemsRead.contains(split->system);
}

void GlowcastController::stop()
{
    m_stopped = true;
    m_bridgeBridge.stopPairing();
    m_lampCare.stop();
    if (m_systems != nullptr)
        m_systems->stop();
}

void GlowcastController::setFollowing(bool following)
{
    if (following == m_following)
        return;
    m_following = following;
    m_log.write(following ? "following cover changes again"
                          : "following paused: cover changes are logged, not handled");
}

void GlowcastController::coverChanged(const CoverArrival& cover)
{
    if (m_stopped) {
        m_log.write("quitting: a cover change from \"" + cover.source + "\" was not handled");
        return;
    }
    if (!m_following) {
        m_log.write("following paused: a cover change from \"" + cover.source + "\" was not handled");
        return;
    }
    std::unique_ptr<CoverImage> image;
    std::pair<std::size_t, std::size_t> coverIdentity{0, 0};
    if (!cover.bytes.empty()) {
        image = m_coverDecoder.decode(cover.bytes);
        const std::string_view bytes(reinterpret_cast<const char*>(cover.bytes.data()), cover.bytes.size());
        // A player's cover that does not decode (a file still being written, a download cut short)
        // is not a black cover: the lamps keep what they show. The decoder has said why.
        if (image == nullptr && cover.fromPlayer) {
            m_log.write("players: the cover does not decode; the lamps stay as they are");
            return;
        }
        coverIdentity = {bytes.size(), std::hash<std::string_view>{}(bytes)};
    }
    const bool coverChanged = coverIdentity != m_lastCover;
    m_lastCover = coverIdentity;
    m_restored = false;
    const bool albumAgain = m_albumMode && sameAlbum(m_lastTrack, cover.track);
    m_lastTrack = cover.track;

    const std::vector<Colour> colours = paletteColours(m_palette, image.get(), m_lamps.enabledCount(), m_log);
    m_lastColours = colours;
    m_lastPalette = paletteDocument(colours, m_palette, cover);
    m_lastPalette->pinned = m_pinned; // told to other programs while the lamps keep their colours
    if (onPaletteTaken)
        onPaletteTaken(*m_lastPalette);

    if (m_coverDisplay != nullptr)
        m_coverDisplay->showCover(image.get(), colours);

    if (m_pinned) {
        m_heldByPin = true;
        m_log.write("pinned: the cover from \"" + cover.source + "\" changes nothing on the lamps");
        return;
    }
    if (albumAgain) {
        m_log.write("album mode: the cover from \"" + cover.source + "\" is of the album \"" +
                    printable(cover.track.album, 80) + "\" again; the lamps stay as they are");
        return;
    }
    const std::chrono::milliseconds delay = m_lampCare.settings().delay;
    if (delay <= std::chrono::milliseconds{0}) {
        colourLamps(colours, coverChanged, std::nullopt);
        return;
    }
    const SteadyTime now = m_clock.now();
    colourLamps(colours, coverChanged,
                std::chrono::floor<std::chrono::milliseconds>(cover.heard.value_or(now) + delay - now));
}

void GlowcastController::setPinned(bool pinned)
{
    if (pinned == m_pinned)
        return;
    m_pinned = pinned;
    if (pinned) {
        m_log.write("pinned: covers change nothing on the lamps");
        return;
    }
    const bool held = std::exchange(m_heldByPin, false) && !m_stopped;
    m_log.write(held ? "unpinned: the lamps take the last cover's colours" : "unpinned: covers colour the lamps again");
    if (held)
        colourLamps(m_lastColours, true, std::nullopt);
}

void GlowcastController::colourLamps(const std::vector<Colour>& colours, bool coverChanged,
                                     std::optional<std::chrono::milliseconds> changeIn)
{
    // The other systems are handed their lamps' states first: they send on their own while the first
    // bridge's lamps are sent one request each, each after the previous one returned. The log tells
    // the plan as a walk over the collection: the count before each lamp and once after the last, and
    // each lamp's id after its body was made (another system's lamp: at once, its state already handed).
    std::vector<LampAssignment> plan = planLamps(m_lamps.entries(), colours);
    const std::uint64_t number = ++m_coverCount;
    if (!changeIn) {
        tellBeat(plan, sendToSystems(plan, coverChanged, std::nullopt));
        walk(plan, coverChanged);
        return;
    }
    tellBeat(plan, sendToSystems(plan, coverChanged, changeIn));
    armRestore();
    const bool firstBridgeLamps =
        std::ranges::any_of(plan, [](const LampAssignment& lamp) { return !splitLampId(lamp.id); });
    const SendPlan first =
        firstBridgeLamps ? planSend(*changeIn, countedLatency(m_lampCare.latency().figures()), {}) : SendPlan{};
    if (const auto line =
            firstBridgeLamps ? m_lateNotice.told("the first bridge", first, m_lampCare.settings().delay) : std::nullopt)
        m_log.write(*line);
    if (first.wait == std::chrono::milliseconds{0}) {
        walk(plan, coverChanged);
        return;
    }
    // A delayed call, never a sleep: the program goes on meanwhile, and a newer cover or a quit drops it.
    m_scheduler.schedule(first.wait, [this, number, plan = std::move(plan), coverChanged] {
        if (number == m_coverCount && !m_stopped)
            walk(plan, coverChanged);
    });
}

void GlowcastController::walk(const std::vector<LampAssignment>& plan, bool coverChanged)
{
    const auto count = static_cast<std::int32_t>(plan.size());
    m_lampCare.startCover(coverChanged);
    for (const LampAssignment& lamp : plan) {
        m_log.write(enabledCountLine(count));
        if (splitLampId(lamp.id)) {
            m_log.write(nthEnabledLine(lamp.id));
            continue;
        }
        const LampTarget target = paletteLampTarget(m_palette, lamp.colour, m_log);
        m_log.write(nthEnabledLine(lamp.id));
        m_lampCare.sendOne({lamp.id, target});
        if (onLampSent)
            onLampSent(lamp.id, shapedLampState(target, {}, m_lampCare.settings()));
        if (m_stopped) {
            m_log.write("quitting: the rest of this cover's lamps are not sent");
            break;
        }
    }
    if (!m_stopped)
        m_log.write(enabledCountLine(count));
    m_lampCare.endCover();
    armRestore();
}

GlowcastController::SystemStates GlowcastController::sendToSystems(const std::vector<LampAssignment>& plan,
                                                                   bool coverChanged,
                                                                   std::optional<std::chrono::milliseconds> changeIn)
{
    SystemStates states;
    if (m_systems == nullptr)
        return states;
    for (const LampAssignment& lamp : plan) {
        const SystemLamp* systemLamp = splitLampId(lamp.id) ? m_systems->lamp(lamp.id) : nullptr;
        if (systemLamp == nullptr)
            continue;
        LampState state =
            shapedLampState(paletteLampTarget(m_palette, lamp.colour), systemLamp->capabilities, m_lampCare.settings());
        // An on/off lamp without the switch-on setting has nothing to be told.
        if (state != LampState{}) {
            m_lampCare.colouredElsewhere(lamp.id);
            states.emplace_back(lamp.id, std::move(state));
        }
    }
    // Also when empty: what still waits of an older cover is dropped.
    m_systems->setCare(m_lampCare.settings());
    m_systems->send(states, coverChanged, changeIn);
    return states;
}

void GlowcastController::pulse(const std::string& systemId, const LampStateCommand& command)
{
    if (!systemId.empty()) {
        if (m_systems != nullptr)
            m_systems->pulse(systemId, command);
        return;
    }
    m_bridgePulses.insert_or_assign(command.key, command.state);
    if (std::exchange(m_bridgePulsesPending, true))
        return;
    m_scheduler.schedule(std::chrono::milliseconds{0}, [this] {
        m_bridgePulsesPending = false;
        for (const auto& [lamp, state] : std::exchange(m_bridgePulses, {}))
            m_lampCare.pulse(lamp, state);
    });
}

void GlowcastController::tellBeat(const std::vector<LampAssignment>& plan, const SystemStates& states)
{
    if (m_beat == nullptr)
        return;
    const LampCareSettings& care = m_lampCare.settings();
    // A sound reaches the lamps as a cover does: the delay after it was heard.
    const auto lag = [&](const std::optional<LatencyFigures>& latency, std::chrono::milliseconds offset) {
        return care.delay > std::chrono::milliseconds{0} ? planSend(care.delay, countedLatency(latency), offset).wait
                                                         : std::chrono::milliseconds{0};
    };
    std::vector<BeatSystem> systems;
    BeatSystem first{"",
                     systemPace(SystemRecord{}, care.pace),
                     LampPacer::kBridgeSecond,
                     lag(m_lampCare.latency().figures(), {}),
                     {}};
    for (const LampAssignment& lamp : plan)
        if (!splitLampId(lamp.id))
            first.cover.push_back(
                {lamp.id, m_lampCare.shapedState({lamp.id, paletteLampTarget(m_palette, lamp.colour)})});
    if (!first.cover.empty())
        systems.push_back(std::move(first));
    for (const SystemStatus& status : m_systems != nullptr ? m_systems->statuses() : std::vector<SystemStatus>{}) {
        // A WLED moves with the sound sync, by its own effects.
        if (status.record.kind == SystemKind::Wled)
            continue;
        BeatSystem system{status.record.id,
                          systemPace(status.record, care.pace),
                          std::chrono::seconds{1},
                          lag(status.latency, status.record.offset),
                          {}};
        for (const auto& [id, state] : states)
            if (const std::optional<SystemLampId> split = splitLampId(id); split && split->system == system.id)
                system.cover.push_back({std::string{split->key}, state});
        if (!system.cover.empty())
            systems.push_back(std::move(system));
    }
    m_beat->coverSent(std::move(systems));
}

void GlowcastController::followedPlayerChanged(const FollowerStatus& status)
{
    std::optional<PlayerActivity> activity;
    if (status.busName.empty())
        activity = m_playerActivity ? std::optional{PlayerActivity::Gone} : std::nullopt;
    else if (status.status == PlaybackStatus::Playing)
        activity = PlayerActivity::Playing;
    else if (status.status == PlaybackStatus::Paused)
        activity = PlayerActivity::Paused;
    else if (status.status == PlaybackStatus::Stopped)
        activity = PlayerActivity::Stopped;
    // A player that has not said what it does, or no player ever followed, changes nothing.
    if (!activity || activity == m_playerActivity)
        return;
    m_playerActivity = activity;
    m_lampCare.playerChanged(*activity);
    if (m_beat != nullptr)
        m_beat->playerChanged(activity == PlayerActivity::Playing);
    armRestore();
    if (activity == PlayerActivity::Playing && m_restored) {
        m_restored = false;
        m_log.write("playing again after the lamps were put back: asking for the cover again");
        if (onPlayingAfterRestore)
            onPlayingAfterRestore();
    }
}

void GlowcastController::armRestore()
{
    const std::optional<SteadyTime> due = m_lampCare.restoreDue();
    // A call pending for an earlier time looks again when it comes.
    if (!due || (m_restoreArmedFor && *m_restoreArmedFor <= *due))
        return;
    m_restoreArmedFor = due;
    const std::uint64_t arming = ++m_restoreArming;
    const auto delay =
        std::max(std::chrono::ceil<std::chrono::milliseconds>(*due - m_clock.now()), std::chrono::milliseconds{0});
    m_scheduler.schedule(delay, [this, arming] {
        if (arming != m_restoreArming)
            return;
        m_restoreArmedFor.reset();
        // The other systems put their lamps back on their own, while the first bridge's are sent one by one.
        const std::optional<SteadyTime> dueNow = m_lampCare.restoreDue();
        const bool systemsDue = m_systems != nullptr && !m_lampCare.stopped() && dueNow && m_clock.now() >= *dueNow;
        const std::size_t putBackElsewhere = systemsDue ? m_systems->restore() : 0;
        if (m_lampCare.restoreIfDue() || putBackElsewhere > 0) {
            m_restored = true;
            m_lastCover.reset(); // the same cover again is a change for the lamps put back
            m_lastTrack = {};    // and so is its album
        }
        armRestore();
    });
}

std::optional<LatencyFigures> GlowcastController::bridgeLatency() const
{
    return m_lampCare.latency().figures();
}

} // namespace glowcast
