#pragma once

#include "core/lamp_systems/lamp_system.h"
#include "support/recording_log.h"
#include "support/waiting.h"

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace glowcast::testing {

// Records what a lamp system tells, in order, as "lamps 1,2,3" (the keys), "state pairing: DETAIL",
// "user NAME" or "id IDENTITY"; the lamps last read whole.
class RecordingListener final : public LampSystemListener {
public:
    std::vector<std::string> told;
    std::vector<SystemLamp> lamps;
    void lampsRead(std::vector<SystemLamp> read) override
    {
        std::string keys;
        for (const SystemLamp& lamp : read)
            keys += (keys.empty() ? "" : ",") + lamp.key;
        told.push_back("lamps " + keys);
        lamps = std::move(read);
    }
    void stateChanged(SystemState state, std::string detail) override
    {
        told.push_back("state " + std::string{systemStateName(state)} + ": " + detail);
    }
    void userObtained(std::string user) override { told.push_back("user " + user); }
    void identified(std::string identity) override { told.push_back("id " + identity); }
    // The state last told, as "state NAME: DETAIL"; empty when none was.
    [[nodiscard]] std::string lastState() const
    {
        for (auto line = told.rbegin(); line != told.rend(); ++line)
            if (line->starts_with("state "))
                return *line;
        return {};
    }
};

// A lamp system made from its log by MAKE and started, with a recording listener and a log of its own.
struct StartedSystem {
    template <typename Make> explicit StartedSystem(Make make) : system(make(log))
    {
        system->setListener(&listener);
        system->start();
    }
    StartedSystem(StartedSystem&&) = delete; // the system holds the listener's address
    bool waitForTold(std::size_t count)
    {
        return waitFor([&] { return listener.told.size() >= count; }, 10'000);
    }
    RecordingLog log;
    RecordingListener listener;
    std::unique_ptr<LampSystem> system;
};

// The answer a lamp system gives through its callback, waited for: nothing when none came within ten
// seconds, or when it came inside the call (a system never answers there).
template <typename T, typename Ask> std::optional<T> answerOf(Ask ask)
{
    std::optional<T> answer;
    ask([&](T told) { answer = std::move(told); });
    if (answer) // told inside the call
        return std::nullopt;
    waitFor([&] { return answer.has_value(); }, 10'000);
    return answer;
}
inline std::optional<SendResult> sent(LampSystem& system, std::vector<LampStateCommand> commands)
{
    return answerOf<SendResult>([&](auto done) { system.send(std::move(commands), std::move(done)); });
}
inline std::optional<std::optional<ReadLampState>> readOf(LampSystem& system, const std::string& key)
{
    return answerOf<std::optional<ReadLampState>>([&](auto done) { system.readState(key, std::move(done)); });
}
inline std::optional<SendResult> restored(LampSystem& system, const std::string& key, const ReadLampState& state)
{
    return answerOf<SendResult>([&](auto done) { system.restore(key, state, std::move(done)); });
}

} // namespace glowcast::testing
