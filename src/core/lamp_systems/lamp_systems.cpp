#include "core/lamp_systems/lamp_systems.h"

#include "core/lamp_systems/system_address.h"
#include "core/lamp_systems/system_kinds.h"
#include "core/text/log_text.h"

#include <algorithm>
#include <utility>

namespace glowcast {
namespace {

constexpr int kLowestPace = 1;
constexpr int kHighestPace = 1000;
constexpr const char* kOffsetRange = "an offset is -200 to 2000 ms";
} // namespace

LampSystems::LampSystems(LampSystemFactory& factory, Timers& timers, Clock& clock, Log& log,
                         std::chrono::milliseconds answerTimeout)
    : m_factory(factory), m_log(log), m_context{*this, timers, clock, log, answerTimeout, m_care}
{
}

LampSystems::~LampSystems()
{
    stop();
}

void LampSystems::load(const std::vector<SystemRecord>& records)
{
    for (const SystemRecord& record : records) {
        if (!isSystemId(record.id) || find(record.id) != nullptr) {
            m_log.write(logLine("lamp system '" + record.id + "' skipped: its id is not usable or taken"));
            continue;
        }
        std::unique_ptr<LampSystem> adapter = m_factory.create(record);
        const bool reachable = adapter != nullptr;
        auto& entry = *m_entries.emplace_back(std::make_unique<SystemSender>(m_context, record, std::move(adapter)));
        if (!reachable) {
            // Kept, so that saving the records loses nothing a fuller build could reach.
            entry.setDetail("this build cannot reach " + std::string{systemKindName(record.kind)} + " systems");
            m_log.write(logLine("lamp system " + record.id + ": " + entry.detail()));
            continue;
        }
        entry.start();
    }
}

Outcome LampSystems::add(const SystemRecord& record)
{
    const std::string kind{systemKindName(record.kind)};
    if (m_stopped)
        return {Failure::InvalidValue, "Glowcast is quitting"};
    if (!isSystemId(record.id))
        return {Failure::InvalidValue,
                "'" + logLine(record.id) + "' is not a system id: letters, digits, '-' and '_', at most 32"};
    if (find(record.id) != nullptr)
        return {Failure::InvalidValue, "there is already a lamp system " + record.id};
    if (Outcome address = checkSystemAddress(record.kind, record.address); !address.ok())
        return address;
    if (record.kind == SystemKind::Zigbee2Mqtt && record.user)
        if (Outcome user = checkBrokerUser(*record.user); !user.ok())
            return user;
    if (record.pace && (*record.pace < kLowestPace || *record.pace > kHighestPace))
        return {Failure::InvalidValue, "a pace is 1 to 1000 lamp states a second"};
    if (!isSystemOffset(record.offset))
        return {Failure::InvalidValue, kOffsetRange};
    if (!isSyncPort(record.syncPort))
        return {Failure::InvalidValue, std::string{kSyncPortRange}};
    std::unique_ptr<LampSystem> adapter = m_factory.create(record);
    if (!adapter)
        return {Failure::InvalidValue, "this build cannot reach " + kind + " systems"};
    m_log.write(logLine("lamp system " + record.id + " added: " + kind + " " + record.address));
    auto& entry = *m_entries.emplace_back(std::make_unique<SystemSender>(m_context, record, std::move(adapter)));
    entry.start();
    if (onSystemsChanged)
        onSystemsChanged();
    return {};
}

Outcome LampSystems::remove(std::string_view id)
{
    const auto at = std::ranges::find_if(m_entries, [&](const auto& entry) { return entry->record().id == id; });
    if (at == m_entries.end())
        return {Failure::InvalidValue, "no lamp system " + logLine(id)};
    // Stopped before it is forgotten: no answer of its adapter can come after this.
    std::unique_ptr<SystemSender> gone = std::move(*at);
    m_entries.erase(at);
    gone->stop();
    m_log.write(logLine("lamp system " + gone->record().id + " removed"));
    const bool hadLamps = !gone->lamps().empty();
    gone.reset();
    if (hadLamps && onLampsChanged)
        onLampsChanged();
    if (onSystemsChanged)
        onSystemsChanged();
    return {};
}

Outcome LampSystems::restart(std::string_view id)
{
    const auto at = std::ranges::find_if(m_entries, [&](const auto& entry) { return entry->record().id == id; });
    if (at == m_entries.end())
        return {Failure::InvalidValue, "no lamp system " + logLine(id)};
    if (m_stopped)
        return {Failure::InvalidValue, "Glowcast is quitting"};
    // Stopped before the new one is made: no answer of the old adapter can come after this.
    (*at)->stop();
    const SystemRecord record = (*at)->record();
    const bool hadLamps = !(*at)->lamps().empty();
    auto replaced = std::move(*at);
    *at = std::make_unique<SystemSender>(m_context, record, m_factory.create(record));
    (*at)->takeReadsOf(*replaced);
    m_log.write(logLine("lamp system " + record.id + " started anew"));
    (*at)->start();
    if (hadLamps && onLampsChanged)
        onLampsChanged();
    if (onSystemsChanged)
        onSystemsChanged();
    return {};
}

template <typename Value, typename Refusal>
Outcome LampSystems::changeSetting(std::string_view id, Value SystemRecord::*setting, Value value, Refusal refusal)
{
    SystemSender* entry = find(id);
    if (entry == nullptr)
        return {Failure::InvalidValue, "no lamp system " + logLine(id)};
    if (const std::string_view why = refusal(entry->record()); !why.empty())
        return {Failure::InvalidValue, std::string{why}};
    if (entry->record().*setting == value)
        return {};
    entry->setSetting(setting, std::move(value));
    if (onSystemsChanged)
        onSystemsChanged();
    return {};
}

Outcome LampSystems::setPace(std::string_view id, std::optional<int> pace)
{
    return changeSetting(id, &SystemRecord::pace, pace, [pace](const SystemRecord&) {
        return pace && (*pace < kLowestPace || *pace > kHighestPace) ? "a pace is 1 to 1000 lamp states a second"
                                                                     : std::string_view{};
    });
}

Outcome LampSystems::setOffset(std::string_view id, std::chrono::milliseconds offset)
{
    return changeSetting(id, &SystemRecord::offset, offset, [offset](const SystemRecord&) {
        return isSystemOffset(offset) ? std::string_view{} : std::string_view{kOffsetRange};
    });
}

void LampSystems::pulse(std::string_view systemId, LampStateCommand command)
{
    if (SystemSender* entry = find(systemId); entry != nullptr && !m_stopped)
        entry->pulse(std::move(command));
}

Outcome LampSystems::setSyncPort(std::string_view id, int port)
{
    return changeSetting(id, &SystemRecord::syncPort, port,
                         [port](const SystemRecord& record) { return syncPortRefusal(record, port); });
}

std::vector<SystemRecord> LampSystems::records() const
{
    std::vector<SystemRecord> records;
    records.reserve(m_entries.size());
    for (const auto& entry : m_entries)
        records.push_back(entry->record());
    return records;
}

std::vector<SystemStatus> LampSystems::statuses() const
{
    std::vector<SystemStatus> statuses;
    statuses.reserve(m_entries.size());
    for (const auto& entry : m_entries)
        statuses.push_back(
            {entry->record(), entry->state(), entry->detail(), entry->lamps().size(), entry->latency().figures()});
    return statuses;
}

std::vector<SystemLampRow> LampSystems::lamps() const
{
    std::vector<SystemLampRow> rows;
    for (const auto& entry : m_entries)
        for (const SystemLamp& lamp : entry->lamps())
            rows.push_back({lampIdOf(entry->record().id, lamp.key), entry->record().id, lamp});
    return rows;
}

const SystemLamp* LampSystems::lamp(std::string_view id) const
{
    const auto split = splitLampId(id);
    if (!split)
        return nullptr;
    for (const auto& entry : m_entries)
        if (entry->record().id == split->system)
            for (const SystemLamp& lamp : entry->lamps())
                if (lamp.key == split->key)
                    return &lamp;
    return nullptr;
}

void LampSystems::send(const std::vector<std::pair<std::string, LampState>>& states, bool coverChanged,
                       std::optional<std::chrono::milliseconds> changeIn)
{
    if (m_stopped)
        return;
    std::vector<std::vector<LampStateCommand>> bySystem(m_entries.size());
    for (const auto& [id, state] : states) {
        const auto split = splitLampId(id);
        if (!split)
            continue; // the first bridge's lamp: its own walk sends it
        for (std::size_t i = 0; i < m_entries.size(); ++i)
            if (m_entries[i]->record().id == split->system)
                bySystem[i].push_back({std::string{split->key}, state});
    }
    // Collected first: a system told its states may report back before the next one is told.
    for (std::size_t i = 0; i < m_entries.size() && i < bySystem.size(); ++i)
        m_entries[i]->take(std::move(bySystem[i]), coverChanged, changeIn);
}

void LampSystems::setCare(const LampCareSettings& care)
{
    m_care = care;
    for (const auto& entry : m_entries)
        entry->careChanged();
}

std::size_t LampSystems::restore()
{
    std::size_t count = 0;
    if (m_stopped)
        return count;
    for (const auto& entry : m_entries)
        count += entry->putBack();
    return count;
}

void LampSystems::stop()
{
    m_stopped = true;
    for (const auto& entry : m_entries)
        entry->stop();
}

void LampSystems::lampsChanged()
{
    if (onLampsChanged)
        onLampsChanged();
}

void LampSystems::systemsChanged()
{
    if (onSystemsChanged)
        onSystemsChanged();
}

void LampSystems::lampSent(const std::string& id, const LampState& state)
{
    if (onLampSent)
        onLampSent(id, state);
}

void LampSystems::identified(SystemSender& sender)
{
    const auto self = std::ranges::find(m_entries, &sender, &std::unique_ptr<SystemSender>::get);
    const auto other = std::ranges::find_if(m_entries, [&](const auto& each) {
        return each.get() != &sender && !each->duplicate() && each->identity() == sender.identity();
    });
    if (other == m_entries.end())
        return;
    // The system listed first keeps the device, whichever answered first: the same one at every start.
    if (other < self)
        sender.refuseAsSameDeviceAs(**other);
    else
        (*other)->refuseAsSameDeviceAs(sender);
}

SystemSender* LampSystems::find(std::string_view id) const
{
    for (const auto& entry : m_entries)
        if (entry->record().id == id)
            return entry.get();
    return nullptr;
}

} // namespace glowcast
