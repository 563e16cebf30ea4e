#pragma once

#include "core/lamp_systems/lamp_systems.h"

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
// whose time comes fires then, in the order of its time (of its making, at the same time).
class FakeTimeline final : public Clock, public Timers {
public:
    [[nodiscard]] SteadyTime now() const override { return m_now; }
    [[nodiscard]] std::unique_ptr<Timer> create() override { return std::make_unique<OneTimer>(*this); }
    // Moves time on, firing what falls due on the way (at most 100,000 firings).
    void advance(std::chrono::milliseconds by)
    {
        const SteadyTime until = m_now + by;
        for (int fired = 0; fired < 100'000; ++fired) {
            const auto next =
                std::ranges::min_element(m_timers, {}, [](const OneTimer* timer) { return timer->m_due; });
            if (next == m_timers.end() || (*next)->m_due > until)
                break;
            m_now = (*next)->m_due;
            (*next)->m_due = SteadyTime::max();
            std::exchange((*next)->m_action, nullptr)();
        }
        m_now = until;
    }

private:
    struct OneTimer final : Timer {
        explicit OneTimer(FakeTimeline& timeline) : m_timeline(timeline) { timeline.m_timers.push_back(this); }
        ~OneTimer() override { std::erase(m_timeline.m_timers, this); }
        void start(std::chrono::milliseconds delay, std::function<void()> action) override
        {
            m_due = m_timeline.m_now + delay;
            m_action = std::move(action);
        }
        void cancel() override { m_due = SteadyTime::max(); }
        FakeTimeline& m_timeline;
        SteadyTime m_due = SteadyTime::max();
        std::function<void()> m_action;
    };
    SteadyTime m_now{};
    std::vector<OneTimer*> m_timers;
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
    // Each read answers with the lamp's entry here (nothing for a lamp without one), at once or, while
    // holdReads, when the test says so; each put-back is recorded and answered at once refused for the keys in
    // refusesRestore, else delivered.
    std::map<std::string, ReadLampState> lampStates;
    std::vector<std::string> readKeys;
    std::vector<LampStateCommand> putBacks; // the key and the state read's shown, with .switchOn = on
    bool holdReads = false;
    std::set<std::string> refusesRestore;
    std::vector<std::function<void()>> heldReads;
    void readState(const std::string& key, std::function<void(std::optional<ReadLampState>)> done) override
    {
        readKeys.push_back(key);
        const auto state = lampStates.find(key);
        auto answer = [done, read = state == lampStates.end() ? std::nullopt : std::optional{state->second}] {
            done(read);
        };
        holdReads ? heldReads.push_back(answer) : answer();
    }
    void restore(const std::string& key, const ReadLampState& state, std::function<void(SendResult)> done) override
    {
        putBacks.push_back({key, state.shown});
        putBacks.back().state.switchOn = state.on;
        done(refusesRestore.contains(key) ? SendResult::Refused : SendResult::Delivered);
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
