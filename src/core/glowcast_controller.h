#pragma once

#include "bridge_bridge.h"
#include "colour.h"
#include "lamp_care/lamp_care.h"
#include "lamp_collection.h"
#include "lamp_entry.h"
#include "ports/clock.h"
#include "ports/cover_image.h"
#include "ports/follower_view.h"
#include "ports/log.h"
#include "ports/notification_centre.h"
#include "ports/preferences.h"
#include "ports/scheduler.h"
#include "ports/views.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace glowcast {

inline constexpr std::string_view kCoverChangedName = "CoverdeckAlbumCoverChanged";
inline constexpr std::string_view kCoverChangedObject = "Coverdeck";
inline constexpr std::string_view kCoverKey = "cover";
inline constexpr std::chrono::milliseconds kSetUpDelay{250};

// How a set-up ended: with the lamp list read and the cover handler registered, or abandoned.
enum class SetUpEnd { Listening, Abandoned };

// The answer to the should-terminate query.
enum class TerminateReply { Cancel = 0, Now = 1, Later = 2 };

// The display outlets of the controller. A missing outlet is simply not drawn on.
struct ControllerOutlets {
    LampTableView* lampTableView = nullptr;
    ImageView* imageView = nullptr;
    std::array<ColourWell*, 5> colourWells{}; // cw1 .. cw5
};

// The main controller: sets itself up against the bridge, fills the lamp collection, follows cover
// changes (the lamp plan decides which lamp takes which body, lamp care sends them) and saves the
// selection when the program quits. Every call happens on the main thread, one at a time. Lamp care
// with its default settings sends each request as it is given.
class GlowcastController {
public:
    GlowcastController(BridgeBridge& bridgeBridge, LampCare& lampCare, Preferences& preferences,
                       NotificationCentre& notificationCentre, Scheduler& scheduler, CoverDecoder& coverDecoder,
                       Clock& clock, Log& log);
    GlowcastController(const GlowcastController&) = delete;
    GlowcastController& operator=(const GlowcastController&) = delete;

    void connectOutlets(const ControllerOutlets& outlets) { m_outlets = outlets; }

    // Waking and set-up.
    void awakeFromNib();
    void testWindowLoaded();
    void windowDidBecomeKey();
    void setUp();
    [[nodiscard]] TerminateReply applicationShouldTerminate();

    // The lamp collection, and the lamp table's data source kept on purpose under the controller's
    // names: the table asks the controller, which passes every call to the collection.
    [[nodiscard]] const std::vector<LampEntry>& collection() const { return m_lamps.entries(); }
    [[nodiscard]] std::int32_t numberOfRowsInTableView(const LampTableView& table) const
    {
        return m_lamps.numberOfRowsInTableView(table);
    }
    [[nodiscard]] TableObjectValue objectValueForTableColumn(const LampTableView& table, std::string_view column,
                                                             std::int32_t row) const
    {
        return m_lamps.objectValueForTableColumn(table, column, row);
    }
    void setObjectValue(LampTableView& table, const TableObjectValue& value, std::string_view column, std::int64_t row)
    {
        m_lamps.setObjectValue(table, value, column, row);
    }
    [[nodiscard]] const ButtonCell& yesCell() const { return m_lamps.yesCell(); }
    [[nodiscard]] const ButtonCell& noCell() const { return m_lamps.noCell(); }

    // The cover-changed handler.
    void coverHasChanged(const Notification& notification);

    [[nodiscard]] bool attemptedSetUp() const { return m_attemptedSetUp; }

    // Told at the end of every set-up, whichever way it ended.
    std::function<void(SetUpEnd)> onSetUpEnded;
    // A set-up has read the lamp list and the cover handler is registered.
    [[nodiscard]] bool listening() const { return m_lamps.filled() && m_registered; }

    // Switches the lamp with the id on or off as a click on its check box does (the same log line,
    // the table reloaded); nothing when it already is. False when no lamp has the id.
    bool setLampEnabled(std::string_view id, bool enabled)
    {
        return m_lamps.setLampEnabled(id, enabled, m_outlets.lampTableView);
    }

    // While not following, a cover change from any source is logged and not handled.
    void setFollowing(bool following);
    [[nodiscard]] bool following() const { return m_following; }
    // The colours of the last cover change handled, in the extractor's order; empty before it.
    [[nodiscard]] const std::vector<Colour>& lastColours() const { return m_lastColours; }

    // What the followed media player does, for putting the lamps back once it has stopped playing: a
    // player that plays, pauses or stops, or none followed any more (after one was).
    void followedPlayerChanged(const FollowerStatus& status);

private:
    void reloadTable();
    // Keeps one delayed call pending for the lamp care's restore, at the time it is due.
    void armRestore();

    BridgeBridge& m_bridgeBridge;
    LampCare& m_lampCare;
    Preferences& m_preferences;
    NotificationCentre& m_notificationCentre;
    Scheduler& m_scheduler;
    CoverDecoder& m_coverDecoder;
    Clock& m_clock;
    Log& m_log;
    ControllerOutlets m_outlets;

    bool m_attemptedSetUp = false;
    bool m_awake = false;
    // The cover handler is registered once, however many set-ups complete.
    bool m_registered = false;
    LampCollection m_lamps{m_log};
    bool m_following = true;
    std::vector<Colour> m_lastColours;
    // The last cover handled, by its bytes' size and hash: the same cover again is no cover change
    // for a lamp still fading.
    std::optional<std::pair<std::size_t, std::size_t>> m_lastCover;
    std::optional<PlayerActivity> m_playerActivity;
    // The time the pending restore call is for; a call made by an older arming does nothing.
    std::optional<SteadyTime> m_restoreArmedFor;
    std::uint64_t m_restoreArming = 0;
};

// The platform's main window as the application delegate knows it: nothing is asked of it.
class AppWindow {
public:
    virtual ~AppWindow() = default;
};

// The application delegate: holds a non-owning reference to the main window.
class AppDelegate {
public:
    [[nodiscard]] AppWindow* window() const { return m_window; }
    void setWindow(AppWindow* window) { m_window = window; }
    void applicationDidFinishLaunching() {}

private:
    AppWindow* m_window = nullptr;
};

} // namespace glowcast
