#pragma once

#include "core/lamp_systems/system_sender.h"
#include "core/lamps/lamp_care_settings.h"
#include "core/ports/clock.h"
#include "core/ports/log.h"
#include "core/ports/timer.h"
#include "core/text/outcome.h"

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace glowcast {

// Makes the adapter for a system record (the Qt side: a bridge over HTTP, zigbee2mqtt over MQTT...).
// Nothing for a kind this build cannot reach.
class LampSystemFactory {
public:
    virtual ~LampSystemFactory() = default;
    [[nodiscard]] virtual std::unique_ptr<LampSystem> create(const SystemRecord& record) = 0;
};

// How one system stands, for `glowcastctl systems`, Status and the window.
struct SystemStatus {
    SystemRecord record;
    SystemState state = SystemState::Offline;
    std::string detail;
    std::size_t lampCount = 0;
    std::optional<LatencyFigures> latency{}; // nothing before its first answered state
    friend bool operator==(const SystemStatus&, const SystemStatus&) = default;
};

// A lamp of some system, as the table shows it.
struct SystemLampRow {
    std::string id; // "SYSTEM/KEY"
    std::string systemId;
    SystemLamp lamp;
    friend bool operator==(const SystemLampRow&, const SystemLampRow&) = default;
};

// The lamp systems beside the first bridge, each with its adapter and its own sender: a cover's
// states go to every system at once, and each works through its own in order at its own pace, so a
// slow or absent system delays only its own lamps. A system that does not answer within its time-out
// is marked unreachable with one log line and passed over until it answers again. Everything runs on
// the main thread; nothing here blocks.
class LampSystems final : private SenderOwner {
public:
    // answerTimeout: how long a send may wait for its answer before the system counts as unreachable.
    LampSystems(LampSystemFactory& factory, Timers& timers, Clock& clock, Log& log,
                std::chrono::milliseconds answerTimeout = std::chrono::seconds{3});
    ~LampSystems() override;
    LampSystems(const LampSystems&) = delete;
    LampSystems& operator=(const LampSystems&) = delete;

    // The systems the preferences keep, started in their order; once, at start.
    void load(const std::vector<SystemRecord>& records);
    // A new system: refused (InvalidValue, with the sentence) for a bad id or address, an id taken,
    // or a kind this build cannot reach; else started and told through onSystemsChanged.
    [[nodiscard]] Outcome add(const SystemRecord& record);
    // Ends the system (what it was sending is dropped) and forgets its lamps; InvalidValue for an
    // unknown id.
    [[nodiscard]] Outcome remove(std::string_view id);
    // Ends the system's adapter and starts a new one made from its record, so that credentials stored
    // anew (a Home Assistant token) are read; its lamps are read again. InvalidValue for an unknown id.
    [[nodiscard]] Outcome restart(std::string_view id);
    // Pace 1..1000 lamp states a second, or nothing for the kind's default.
    [[nodiscard]] Outcome setPace(std::string_view id, std::optional<int> pace);
    // An offset of -200..2000 ms; InvalidValue for an unknown id or an offset out of range.
    [[nodiscard]] Outcome setOffset(std::string_view id, std::chrono::milliseconds offset);
    // A WLED system's sound sync port, 0..65535 (0: none); InvalidValue for an unknown id, another kind
    // or a port out of range.
    [[nodiscard]] Outcome setSyncPort(std::string_view id, int port);

    [[nodiscard]] std::vector<SystemRecord> records() const;
    [[nodiscard]] std::vector<SystemStatus> statuses() const;
    // Every lamp read, system by system in the systems' order, each system's lamps in its own order.
    [[nodiscard]] std::vector<SystemLampRow> lamps() const;
    [[nodiscard]] const SystemLamp* lamp(std::string_view id) const;

    // One cover's states, by table id ("SYSTEM/KEY"), in plan order: each system's sender drops what
    // it still holds of an older cover and starts on these at once. A lamp still fading to its state,
    // or fading while the cover is the one before (coverChanged false), or showing its state already
    // with skipUnchanged, is passed over with a log line.
    // changeIn: how long from now the lamps are to change, with a delay: each system's first state
    // waits until its latency before that, moved by its offset. Without it every system starts at once.
    void send(const std::vector<std::pair<std::string, LampState>>& states, bool coverChanged = true,
              std::optional<std::chrono::milliseconds> changeIn = std::nullopt);
    // One state of the beat's for a lamp of the system; see SystemSender::pulse. Nothing for an unknown id.
    void pulse(std::string_view systemId, LampStateCommand command);
    // The lamp care settings: "pace" caps each system's pace (a pace set for the system wins), and
    // "skipUnchanged" passes over a lamp sent the state it accepted last. While lamps are put back after
    // a pause ("restoreAfter"), each lamp's own state is read before the first state it is sent, and not
    // read again until it was put back; turning that off forgets what was read.
    void setCare(const LampCareSettings& care);
    // Puts every lamp read of every ready system back as it was read, at the system's pace, and forgets
    // those reads; a lamp whose read gave nothing is left as it is, with a log line. A system not ready
    // keeps its reads for the next time. A newer cover's states stop what still waits to be put back
    // (those lamps keep their reads). The number of lamps to be put back.
    std::size_t restore();
    // A quit was asked for: no state is sent from now on, every adapter stopped.
    void stop();

    // Told when a system's lamps were read, a system was added or removed (the table refills).
    std::function<void()> onLampsChanged;
    // Told when a system's state, pace or record changed (the preferences save the records).
    std::function<void()> onSystemsChanged;
    // Told of each state a lamp was sent, for the table's swatch.
    std::function<void(const std::string& id, const LampState& state)> onLampSent;

private:
    void lampsChanged() override;
    void systemsChanged() override;
    void lampSent(const std::string& id, const LampState& state) override;
    void identified(SystemSender& sender) override;
    [[nodiscard]] SystemSender* find(std::string_view id) const;
    // A system's setting changed to `value` unless `refusal` says why not (empty: it may): nothing is
    // done when the record holds the value already, and onSystemsChanged is told of a change.
    template <typename Value, typename Refusal>
    [[nodiscard]] Outcome changeSetting(std::string_view id, Value SystemRecord::*setting, Value value,
                                        Refusal refusal);

    LampSystemFactory& m_factory;
    Log& m_log;
    LampCareSettings m_care;
    SenderContext m_context;
    std::vector<std::unique_ptr<SystemSender>> m_entries;
    bool m_stopped = false;
};

} // namespace glowcast
