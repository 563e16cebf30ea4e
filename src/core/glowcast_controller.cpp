#include "glowcast_controller.h"

#include "eyedropper.h"
#include "lamp_colour.h"
#include "lamp_list.h"
#include "selection_merge.h"

#include <algorithm>
#include <cstddef>
#include <memory>
#include <utility>

namespace glowcast {

namespace {

constexpr std::string_view kEnabledColumn = "enabled";
constexpr std::string_view kNameColumn = "name";
constexpr std::size_t kInitialCapacity = 10;

[[nodiscard]] std::string describeLamps(const std::vector<LampEntry>& lamps)
{
    std::string out = "(";
    for (std::size_t i = 0; i < lamps.size(); ++i) {
        if (i > 0)
            out += ", ";
        out += describe(Dictionary{{"id", lamps[i].id}, {"name", lamps[i].name}, {"enabled", lamps[i].enabled}});
    }
    out += ")";
    return out;
}

[[nodiscard]] const LampEntry* findSaved(const std::optional<std::vector<LampEntry>>& saved, std::string_view id)
{
    if (!saved)
        return nullptr;
    for (const LampEntry& record : *saved)
        if (record.id == id)
            return &record;
    return nullptr;
}

} // namespace

GlowcastController::GlowcastController(BridgeBridge& bridgeBridge, LampCare& lampCare, Preferences& preferences,
                                       NotificationCentre& notificationCentre, Scheduler& scheduler,
                                       CoverDecoder& coverDecoder, Clock& clock, Log& log)
    : m_bridgeBridge(bridgeBridge), m_lampCare(lampCare), m_preferences(preferences),
      m_notificationCentre(notificationCentre), m_scheduler(scheduler), m_coverDecoder(coverDecoder), m_clock(clock),
      m_log(log)
{
}

void GlowcastController::awakeFromNib()
{
    m_attemptedSetUp = false;
    if (m_awake)
        return;
    m_awake = true;
    m_collection.clear();
    m_collection.reserve(kInitialCapacity);
    m_yesCell = ButtonCell{1, ""};
    m_noCell = ButtonCell{0, ""};
    m_scheduler.schedule(kSetUpDelay, [this] { testWindowLoaded(); });
}

void GlowcastController::testWindowLoaded()
{
    m_log.write("testing");
    setUp();
}

void GlowcastController::windowDidBecomeKey()
{
    if (!m_attemptedSetUp)
        setUp();
}

void GlowcastController::setUp()
{
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

    std::optional<std::string> reply = m_bridgeBridge.sendGETRequestToUrl("lights");
    m_log.write("tried lights response, result is " + describe(reply));
    if (!reply) {
        if (!m_bridgeBridge.logIn()) {
            m_log.write("hub abandoning setup");
            return;
        }
        reply = m_bridgeBridge.sendGETRequestToUrl("lights");
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
    std::vector<LampEntry> collection;
    collection.reserve(std::max(kInitialCapacity, lamps->size()));
    const std::optional<std::vector<LampEntry>> saved = m_preferences.lamps();
    for (LampEntry& entry : *lamps) {
        if (const LampEntry* record = findSaved(saved, entry.id))
            entry.enabled = record->enabled;
        collection.push_back(std::move(entry));
    }
    m_collection = std::move(collection);
    m_collectionFilled = true;
    m_setUpCollection = m_collection;
    endReport.listed = true;
    m_log.write("collection: " + describeLamps(m_collection));
    reloadTable();

    // A later set-up refreshes the collection and the table, but a second registration would
    // colour every lamp twice for each cover.
    if (m_registered)
        return;
    m_log.write("registering for notifications");
    m_notificationCentre.addObserver(std::string{kCoverChangedName}, std::string{kCoverChangedObject},
                                     [this](const Notification& notification) { coverHasChanged(notification); });
    m_registered = true;
}

TerminateReply GlowcastController::applicationShouldTerminate()
{
    m_log.write("hub should terminate");
    // Before any set-up has read the bridge's lamps the collection is empty and knows nothing of
    // the user's choice; storing it would wipe the saved selection.
    if (m_collectionFilled)
        m_preferences.updateLamps([this](const std::optional<std::vector<LampEntry>>& saved) {
            return mergeSelection(m_setUpCollection, m_collection, saved);
        });
    else
        m_log.write("no lamp list was read, keeping the saved selection");
    return TerminateReply::Now;
}

std::int32_t GlowcastController::enabledCount()
{
    std::int32_t count = 0;
    for (const LampEntry& entry : m_collection)
        if (entry.enabled)
            ++count;
    m_log.write("enabledcount returning " + std::to_string(count));
    return count;
}

std::optional<std::string> GlowcastController::getIDofNthEnabled(std::int32_t n)
{
    std::int32_t seen = 0;
    for (const LampEntry& entry : m_collection) {
        if (!entry.enabled)
            continue;
        if (seen == n) {
            m_log.write("getIDofNthEnabled returning " + entry.id);
            return entry.id;
        }
        ++seen;
    }
    return std::nullopt;
}

std::int32_t GlowcastController::numberOfRowsInTableView(const LampTableView& /*table*/) const
{
    return static_cast<std::int32_t>(m_collection.size());
}

TableObjectValue GlowcastController::objectValueForTableColumn(const LampTableView& /*table*/, std::string_view column,
                                                               std::int32_t row) const
{
    if (row < 0 || static_cast<std::size_t>(row) >= m_collection.size())
        return std::string{};
    const LampEntry& entry = m_collection[static_cast<std::size_t>(row)];
    if (column == kEnabledColumn)
        return entry.enabled ? &m_yesCell : &m_noCell;
    if (column == kNameColumn)
        return entry.name;
    return std::string{};
}

void GlowcastController::setObjectValue(LampTableView& table, const TableObjectValue& /*value*/,
                                        std::string_view column, std::int64_t row)
{
    // Every call for the check box column flips the lamp, whatever value the table passes.
    if (column == kEnabledColumn && row >= 0 && static_cast<std::size_t>(row) < m_collection.size()) {
        LampEntry& entry = m_collection[static_cast<std::size_t>(row)];
        if (entry.enabled) {
            entry.enabled = false;
            m_log.write("unsetting enabled");
        } else {
            entry.enabled = true;
            m_log.write("setting enabled");
        }
    }
    table.reloadData();
}

bool GlowcastController::setLampEnabled(std::string_view id, bool enabled)
{
    for (LampEntry& entry : m_collection) {
        if (entry.id != id)
            continue;
        if (entry.enabled != enabled) {
            entry.enabled = enabled;
            m_log.write(enabled ? "setting enabled" : "unsetting enabled");
            reloadTable();
        }
        return true;
    }
    return false;
}

void GlowcastController::setFollowing(bool following)
{
    if (following == m_following)
        return;
    m_following = following;
    m_log.write(following ? "following cover changes again"
                          : "following paused: cover changes are logged, not handled");
}

void GlowcastController::coverHasChanged(const Notification& notification)
{
    if (!m_following) {
        m_log.write("following paused: a cover change from \"" + notification.object + "\" was not handled");
        return;
    }
    std::unique_ptr<CoverImage> image;
    std::pair<std::size_t, std::size_t> coverIdentity{0, 0};
    if (const auto cover = notification.userInfo.find(std::string{kCoverKey}); cover != notification.userInfo.end()) {
        image = m_coverDecoder.decode(cover->second);
        const std::string_view bytes(reinterpret_cast<const char*>(cover->second.data()), cover->second.size());
        coverIdentity = {bytes.size(), std::hash<std::string_view>{}(bytes)};
    }
    const bool coverChanged = coverIdentity != m_lastCover;
    m_lastCover = coverIdentity;

    Eyedropper eyedropper(image.get(), m_log);
    const std::vector<Colour> colours = eyedropper.getColours(enabledCount());
    m_lastColours = colours;

    if (m_outlets.imageView != nullptr)
        m_outlets.imageView->setImage(image.get());
    for (std::size_t k = 0; k < m_outlets.colourWells.size(); ++k)
        if (ColourWell* well = m_outlets.colourWells[k])
            well->setColour(k < colours.size() ? colours[k] : whiteColour());

    // One request per enabled lamp, in collection order, each after the previous one returned;
    // the k-th enabled lamp takes colour k, or the zero body past the end of the list.
    m_lampCare.startCover(coverChanged);
    for (std::int32_t i = 0; i < enabledCount(); ++i) {
        const auto position = static_cast<std::size_t>(i);
        Dictionary body =
            lampStateBody(position < colours.size() ? std::optional<Colour>{colours[position]} : std::nullopt, m_log);
        std::optional<std::string> id = getIDofNthEnabled(i);
        if (!id)
            continue;
        m_lampCare.sendOne({std::move(*id), std::move(body)});
    }
    m_lampCare.endCover();
    armRestore();
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
    armRestore();
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
        m_lampCare.restoreIfDue();
        armRestore();
    });
}

void GlowcastController::reloadTable()
{
    if (m_outlets.lampTableView != nullptr)
        m_outlets.lampTableView->reloadData();
}

} // namespace glowcast
