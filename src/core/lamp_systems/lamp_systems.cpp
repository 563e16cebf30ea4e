#include "core/lamp_systems/lamp_systems.h"

#include "core/lamp_systems/system_address.h"
#include "core/lamps/lamp_shaping.h"
#include "core/lamps/sent_lamps.h"
#include "core/log_text.h"

#include <algorithm>
#include <cstdint>
#include <deque>
#include <utility>

namespace glowcast {
namespace {

using std::chrono::milliseconds;

constexpr int kLowestPace = 1;
constexpr int kHighestPace = 1000;
// An unreachable system is asked to read its lamps again at a cover, but not more often than this.
constexpr auto kRefreshInterval = std::chrono::minutes{1};
// A fade is given in tenths of a second.
constexpr milliseconds kFadeStep{100};

std::string countText(std::size_t count)
{
    return std::to_string(count) + (count == 1 ? " lamp state" : " lamp states");
}

} // namespace

// One system: its adapter, what it told, and its sender. The sender holds the newest cover's states
// and hands them to the adapter one send at a time, each due when the system's pace allows; an answer
// that does not come within the time-out makes the system unreachable and drops what still waits.
// While lamps are put back after a pause, a send first reads the lamps it colours for the first time,
// and the lamps read are put back through the same sender, one at a time.
class LampSystems::Entry final : public LampSystemListener {
public:
    Entry(LampSystems& owner, SystemRecord systemRecord, std::unique_ptr<LampSystem> systemAdapter)
        : m_owner(owner), record(std::move(systemRecord)), adapter(std::move(systemAdapter)),
          m_paceTimer(owner.m_timers.create()), m_answerTimer(owner.m_timers.create()),
          m_stepTimer(owner.m_timers.create())
    {
    }
    Entry(const Entry&) = delete;
    Entry& operator=(const Entry&) = delete;
    ~Entry() override { stop(); }

    LampSystems& m_owner;
    SystemRecord record;
    std::unique_ptr<LampSystem> adapter; // nothing for a kind this build cannot reach
    SystemState state = SystemState::Offline;
    std::string detail;
    std::vector<SystemLamp> lamps;
    std::optional<std::string> identity;
    // Each lamp's own state, read before its first state, in the order read; nothing when the read gave nothing.
    std::vector<std::pair<std::string, std::optional<ReadLampState>>> reads;

    void start()
    {
        if (!adapter)
            return;
        adapter->setListener(this);
        adapter->start();
    }

    void stop()
    {
        if (m_stopped)
            return;
        m_stopped = true;
        m_waiting.clear();
        m_putBack.clear();
        m_inFlight = false;
        m_paceTimer->cancel();
        m_answerTimer->cancel();
        m_stepTimer->cancel();
        if (adapter)
            adapter->stop();
    }

    // A newer cover's states replace whatever still waits; a lamp that shows its state already, or is
    // still fading, is passed over as the care settings say.
    void take(std::vector<LampStateCommand> commands, bool coverChanged)
    {
        if (m_stopped)
            return;
        m_waiting.clear();
        if (state == SystemState::Unreachable)
            refreshIfDue();
        if (commands.empty())
            return;
        if (state != SystemState::Ready) {
            m_owner.m_log.write(logLine("lamp system " + record.id + " is " + std::string{systemStateName(state)} +
                                        ": " + countText(commands.size()) + " dropped"));
            return;
        }
        const SteadyTime now = m_owner.m_clock.now();
        std::erase_if(commands, [&](const LampStateCommand& command) {
            const PassOver why =
                m_sent.passOver(command.key, command.state, coverChanged, m_owner.m_care.skipUnchanged, now);
            if (why != PassOver::No)
                m_owner.m_log.write(
                    logLine(passOverLine(why, lampIdOf(record.id, command.key), describe(command.state))));
            return why != PassOver::No;
        });
        if (commands.empty())
            return;
        m_putBack.clear(); // the lamps not yet put back keep their reads
        m_waiting.assign(std::make_move_iterator(commands.begin()), std::make_move_iterator(commands.end()));
        sendNext();
    }

    // Queues every lamp read to be put back and forgets those reads; the number queued.
    std::size_t putBack()
    {
        if (m_stopped || state != SystemState::Ready || !adapter)
            return 0;
        m_putBack.clear();
        for (auto read = reads.begin(); read != reads.end();) {
            if (read->second) {
                m_putBack.push_back(read->first);
                ++read;
                continue;
            }
            m_owner.m_log.write(
                logLine("lamp system " + record.id + " leaves lamp " + read->first + " as it is: it was not read"));
            read = reads.erase(read);
        }
        const std::size_t count = m_putBack.size();
        if (count > 0) {
            m_owner.m_log.write(logLine("lamp system " + record.id + " puts " + std::to_string(count) +
                                        (count == 1 ? " lamp back" : " lamps back")));
            sendNext();
        }
        return count;
    }

    void forgetReads()
    {
        reads.clear();
        m_putBack.clear();
    }

    void lampsRead(std::vector<SystemLamp> read) override
    {
        if (m_stopped || m_duplicate)
            return;
        lamps = std::move(read);
        becomes(SystemState::Ready, {});
        if (m_owner.onLampsChanged)
            m_owner.onLampsChanged();
    }

    void stateChanged(SystemState newState, std::string newDetail) override
    {
        if (m_stopped || m_duplicate)
            return;
        // A detail may quote a peer (a redirect's target, an error text): it reaches the window, the
        // bus and a terminal as the log would show it.
        becomes(newState, printable(newDetail));
    }

    void userObtained(std::string user) override
    {
        if (m_stopped || m_duplicate || record.user == user)
            return;
        record.user = std::move(user);
        if (m_owner.onSystemsChanged)
            m_owner.onSystemsChanged();
    }

    void identified(std::string newIdentity) override
    {
        if (m_stopped || m_duplicate)
            return;
        identity = std::move(newIdentity);
        const auto& entries = m_owner.m_entries;
        const auto self = std::ranges::find(entries, this, &std::unique_ptr<Entry>::get);
        const auto other = std::ranges::find_if(entries, [&](const auto& each) {
            return each.get() != this && !each->m_duplicate && each->identity == identity;
        });
        if (other == entries.end())
            return;
        // The system listed first keeps the device, whichever answered first: the same one at every start.
        if (other < self)
            refuseAsSameDeviceAs(**other);
        else
            (*other)->refuseAsSameDeviceAs(*this);
    }

private:
    void refuseAsSameDeviceAs(const Entry& kept)
    {
        m_duplicate = true;
        const std::string same =
            std::string{record.kind == SystemKind::Bridge ? "the same bridge as " : "the same device as "} +
            kept.record.id;
        m_owner.m_log.write(logLine("lamp system " + record.id + " is " + same + ", not used"));
        becomes(SystemState::Refused, same);
        lamps.clear();
        // Not stopped from inside a call of its own: the adapter may still be working through it.
        m_paceTimer->start(milliseconds{0}, [this] { stop(); });
        if (m_owner.onLampsChanged)
            m_owner.onLampsChanged();
    }

    void becomes(SystemState newState, std::string newDetail)
    {
        if (newState == state && newDetail == detail)
            return;
        if (state == SystemState::Unreachable && newState == SystemState::Ready)
            m_owner.m_log.write(logLine("lamp system " + record.id + " answers again"));
        state = newState;
        detail = std::move(newDetail);
        if (state != SystemState::Ready) {
            m_waiting.clear();
            m_putBack.clear();
            m_paceTimer->cancel();
        }
        if (m_owner.onSystemsChanged)
            m_owner.onSystemsChanged();
    }

    // The system's own pace when one is set; else its kind's, capped by the pace setting.
    [[nodiscard]] std::chrono::nanoseconds interval() const
    {
        const int kindPace = std::min(defaultPace(record.kind), m_owner.m_care.pace.value_or(defaultPace(record.kind)));
        return std::chrono::nanoseconds{std::chrono::seconds{1}} / std::max(record.pace.value_or(kindPace), 1);
    }

    void sendNext()
    {
        if (m_stopped || m_inFlight || (m_waiting.empty() && m_putBack.empty()) || !adapter)
            return;
        const SteadyTime now = m_owner.m_clock.now();
        if (m_nextDue > now) {
            m_paceTimer->start(std::chrono::ceil<milliseconds>(m_nextDue - now), [this] { sendNext(); });
            return;
        }
        if (m_waiting.empty()) {
            putBackNext(now);
            return;
        }
        const std::size_t count = std::clamp<std::size_t>(adapter->batchLimit(), 1, m_waiting.size());
        std::vector<LampStateCommand> batch(std::make_move_iterator(m_waiting.begin()),
                                            std::make_move_iterator(m_waiting.begin() + static_cast<long>(count)));
        m_waiting.erase(m_waiting.begin(), m_waiting.begin() + static_cast<long>(count));
        m_inFlight = true;
        const std::uint64_t number = ++m_sendNumber;
        m_nextDue = now + interval() * static_cast<long>(count);
        m_answerTimer->start(m_owner.m_answerTimeout,
                             [this, number] { answered(number, {}, SendResult::NoAnswer, true); });
        std::vector<std::string> unread;
        for (const LampStateCommand& command : batch)
            if (m_owner.restoring() &&
                std::ranges::find(reads, command.key, &decltype(reads)::value_type::first) == reads.end() &&
                std::ranges::find(unread, command.key) == unread.end())
                unread.push_back(command.key);
        if (unread.empty()) {
            adapter->send(batch, [this, number, batch](SendResult result) { answered(number, batch, result); });
            return;
        }
        m_readsLeft = unread.size();
        for (const std::string& key : unread)
            adapter->readState(key, [this, number, key, batch](std::optional<ReadLampState> read) {
                readAnswered(number, key, std::move(read), batch);
            });
    }

    // The batch goes out once every lamp it colours for the first time was read, from the timer (never
    // from inside the adapter's own answer), with a time-out of its own.
    void readAnswered(std::uint64_t number, const std::string& key, std::optional<ReadLampState> read,
                      const std::vector<LampStateCommand>& batch)
    {
        if (m_stopped || !m_inFlight || number != m_sendNumber)
            return;
        if (m_owner.restoring())
            reads.emplace_back(key, std::move(read));
        if (--m_readsLeft > 0)
            return;
        m_stepTimer->start(milliseconds{0}, [this, number, batch] {
            if (m_stopped || !m_inFlight || number != m_sendNumber)
                return;
            m_answerTimer->start(m_owner.m_answerTimeout,
                                 [this, number] { answered(number, {}, SendResult::NoAnswer, true); });
            adapter->send(batch, [this, number, batch](SendResult result) { answered(number, batch, result); });
        });
    }

    void putBackNext(SteadyTime now)
    {
        const std::string key = m_putBack.front();
        m_putBack.pop_front();
        const auto read = std::ranges::find(reads, key, &decltype(reads)::value_type::first);
        if (read == reads.end() || !read->second) {
            sendNext();
            return;
        }
        const ReadLampState asRead = *read->second;
        reads.erase(read);
        m_sent.forget(key); // once put back it shows what it showed before
        m_inFlight = true;
        const std::uint64_t number = ++m_sendNumber;
        m_nextDue = now + interval();
        m_answerTimer->start(m_owner.m_answerTimeout,
                             [this, number] { answered(number, {}, SendResult::NoAnswer, true); });
        adapter->restore(key, asRead, [this, number, key](SendResult result) {
            if (result == SendResult::Refused && !m_stopped && m_inFlight && number == m_sendNumber)
                m_owner.m_log.write(logLine("lamp system " + record.id + " refused to put lamp " + key + " back"));
            // Its answer paces the next one as a send's does; nothing of it is shown in the table.
            answered(number, {}, result == SendResult::Refused ? SendResult::Delivered : result);
        });
    }

    void answered(std::uint64_t number, const std::vector<LampStateCommand>& batch, SendResult result,
                  bool timedOut = false)
    {
        // An answer after its time-out, or after a newer send, is no longer awaited.
        if (m_stopped || !m_inFlight || number != m_sendNumber)
            return;
        m_inFlight = false;
        m_answerTimer->cancel();
        switch (result) {
        case SendResult::Delivered:
            for (const LampStateCommand& command : batch) {
                rememberSent(command, true);
                if (m_owner.onLampSent)
                    m_owner.onLampSent(lampIdOf(record.id, command.key), command.state);
            }
            break;
        case SendResult::Refused:
            for (const LampStateCommand& command : batch) {
                rememberSent(command, false);
                m_owner.m_log.write(logLine("lamp system " + record.id + " refused the state of lamp " + command.key));
            }
            break;
        case SendResult::NoAnswer:
            // Whether the lamps took what went unanswered is not known: none counts as showing anything.
            m_sent.clear();
            if (state == SystemState::Ready)
                becomesUnreachable(timedOut
                                       ? "no answer within " + std::to_string(m_owner.m_answerTimeout.count()) + " ms"
                                       : "no answer");
            return;
        }
        // The next send goes out from the timer, never from inside the adapter's own answer.
        if (!m_waiting.empty() || !m_putBack.empty()) {
            const SteadyTime now = m_owner.m_clock.now();
            m_paceTimer->start(m_nextDue > now ? std::chrono::ceil<milliseconds>(m_nextDue - now) : milliseconds{0},
                               [this] { sendNext(); });
        }
    }

    void rememberSent(const LampStateCommand& command, bool accepted)
    {
        const std::chrono::milliseconds fade = kFadeStep * command.state.fadeTenths.value_or(0);
        m_sent.sent(command.key, command.state, m_owner.m_clock.now(), fade, accepted);
    }

    void becomesUnreachable(std::string why)
    {
        const std::size_t dropped = m_waiting.size();
        m_waiting.clear();
        m_putBack.clear();
        m_paceTimer->cancel();
        // It was just asked: the next cover need not ask it to read its lamps again for a minute.
        m_lastRefresh = m_owner.m_clock.now();
        std::string line = "lamp system " + record.id + " is unreachable: " + why;
        if (dropped > 0)
            line += ", " + countText(dropped) + " dropped";
        m_owner.m_log.write(logLine(line));
        becomes(SystemState::Unreachable, std::move(why));
    }

    void refreshIfDue()
    {
        const SteadyTime now = m_owner.m_clock.now();
        if (!adapter || (m_lastRefresh && now - *m_lastRefresh < kRefreshInterval))
            return;
        m_lastRefresh = now;
        adapter->refresh();
    }

    std::unique_ptr<Timer> m_paceTimer;
    std::unique_ptr<Timer> m_answerTimer;
    std::unique_ptr<Timer> m_stepTimer;
    SentLamps<LampState> m_sent;
    std::deque<LampStateCommand> m_waiting;
    std::deque<std::string> m_putBack; // keys of reads still to be put back
    std::size_t m_readsLeft = 0;
    bool m_inFlight = false;
    bool m_stopped = false;
    bool m_duplicate = false;
    std::uint64_t m_sendNumber = 0;
    SteadyTime m_nextDue{};
    std::optional<SteadyTime> m_lastRefresh;
};

LampSystems::LampSystems(LampSystemFactory& factory, Timers& timers, Clock& clock, Log& log,
                         std::chrono::milliseconds answerTimeout)
    : m_factory(factory), m_timers(timers), m_clock(clock), m_log(log), m_answerTimeout(answerTimeout)
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
        auto& entry = *m_entries.emplace_back(std::make_unique<Entry>(*this, record, std::move(adapter)));
        if (!reachable) {
            // Kept, so that saving the records loses nothing a fuller build could reach.
            entry.detail = "this build cannot reach " + std::string{systemKindName(record.kind)} + " systems";
            m_log.write(logLine("lamp system " + record.id + ": " + entry.detail));
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
    std::unique_ptr<LampSystem> adapter = m_factory.create(record);
    if (!adapter)
        return {Failure::InvalidValue, "this build cannot reach " + kind + " systems"};
    m_log.write(logLine("lamp system " + record.id + " added: " + kind + " " + record.address));
    auto& entry = *m_entries.emplace_back(std::make_unique<Entry>(*this, record, std::move(adapter)));
    entry.start();
    if (onSystemsChanged)
        onSystemsChanged();
    return {};
}

Outcome LampSystems::remove(std::string_view id)
{
    const auto at = std::ranges::find_if(m_entries, [&](const auto& entry) { return entry->record.id == id; });
    if (at == m_entries.end())
        return {Failure::InvalidValue, "no lamp system " + logLine(id)};
    // Stopped before it is forgotten: no answer of its adapter can come after this.
    std::unique_ptr<Entry> gone = std::move(*at);
    m_entries.erase(at);
    gone->stop();
    m_log.write(logLine("lamp system " + gone->record.id + " removed"));
    const bool hadLamps = !gone->lamps.empty();
    gone.reset();
    if (hadLamps && onLampsChanged)
        onLampsChanged();
    if (onSystemsChanged)
        onSystemsChanged();
    return {};
}

Outcome LampSystems::restart(std::string_view id)
{
    const auto at = std::ranges::find_if(m_entries, [&](const auto& entry) { return entry->record.id == id; });
    if (at == m_entries.end())
        return {Failure::InvalidValue, "no lamp system " + logLine(id)};
    if (m_stopped)
        return {Failure::InvalidValue, "Glowcast is quitting"};
    // Stopped before the new one is made: no answer of the old adapter can come after this.
    (*at)->stop();
    const SystemRecord record = (*at)->record;
    const bool hadLamps = !(*at)->lamps.empty();
    auto reads = std::move((*at)->reads); // its lamps still show what they were sent
    *at = std::make_unique<Entry>(*this, record, m_factory.create(record));
    (*at)->reads = std::move(reads);
    m_log.write(logLine("lamp system " + record.id + " started anew"));
    (*at)->start();
    if (hadLamps && onLampsChanged)
        onLampsChanged();
    if (onSystemsChanged)
        onSystemsChanged();
    return {};
}

Outcome LampSystems::setPace(std::string_view id, std::optional<int> pace)
{
    Entry* entry = find(id);
    if (entry == nullptr)
        return {Failure::InvalidValue, "no lamp system " + logLine(id)};
    if (pace && (*pace < kLowestPace || *pace > kHighestPace))
        return {Failure::InvalidValue, "a pace is 1 to 1000 lamp states a second"};
    if (entry->record.pace == pace)
        return {};
    entry->record.pace = pace;
    if (onSystemsChanged)
        onSystemsChanged();
    return {};
}

std::vector<SystemRecord> LampSystems::records() const
{
    std::vector<SystemRecord> records;
    records.reserve(m_entries.size());
    for (const auto& entry : m_entries)
        records.push_back(entry->record);
    return records;
}

std::vector<SystemStatus> LampSystems::statuses() const
{
    std::vector<SystemStatus> statuses;
    statuses.reserve(m_entries.size());
    for (const auto& entry : m_entries)
        statuses.push_back({entry->record, entry->state, entry->detail, entry->lamps.size()});
    return statuses;
}

std::vector<SystemLampRow> LampSystems::lamps() const
{
    std::vector<SystemLampRow> rows;
    for (const auto& entry : m_entries)
        for (const SystemLamp& lamp : entry->lamps)
            rows.push_back({lampIdOf(entry->record.id, lamp.key), entry->record.id, lamp});
    return rows;
}

const SystemLamp* LampSystems::lamp(std::string_view id) const
{
    const auto split = splitLampId(id);
    if (!split)
        return nullptr;
    for (const auto& entry : m_entries)
        if (entry->record.id == split->system)
            for (const SystemLamp& lamp : entry->lamps)
                if (lamp.key == split->key)
                    return &lamp;
    return nullptr;
}

void LampSystems::send(const std::vector<std::pair<std::string, LampState>>& states, bool coverChanged)
{
    if (m_stopped)
        return;
    std::vector<std::vector<LampStateCommand>> bySystem(m_entries.size());
    for (const auto& [id, state] : states) {
        const auto split = splitLampId(id);
        if (!split)
            continue; // the first bridge's lamp: its own walk sends it
        for (std::size_t i = 0; i < m_entries.size(); ++i)
            if (m_entries[i]->record.id == split->system)
                bySystem[i].push_back({std::string{split->key}, state});
    }
    // Collected first: a system told its states may report back before the next one is told.
    for (std::size_t i = 0; i < m_entries.size() && i < bySystem.size(); ++i)
        m_entries[i]->take(std::move(bySystem[i]), coverChanged);
}

void LampSystems::setCare(const LampCareSettings& care)
{
    const bool wasRestoring = restoring();
    m_care = care;
    if (wasRestoring && !restoring())
        for (const auto& entry : m_entries)
            entry->forgetReads();
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

LampSystems::Entry* LampSystems::find(std::string_view id) const
{
    for (const auto& entry : m_entries)
        if (entry->record.id == id)
            return entry.get();
    return nullptr;
}

} // namespace glowcast
