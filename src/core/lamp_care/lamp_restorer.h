#pragma once

#include "core/ports/clock.h"

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace glowcast {

// What the followed media player is doing; Gone when it quit.
enum class PlayerActivity { Playing, Paused, Stopped, Gone };

// A lamp to put back and the state that does it, in its system's own form.
template <typename State> struct LampRestore {
    std::string lampId;
    State state;
    friend bool operator==(const LampRestore&, const LampRestore&) = default;
};

// Which lamps to put back, with what, and when: the one rule every system follows. A session begins
// with a lamp's first state: the lamp's own state is read once and remembered before it. Once the
// player has not played for the delay, the restore is due: each lamp that was sent a state in the
// session is put back once, in the order they were first sent one, and the session ends. A lamp sent a
// state while a restore runs stops the restore; the lamps not yet put back keep what was remembered for
// them. State is the system's own form of a lamp's state (the first bridge's body, another system's
// ReadLampState).
template <typename State> class LampRestorer {
public:
    // Nothing turns restoring off and forgets the session.
    void setDelay(std::optional<std::chrono::seconds> delay)
    {
        if (delay == m_delay)
            return;
        m_delay = delay;
        m_session.clear();
        m_due.reset();
    }

    // Whether the lamp's own state must be read before it is sent one.
    [[nodiscard]] bool needsSnapshot(std::string_view lampId) const
    {
        return m_delay &&
               std::ranges::none_of(m_session, [lampId](const Entry& entry) { return entry.lampId == lampId; });
    }

    // The state that puts the lamp back; nothing when its own state could not be read, so it is
    // neither read again nor put back in this session.
    void remember(std::string_view lampId, std::optional<State> state)
    {
        if (needsSnapshot(lampId))
            m_session.push_back({std::string{lampId}, std::move(state)});
    }

    // The lamp was sent a state. While the player does not play, this starts the delay again.
    void coloured(std::string_view lampId, SteadyTime now)
    {
        const auto entry = std::ranges::find(m_session, lampId, &Entry::lampId);
        if (entry == m_session.end())
            return;
        entry->coloured = true;
        m_due.reset();
        if (!m_playing)
            startDelay(now);
    }

    void playerChanged(PlayerActivity activity, SteadyTime now)
    {
        m_playing = activity == PlayerActivity::Playing;
        if (m_playing)
            m_due.reset();
        else if (!m_due)
            startDelay(now);
    }

    [[nodiscard]] std::optional<SteadyTime> due() const { return m_due; }

    // The restore is due now, as another restorer decided: the lamps whose own state could not be
    // read leave the session (their next state reads them again), named; the others are put back.
    std::vector<std::string> startNow(SteadyTime now)
    {
        std::vector<std::string> unread;
        std::erase_if(m_session, [&unread](const Entry& entry) {
            if (entry.state)
                return false;
            unread.push_back(entry.lampId);
            return true;
        });
        if (m_delay && std::ranges::any_of(m_session, &Entry::coloured))
            m_due = now;
        return unread;
    }

    // How many lamps the restore puts back.
    [[nodiscard]] std::size_t toPutBack() const
    {
        return static_cast<std::size_t>(
            std::ranges::count_if(m_session, [](const Entry& entry) { return entry.coloured && entry.state; }));
    }

    // A running restore stops; the lamps not yet put back keep what was remembered for them.
    void halt() { m_due.reset(); }

    // The next lamp to put back once the restore is due; nothing before, and nothing once the
    // session is over.
    [[nodiscard]] std::optional<LampRestore<State>> takeNext(SteadyTime now)
    {
        if (!m_due || now < *m_due)
            return std::nullopt;
        while (!m_session.empty()) {
            Entry entry = std::move(m_session.front());
            m_session.erase(m_session.begin());
            if (entry.coloured && entry.state)
                return LampRestore<State>{std::move(entry.lampId), std::move(*entry.state)};
        }
        m_due.reset();
        return std::nullopt;
    }

private:
    struct Entry {
        std::string lampId;
        std::optional<State> state;
        bool coloured = false;
    };

    void startDelay(SteadyTime now)
    {
        if (m_delay && std::ranges::any_of(m_session, &Entry::coloured))
            m_due = now + *m_delay;
    }

    std::optional<std::chrono::seconds> m_delay;
    std::vector<Entry> m_session;
    bool m_playing = true;
    std::optional<SteadyTime> m_due;
};

} // namespace glowcast
