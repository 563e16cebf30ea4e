#pragma once

#include "bridge_bridge.h"
#include "colour.h"
#include "lamp_care/lamp_care.h"
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

// One of the two shared on/off values of the lamp table's "enabled" column. The table's own check
// box shows the state of the cell it is given.
struct ButtonCell {
    int state = 0; // 1 on, 0 off
    std::string title;
    friend bool operator==(const ButtonCell&, const ButtonCell&) = default;
};

// What the lamp table shows in a cell: a shared on/off cell for "enabled", a text otherwise.
using TableObjectValue = std::variant<std::string, const ButtonCell*>;

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

// The main controller: owns the lamp collection and the lamp table's data source, sets itself up
// against the bridge, follows cover changes and saves the selection when the program quits.
// Every call happens on the main thread, one at a time. The lamp requests go through lamp care,
// which with its default settings sends each as it is given.
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

    // The lamp collection.
    [[nodiscard]] std::int32_t enabledCount();
    [[nodiscard]] std::optional<std::string> getIDofNthEnabled(std::int32_t n);
    [[nodiscard]] const std::vector<LampEntry>& collection() const { return m_collection; }

    // The lamp table's data source.
    [[nodiscard]] std::int32_t numberOfRowsInTableView(const LampTableView& table) const;
    [[nodiscard]] TableObjectValue objectValueForTableColumn(const LampTableView& table, std::string_view column,
                                                             std::int32_t row) const;
    void setObjectValue(LampTableView& table, const TableObjectValue& value, std::string_view column, std::int64_t row);
    [[nodiscard]] const ButtonCell& yesCell() const { return m_yesCell; }
    [[nodiscard]] const ButtonCell& noCell() const { return m_noCell; }

    // The cover-changed handler.
    void coverHasChanged(const Notification& notification);

    [[nodiscard]] bool attemptedSetUp() const { return m_attemptedSetUp; }

    // Told at the end of every set-up, whichever way it ended.
    std::function<void(SetUpEnd)> onSetUpEnded;
    // A set-up has read the lamp list and the cover handler is registered.
    [[nodiscard]] bool listening() const { return m_collectionFilled && m_registered; }

    // Switches the lamp with the id on or off as a click on its check box does (the same log line,
    // the table reloaded); nothing when it already is. False when no lamp has the id.
    bool setLampEnabled(std::string_view id, bool enabled);

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
    // A set-up has filled the collection from the bridge's lamp list: only then does the collection
    // say anything about the user's selection.
    bool m_collectionFilled = false;
    // The cover handler is registered once, however many set-ups complete.
    bool m_registered = false;
    ButtonCell m_yesCell;
    ButtonCell m_noCell;
    std::vector<LampEntry> m_collection;
    // The collection as the last set-up built it: what the termination save compares with, so that
    // a change another program made to the saved selection meanwhile is kept.
    std::vector<LampEntry> m_setUpCollection;
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
