#pragma once

#include "core/lamp_systems/lamp_systems.h"
#include "core/ports/clock.h"
#include "core/ports/timer.h"

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace glowcast {

inline void PrintTo(const LampState& state, std::ostream* out)
{
    const Chromaticity xy = state.chromaticity.value_or(Chromaticity{-1, -1});
    *out << "{on " << state.switchOn << ", bri " << state.brightness.value_or(-1) << ", xy " << xy.x << "," << xy.y
         << ", mired " << state.mired.value_or(-1) << ", fade " << state.fadeTenths.value_or(-1) << "}";
}
inline void PrintTo(const LampStateCommand& command, std::ostream* out)
{
    *out << command.key << ": ";
    PrintTo(command.state, out);
}

// The clock and the direct timers of a test: time moves only when the test moves it, and each timer
// whose time comes fires then, in the order of its time.
class FakeTimeline final : public Clock, public Timers {
public:
    [[nodiscard]] SteadyTime now() const override { return m_now; }
    [[nodiscard]] std::unique_ptr<Timer> create() override
    {
        auto slot = std::make_shared<Slot>();
        m_slots.push_back(slot);
        return std::make_unique<SlotTimer>(m_now, std::move(slot));
    }
    // Moves time on, firing what falls due on the way (at most 100,000 firings).
    void advance(std::chrono::milliseconds by)
    {
        const SteadyTime until = m_now + by;
        for (int fired = 0; fired < 100'000; ++fired) {
            std::shared_ptr<Slot> next;
            for (const auto& weak : m_slots)
                if (auto slot = weak.lock();
                    slot && slot->due && *slot->due <= until && (!next || *slot->due < *next->due))
                    next = slot;
            if (!next)
                break;
            m_now = *next->due;
            std::exchange(*next, {}).action();
        }
        m_now = until;
    }

private:
    struct Slot {
        std::optional<SteadyTime> due;
        std::function<void()> action;
    };
    struct SlotTimer final : Timer {
        SlotTimer(const SteadyTime& now, std::shared_ptr<Slot> slot) : m_now(now), m_slot(std::move(slot)) {}
        void start(std::chrono::milliseconds delay, std::function<void()> action) override
        {
            *m_slot = {m_now + delay, std::move(action)};
        }
        void cancel() override { *m_slot = {}; }
        const SteadyTime& m_now;
        std::shared_ptr<Slot> m_slot;
    };
    SteadyTime m_now{};
    std::vector<std::weak_ptr<Slot>> m_slots;
};

// A lamp system that records what it is asked and answers when the test says so.
class FakeLampSystem final : public LampSystem {
public:
    struct Send {
        std::vector<LampStateCommand> commands;
        std::function<void(SendResult)> done;
    };
    std::vector<Send> sends;
    int refreshes = 0;
    int stops = 0;
    std::size_t batch = 1;
    std::function<void()> whenSent = [] {}; // told of each send as it is made

    void start() override {}
    void refresh() override { ++refreshes; }
    void send(std::vector<LampStateCommand> commands, std::function<void(SendResult)> done) override
    {
        sends.push_back({std::move(commands), std::move(done)});
        whenSent();
    }
    // Each read answers at once with the lamp's entry here (nothing for a lamp without one); each
    // put-back is recorded and answered at once as delivered.
    std::map<std::string, ReadLampState> lampStates;
    std::vector<std::string> readKeys;
    std::vector<LampStateCommand> putBacks; // the key and the state read's shown, with .switchOn = on
    void readState(const std::string& key, std::function<void(std::optional<ReadLampState>)> done) override
    {
        readKeys.push_back(key);
        const auto state = lampStates.find(key);
        done(state == lampStates.end() ? std::nullopt : std::optional{state->second});
    }
    void restore(const std::string& key, const ReadLampState& state, std::function<void(SendResult)> done) override
    {
        putBacks.push_back({key, state.shown});
        putBacks.back().state.switchOn = state.on;
        done(SendResult::Delivered);
    }
    void stop() override { ++stops; }
    [[nodiscard]] std::size_t batchLimit() const override { return batch; }

    [[nodiscard]] LampSystemListener& told() const { return *listener(); }
    // Answers every send still waiting for its answer.
    void answerAll(SendResult result)
    {
        for (Send& each : sends)
            if (auto done = std::exchange(each.done, nullptr))
                done(result);
    }
};

// Makes a FakeLampSystem for every kind but those it cannot reach; keeps a pointer to each by id.
class FakeLampSystemFactory final : public LampSystemFactory {
public:
    std::set<SystemKind> cannotReach;
    std::map<std::string, FakeLampSystem*> made;
    std::size_t batch = 1;
    [[nodiscard]] std::unique_ptr<LampSystem> create(const SystemRecord& record) override
    {
        if (cannotReach.contains(record.kind))
            return nullptr;
        auto system = std::make_unique<FakeLampSystem>();
        system->batch = batch;
        made[record.id] = system.get();
        return system;
    }
};

// Lamps "k1".."kN" of a colour kind, for a system's lamp list.
inline std::vector<SystemLamp> colourLamps(int count)
{
    std::vector<SystemLamp> lamps;
    for (int i = 1; i <= count; ++i)
        lamps.push_back({"k" + std::to_string(i), "Lamp " + std::to_string(i), {LampKind::Colour, {}, {}}, true});
    return lamps;
}

} // namespace glowcast
