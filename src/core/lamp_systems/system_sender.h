#pragma once

#include "core/lamp_care/lamp_pacer.h"
#include "core/lamp_care/lamp_restorer.h"
#include "core/lamp_care/latency_record.h"
#include "core/lamp_care/send_schedule.h"
#include "core/lamp_care/sent_lamps.h"
#include "core/lamp_systems/lamp_system.h"
#include "core/lamps/lamp_care_settings.h"
#include "core/ports/clock.h"
#include "core/ports/log.h"
#include "core/ports/timer.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace glowcast {

class SystemSender;

// What a system's sender tells the collection that holds it; every call on the main thread.
class SenderOwner {
public:
    virtual ~SenderOwner() = default;
    // The system's lamps were read, or it lost them.
    virtual void lampsChanged() = 0;
    // The system's state, detail or record changed.
    virtual void systemsChanged() = 0;
    virtual void lampSent(const std::string& id, const LampState& state) = 0;
    // The system's device told its identity: a second system of the same device is refused.
    virtual void identified(SystemSender& sender) = 0;
};

// What every sender shares: its owner, time, the log, how long an answer may take, the care settings.
struct SenderContext {
    SenderOwner& owner;
    Timers& timers;
    Clock& clock;
    Log& log;
    std::chrono::milliseconds answerTimeout;
    const LampCareSettings& care;
};

// One lamp system: its adapter, what it told, and its sender. The sender holds the newest cover's states
// and hands them to the adapter one send at a time, each due when the system's pace allows; an answer
// that does not come within the time-out makes the system unreachable and drops what still waits.
// While lamps are put back after a pause, a send first reads the lamps it colours for the first time,
// and the lamps read are put back through the same sender, one at a time: the pacer and the restorer
// are the ones the first bridge uses. It relies on the adapter's
// promise that each answer comes at most once and never after stop().
class SystemSender final : public LampSystemListener {
public:
    // adapter: nothing for a kind this build cannot reach.
    SystemSender(const SenderContext& context, SystemRecord record, std::unique_ptr<LampSystem> adapter);
    SystemSender(const SystemSender&) = delete;
    SystemSender& operator=(const SystemSender&) = delete;
    ~SystemSender() override;

    void start();
    // Ends the adapter; what waits is dropped and no answer is taken from now on.
    void stop();

    // A newer cover's states replace whatever still waits; a lamp that shows its state already, or is
    // still fading, is passed over as the care settings say. changeIn: how long from now the lamps are
    // to change (the delay); the first state waits until the system's latency before that, moved by
    // its offset. Without it the states go out at once.
    void take(std::vector<LampStateCommand> commands, bool coverChanged,
              std::optional<std::chrono::milliseconds> changeIn = std::nullopt);
    // A state of the beat's for one lamp: it goes when no cover's state and no put-back waits, at the
    // system's pace, told to nobody and without a log line, however it fares. A newer one for the lamp
    // replaces one still waiting; a cover's states drop them all.
    void pulse(LampStateCommand command);
    // Starts putting back every lamp read, at the system's pace; the number to be put back.
    std::size_t putBack();
    // The care settings changed: turning the restore off, or another delay, forgets what was read.
    void careChanged() { m_restorer.setDelay(m_context.care.restoreAfter); }
    // Takes the reads of the sender this one replaces: its lamps still show what they were sent.
    void takeReadsOf(SystemSender& replaced) { m_restorer = std::move(replaced.m_restorer); }

    [[nodiscard]] const SystemRecord& record() const { return m_record; }
    // How long the system took to answer its last states: from handing a state's request to the adapter
    // (after pacing, and after the reads before it) to its delivered answer. Put-backs, refusals and
    // unconfirmed answers are no samples.
    [[nodiscard]] const LatencyRecord& latency() const { return m_latency; }
    // One of the record's settings (pace, offset, sync port) set to a value already checked.
    template <typename Value> void setSetting(Value SystemRecord::*setting, Value value)
    {
        m_record.*setting = std::move(value);
    }
    [[nodiscard]] SystemState state() const { return m_state; }
    [[nodiscard]] const std::string& detail() const { return m_detail; }
    // Why an adapter-less system sends nothing.
    void setDetail(std::string detail) { m_detail = std::move(detail); }
    [[nodiscard]] const std::vector<SystemLamp>& lamps() const { return m_lamps; }
    [[nodiscard]] const std::optional<std::string>& identity() const { return m_identity; }
    // Refused as a second system of one device: it tells nothing from now on.
    [[nodiscard]] bool duplicate() const { return m_duplicate; }
    void refuseAsSameDeviceAs(const SystemSender& kept);

    void lampsRead(std::vector<SystemLamp> read) override;
    void stateChanged(SystemState newState, std::string newDetail) override;
    void userObtained(std::string user) override;
    void identified(std::string newIdentity) override;

private:
    void becomes(SystemState newState, std::string newDetail);
    // The system's own pace when one is set; else its kind's, capped by the pace setting.
    [[nodiscard]] int pace() const;
    void sendNext();
    void readAnswered(std::uint64_t number, const std::string& key, std::optional<ReadLampState> read,
                      const std::vector<LampStateCommand>& batch);
    void putBackNext(SteadyTime now);
    void answered(std::uint64_t number, const std::vector<LampStateCommand>& batch, SendResult result,
                  bool timedOut = false, bool pulses = false);
    void sendPulses(SteadyTime now);
    void rememberSent(const LampStateCommand& command, bool accepted);
    void becomesUnreachable(std::string why);
    void refreshIfDue();
    void startAnswerTimer(std::uint64_t number);
    void handOver(std::uint64_t number, const std::vector<LampStateCommand>& batch);
    // Holds what waits until the planned time of its first state, when that is still to come.
    void holdUntilPlanned(std::chrono::milliseconds changeIn);

    SenderContext m_context;
    SystemRecord m_record;
    std::unique_ptr<LampSystem> m_adapter;
    SystemState m_state = SystemState::Offline;
    std::string m_detail;
    std::vector<SystemLamp> m_lamps;
    std::optional<std::string> m_identity;
    std::unique_ptr<Timer> m_paceTimer;
    std::unique_ptr<Timer> m_answerTimer;
    std::unique_ptr<Timer> m_stepTimer;
    std::unique_ptr<Timer> m_delayTimer;
    bool m_held = false; // the cover's states wait for their planned time
    LateNotice m_lateNotice;
    SentLamps<LampState> m_sent;
    std::deque<LampStateCommand> m_waiting;
    std::vector<LampStateCommand> m_pulses;
    std::size_t m_readsLeft = 0;
    bool m_inFlight = false;
    bool m_stopped = false;
    bool m_duplicate = false;
    std::uint64_t m_sendNumber = 0;
    LampPacer m_pacer;
    LampRestorer<ReadLampState> m_restorer;
    std::optional<SteadyTime> m_lastRefresh;
    SteadyTime m_handedAt{};
    LatencyRecord m_latency;
};

} // namespace glowcast
