#include "core/control/remote_control.h"

#include "core/control/glowcast_controller.h"
#include "core/lamp_systems/system_address.h"
#include "core/text/log_text.h"

#include <algorithm>
#include <chrono>
#include <utility>

namespace glowcast {

namespace {

constexpr std::string_view kAddressKey = "lastusedbridgeIP";
constexpr std::string_view kPortalKey = "portal";
constexpr std::string_view kPinnedKey = "pinned";
constexpr std::string_view kAlbumModeKey = "albumMode";

} // namespace

RemoteControl::RemoteControl(GlowcastController& controller, BridgeBridge& bridge, Settings& settings,
                             Scheduler& scheduler, Log& log, std::optional<std::string> environmentPortal)
    : m_controller(controller), m_bridge(bridge), m_settings(settings), m_scheduler(scheduler), m_log(log),
      m_environmentPortal(std::move(environmentPortal))
{
    applyCoverSettings();
}

void RemoteControl::applyCoverSettings()
{
    m_controller.setAlbumMode(m_settings.flag(kAlbumModeKey));
    m_controller.setPinned(m_settings.flag(kPinnedKey));
}

Outcome RemoteControl::setPinned(bool pinned)
{
    return setSetting(kPinnedKey, pinned);
}

const std::vector<LampEntry>& RemoteControl::lamps() const
{
    return m_controller.collection();
}

void RemoteControl::pause()
{
    m_controller.setFollowing(false);
    if (m_followingObserver)
        m_followingObserver(false);
}

void RemoteControl::resume()
{
    m_controller.setFollowing(true);
    if (m_followingObserver)
        m_followingObserver(true);
}

std::optional<std::string> RemoteControl::portalHost() const
{
    return glowcast::portalHost(m_environmentPortal, m_settings);
}

Outcome RemoteControl::setLamp(std::string_view id, bool enabled)
{
    switch (m_controller.setLampEnabled(id, enabled)) {
    case SwitchResult::Done:
        return {};
    case SwitchResult::NotSaved:
        return {Failure::NotSaved, "the preferences file could not be written; lamp " + std::string{id} + " stays " +
                                       (enabled ? "off" : "on")};
    case SwitchResult::UnknownLamp:
        break;
    }
    if (!m_controller.listening() && m_controller.collection().empty())
        return {Failure::NoLampList, "Glowcast has not read the bridge's lamp list yet"};
    return {Failure::UnknownLamp, "there is no lamp with the id \"" + std::string{id} + "\""};
}

const std::optional<PaletteDocument>& RemoteControl::palette() const
{
    return m_controller.lastPalette();
}

ControlStatus RemoteControl::status() const
{
    ControlStatus status;
    status.listening = m_controller.listening();
    status.paired = m_bridge.getUsername().has_value();
    status.bridgeAddress = m_bridge.bridgeIP().value_or("");
    status.following = m_controller.following();
    status.pinned = m_controller.pinned();
    if (m_followedPlayer)
        status.followedPlayer = m_followedPlayer();
    status.lastColours = m_controller.lastColours();
    status.systems = systems();
    status.bridgeLatency = m_controller.bridgeLatency();
    status.beat = m_settings.text("beat");
    if (m_soundCapture)
        status.soundCapture = m_soundCapture();
    return status;
}

Outcome RemoteControl::setSetting(std::string_view key, const SettingValue& value)
{
    Outcome outcome = m_settings.set(key, value);
    if (outcome.ok() && (key == kPinnedKey || key == kAlbumModeKey))
        applyCoverSettings();
    if (outcome.ok() && m_settingObserver)
        m_settingObserver(key);
    if (!outcome.ok() || (key != kAddressKey && key != kPortalKey))
        return outcome;
    m_bridge.setPortalHost(portalHost());
    retrySetUpIfAbandoned();
    return outcome;
}

Outcome RemoteControl::setBridge(const std::string& address, const std::string& portal)
{
    // Both are checked before either is stored, so a bad portal leaves the address unchanged too.
    for (const auto& [key, value] : {std::pair{kAddressKey, address}, std::pair{kPortalKey, portal}})
        if (Outcome checked = checkSetting(*findSetting(key), value); !checked.ok())
            return checked;
    if (address.empty())
        return {Failure::InvalidValue, "the bridge's address is needed"};
    (void)m_settings.set(kPortalKey, portal);
    return setSetting(kAddressKey, address);
}

std::vector<SystemStatus> RemoteControl::systems() const
{
    return m_systems != nullptr ? m_systems->statuses() : std::vector<SystemStatus>{};
}

Outcome RemoteControl::addSystem(SystemRecord& record, std::string_view stagedSecrets)
{
    if (m_systems == nullptr || m_systemStore == nullptr)
        return {Failure::InvalidValue, "this Glowcast reaches no lamp systems beside its first bridge"};
    if (Outcome checked = checkSystemAddress(record.kind, record.address); !checked.ok())
        return checked;
    Outcome outcome;
    bool adopted = false;
    const bool stored = m_systemStore->updateSystems([&](std::vector<SystemRecord> saved) {
        if (record.id.empty()) {
            std::vector<SystemRecord> taken = m_systems->records();
            taken.insert(taken.end(), saved.begin(), saved.end());
            record.id = newSystemId(record.kind, taken);
        }
        // Secrets go only to an id no system has, so that they never replace another system's; for any
        // other id the systems refuse the addition.
        if (!stagedSecrets.empty() && isSystemId(record.id) && !hasSystem(record.id)) {
            const std::optional<std::string> error =
                m_adoptSecrets ? m_adoptSecrets(stagedSecrets, record.id) : "nothing here takes them";
            if (error) {
                outcome = {Failure::NotSaved, "the secrets of lamp system " + record.id +
                                                  " were not stored: " + logLine(*error) + "; it was not added"};
                return saved;
            }
            adopted = true;
        }
        outcome = m_systems->add(record);
        return outcome.ok() ? m_systems->records() : saved;
    });
    if (outcome.ok() && !stored) {
        (void)m_systems->remove(record.id);
        outcome = {Failure::NotSaved,
                   "the preferences file could not be written; lamp system " + record.id + " was not added"};
    }
    if (!outcome.ok() && adopted && m_systemRemoved)
        m_systemRemoved(record.id);
    return outcome;
}

template <typename Field>
Outcome RemoteControl::setAndStore(std::string_view id, Field SystemRecord::*field, Field value,
                                   Outcome (LampSystems::*set)(std::string_view, Field), const char* what)
{
    if (!hasSystem(id))
        return unknownSystem(id);
    Field before{};
    for (const SystemRecord& record : m_systems->records())
        if (record.id == id)
            before = record.*field;
    if (Outcome outcome = (m_systems->*set)(id, value); !outcome.ok())
        return outcome;
    if (storeSystems())
        return {};
    (void)(m_systems->*set)(id, before);
    return {Failure::NotSaved,
            "the preferences file could not be written; lamp system " + std::string{id} + " keeps its " + what};
}

Outcome RemoteControl::setSystemPace(std::string_view id, std::optional<int> pace)
{
    return setAndStore(id, &SystemRecord::pace, pace, &LampSystems::setPace, "pace");
}

Outcome RemoteControl::setSystemOffset(std::string_view id, std::chrono::milliseconds offset)
{
    return setAndStore(id, &SystemRecord::offset, offset, &LampSystems::setOffset, "offset");
}

Outcome RemoteControl::setSystemSyncPort(std::string_view id, int port)
{
    return setAndStore(id, &SystemRecord::syncPort, port, &LampSystems::setSyncPort, "sync port");
}

Outcome RemoteControl::reloadSystem(std::string_view id)
{
    if (!hasSystem(id))
        return unknownSystem(id);
    return m_systems->restart(id);
}

Outcome RemoteControl::removeSystem(std::string_view id)
{
    if (!hasSystem(id))
        return unknownSystem(id);
    // Stored first: the system ends, and its secrets go, only once the file no longer names it, so that
    // a restart never brings it back without them.
    if (!storeSystems([id](std::vector<SystemRecord>& records) {
            std::erase_if(records, [id](const SystemRecord& record) { return record.id == id; });
        }))
        return {Failure::NotSaved,
                "the preferences file could not be written; lamp system " + std::string{id} + " stays"};
    Outcome outcome = m_systems->remove(id);
    if (outcome.ok() && m_systemRemoved)
        m_systemRemoved(std::string{id});
    return outcome;
}

bool RemoteControl::storeSystems(const std::function<void(std::vector<SystemRecord>&)>& edit)
{
    return m_systemStore->updateSystems([&](const std::vector<SystemRecord>& /*saved*/) {
        std::vector<SystemRecord> records = m_systems->records();
        if (edit)
            edit(records);
        return records;
    });
}

bool RemoteControl::hasSystem(std::string_view id) const
{
    if (m_systems == nullptr)
        return false;
    const std::vector<SystemRecord> records = m_systems->records();
    return std::ranges::any_of(records, [&](const SystemRecord& record) { return record.id == id; });
}

Outcome RemoteControl::unknownSystem(std::string_view id)
{
    return {Failure::UnknownSystem, "there is no lamp system with the id \"" + logLine(id) + "\""};
}

void RemoteControl::retrySetUpIfAbandoned()
{
    // Before the first set-up has run, it will find the new values by itself; after one that read the
    // lamp list, the address only matters for the next start.
    if (!m_controller.attemptedSetUp() || m_controller.listening() || m_retryPending)
        return;
    m_retryPending = true;
    m_log.write("setting up again with the bridge address and portal given");
    // A separate operation, so the caller's answer does not wait for the set-up and its pairing.
    m_scheduler.schedule(std::chrono::milliseconds{0}, [this] {
        m_retryPending = false;
        if (m_controller.listening())
            return;
        m_bridge.forgetBridgeIP();
        m_controller.setUp();
    });
}

} // namespace glowcast
