#pragma once

#include "core/bridge/lamp_bridge.h"
#include "core/json/json_codec.h"
#include "core/lamps/lamp_care_settings.h"
#include "core/ports/clock.h"
#include "core/settings/settings.h"
#include "support/fake_platform.h"
#include "support/fake_preferences.h"
#include "support/recording_log.h"

#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace glowcast {

// Time that passes only when slept: the clock reads the sum of every sleep.
struct SleptTime final : Clock {
    ManualSleeper sleeper;
    SteadyTime now() const override { return SteadyTime{sleeper.slept}; }
};

// Records each request ("PUT 1 {body}", "GET 1") and the time it was made at, in ms; answers with
// the queued replies in order, then with an empty HTTP 200.
class FakeLampBridge final : public LampBridge {
public:
    explicit FakeLampBridge(const Clock& clock) : m_clock(clock) {}
    std::vector<std::string> calls;
    std::vector<long> sentAt;
    std::deque<std::optional<HttpReply>> replies;
    std::function<void()> whileAnswering = [] {}; // a test's clock may move on here

    std::optional<HttpReply> putLampState(std::string_view lampId, const Dictionary& body) override
    {
        return answer("PUT " + std::string{lampId} + " " + JSONFromDictionary(body));
    }
    std::optional<HttpReply> getLamp(std::string_view lampId) override { return answer("GET " + std::string{lampId}); }

private:
    std::optional<HttpReply> answer(std::string call)
    {
        calls.push_back(std::move(call));
        sentAt.push_back(
            std::chrono::duration_cast<std::chrono::milliseconds>(m_clock.now().time_since_epoch()).count());
        whileAnswering();
        if (replies.empty())
            return HttpReply{};
        auto next = std::move(replies.front());
        replies.pop_front();
        return next;
    }
    const Clock& m_clock;
};

// Settings as the preferences give them, e.g. settingsOf({{"fade", 5}}): whole numbers and flags.
inline LampCareSettings settingsOf(const Dictionary& stored)
{
    FakePreferences prefs;
    for (std::size_t i = 0; i < stored.size(); ++i) {
        const Value& value = stored.valueAt(i);
        if (const auto* number = std::get_if<std::int64_t>(&value.storage()))
            (void)prefs.setSetting(stored.keys()[i], SettingValue{*number});
        else if (const auto flag = value.asBool())
            (void)prefs.setSetting(stored.keys()[i], SettingValue{*flag});
    }
    RecordingLog log;
    return lampCareSettingsFrom(Settings{prefs, log});
}

} // namespace glowcast
