#pragma once

#include "core/bridge/bridge_bridge.h"
#include "core/colour/colour.h"
#include "core/lamp_systems/lamp_systems.h"
#include "core/lamps/lamp_entry.h"
#include "core/palette/palette_document.h"
#include "core/ports/log.h"
#include "core/ports/preferences.h"
#include "core/ports/scheduler.h"
#include "core/settings/settings.h"
#include "core/text/outcome.h"

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace glowcast {

class GlowcastController;

// What the running program reports about itself.
struct ControlStatus {
    bool listening = false;                        // a set-up read the lamp list and covers are being watched
    bool paired = false;                           // a user name for the bridge is stored
    std::string bridgeAddress;                     // the address in use; empty while none is known
    bool following = true;                         // false while paused
    std::string followedPlayer;                    // the media player whose covers are followed; empty when none
    std::vector<Colour> lastColours;               // of the last cover handled, in the extractor's order
    std::vector<SystemStatus> systems;             // the lamp systems beside the first bridge, in their order
    std::optional<LatencyFigures> bridgeLatency{}; // the first bridge's; nothing before its first lamp state
    bool pinned = false;                           // covers change nothing on the lamps
    std::string beat = "off";                      // the "beat" setting
    std::string soundCapture = "off";              // "off", "waiting", "capturing" or "unavailable"
    friend bool operator==(const ControlStatus&, const ControlStatus&) = default;
};

// What the program's remote control (and the window's settings) may do to the running program, as
// the same operations a click in the window makes. Every call happens on the main thread, one at a
// time, between other operations.
class RemoteControl {
public:
    // environmentPortal: the portal named by the environment, which wins over the "portal" setting.
    RemoteControl(GlowcastController& controller, BridgeBridge& bridge, Settings& settings, Scheduler& scheduler,
                  Log& log, std::optional<std::string> environmentPortal);

    // The portal discovery should ask: the environment's, else the "portal" setting's, else none.
    [[nodiscard]] std::optional<std::string> portalHost() const;

    // The collection; empty before a set-up has read the lamp list.
    [[nodiscard]] const std::vector<LampEntry>& lamps() const;
    // Switch one lamp on or off, as a click on its check box: at once in the table and in the saved
    // selection. UnknownLamp (or NoLampList before the first lamp list) and NotSaved change nothing.
    Outcome enable(std::string_view id) { return setLamp(id, true); }
    Outcome disable(std::string_view id) { return setLamp(id, false); }

    // While paused, cover changes from every source are logged and not handled.
    void pause();
    void resume();
    // Who is told of each pause and resume, with whether covers are followed now.
    void setFollowingObserver(std::function<void(bool following)> observer)
    {
        m_followingObserver = std::move(observer);
    }

    // Stores the "pinned" setting, which holds from the next start too: while pinned, covers change
    // nothing on the lamps; unpinned, they take the last cover's colours. As setSetting.
    Outcome setPinned(bool pinned);

    [[nodiscard]] ControlStatus status() const;
    // The last cover's palette; nothing before the first cover's colours were taken.
    [[nodiscard]] const std::optional<PaletteDocument>& palette() const;
    // Who says which media player is followed; without one the status names none.
    void setFollowedPlayerSource(std::function<std::string()> source) { m_followedPlayer = std::move(source); }
    // Who says how hearing the sound stands ("waiting"...); without one the status says "off".
    void setSoundCaptureSource(std::function<std::string()> source) { m_soundCapture = std::move(source); }
    // Who is told of each setting stored, after it was stored (lamp care takes its settings afresh).
    void setSettingObserver(std::function<void(std::string_view key)> observer)
    {
        m_settingObserver = std::move(observer);
    }

    // Stores a setting. The controller takes "pinned" and "albumMode" at once (and from the stored
    // settings as this is made). A new bridge address or portal is used at once: the portal for the next
    // discovery, and when the set-up ended without the lamp list, a new set-up right after this call,
    // with the address found afresh (the portal first, then the stored address).
    Outcome setSetting(std::string_view key, const SettingValue& value);
    // The way out of a failed first set-up: the bridge's address and, when not empty, a portal.
    Outcome setBridge(const std::string& address, const std::string& portal);
    [[nodiscard]] const Settings& settings() const { return m_settings; }

    // The lamp systems beside the first bridge, and where their records are stored. Until they are
    // attached there are none, and adding one is refused.
    void attachSystems(LampSystems& systems, Preferences& store)
    {
        m_systems = &systems;
        m_systemStore = &store;
    }
    [[nodiscard]] std::vector<SystemStatus> systems() const;
    // Every change of the systems below is stored before it is answered; NotSaved when the store
    // refuses it, and then nothing changed, in the program or in the store.
    //
    // Adds a system of the record's kind at its address; an empty id takes the kind's first free one,
    // written back into the record. The id is picked, the staged secrets (when there is a tag) given
    // to it and the record stored with no other writer of the store in between. InvalidValue (with
    // the sentence) for an address the kind cannot use, an id taken, a kind this build cannot reach;
    // NotSaved as above, or for secrets that could not be given to it. The system pairs or connects
    // afterwards, its state tells how it goes.
    Outcome addSystem(SystemRecord& record, std::string_view stagedSecrets = {});
    // Who gives a staged set of secrets (written before the system had an id) to the system: nothing
    // when done, else why not, with nothing moved.
    void setSecretsAdopter(std::function<std::optional<std::string>(std::string_view tag, std::string_view id)> adopter)
    {
        m_adoptSecrets = std::move(adopter);
    }
    // Pace 1..1000 lamp states a second, or nothing for the kind's default. UnknownSystem for an id
    // no system has.
    Outcome setSystemPace(std::string_view id, std::optional<int> pace);
    // The ms added to the system's send time, -200..2000 (InvalidValue else). UnknownSystem for an id no
    // system has.
    Outcome setSystemOffset(std::string_view id, std::chrono::milliseconds offset);
    // A WLED system's sound sync port, 0..65535, 0 for none (InvalidValue else, and for another kind).
    // UnknownSystem for an id no system has.
    Outcome setSystemSyncPort(std::string_view id, int port);
    // Starts the system anew, its credentials read again (a token replaced). UnknownSystem for an id no
    // system has.
    Outcome reloadSystem(std::string_view id);
    // Ends the system and forgets its lamps (the saved choices of its lamps stay in the file).
    // UnknownSystem for an id no system has.
    Outcome removeSystem(std::string_view id);
    // Who is told of each system removed once its removal is stored (its secret files go with it), and
    // of each addition undone after its secrets were given to it.
    void setSystemRemovedObserver(std::function<void(const std::string& id)> observer)
    {
        m_systemRemoved = std::move(observer);
    }

private:
    Outcome setLamp(std::string_view id, bool enabled);
    void retrySetUpIfAbandoned();
    // The controller takes the pin and album mode as the settings have them.
    void applyCoverSettings();
    [[nodiscard]] bool hasSystem(std::string_view id) const;
    [[nodiscard]] static Outcome unknownSystem(std::string_view id);
    // Sets one field of a system's record and stores the records; a store that fails puts the field back.
    template <typename Field>
    [[nodiscard]] Outcome setAndStore(std::string_view id, Field SystemRecord::*field, Field value,
                                      Outcome (LampSystems::*set)(std::string_view, Field), const char* what);
    // Stores the systems as the program has them, after edit; false when the store refused.
    [[nodiscard]] bool storeSystems(const std::function<void(std::vector<SystemRecord>&)>& edit = {});

    GlowcastController& m_controller;
    BridgeBridge& m_bridge;
    Settings& m_settings;
    Scheduler& m_scheduler;
    Log& m_log;
    std::optional<std::string> m_environmentPortal;
    std::function<std::string()> m_soundCapture;
    std::function<std::string()> m_followedPlayer;
    std::function<void(std::string_view key)> m_settingObserver;
    std::function<void(bool following)> m_followingObserver;
    bool m_retryPending = false;
    LampSystems* m_systems = nullptr;
    Preferences* m_systemStore = nullptr;
    std::function<std::optional<std::string>(std::string_view tag, std::string_view id)> m_adoptSecrets;
    std::function<void(const std::string& id)> m_systemRemoved;
};

} // namespace glowcast
