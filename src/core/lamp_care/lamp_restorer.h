#pragma once

#include "core/ports/clock.h"
#include "core/ports/log.h"
#include "core/value.h"

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace glowcast {

struct LampCommand {
    std::string lampId;
    Dictionary body;
    friend bool operator==(const LampCommand&, const LampCommand&) = default;
};

// What the followed media player is doing; Gone when it quit.
enum class PlayerActivity { Playing, Paused, Stopped, Gone };

// The body that puts a lamp back as its record (a lamp's record with "state", or the state itself)
// shows it: "on", "bri" and the colour in the lamp's own colour mode ("xy", "ct" or "hue" and
// "sat"). A lamp that was off gets its brightness and colour first and "on":false last. Fields
// that cannot be read are logged and left out; nothing when no field could be read.
[[nodiscard]] std::optional<Dictionary> restoreBodyFrom(std::string_view lampId, const Dictionary& record, Log& log);

// Which lamps to put back, with what, and when. A session begins with a lamp's first state: the
// lamp's own state is read once and remembered before it. Once the player has not played for the
// delay, the restore is due: each lamp that was sent a state in the session is put back once, in
// the order they were first sent one, and the session ends. A lamp sent a state while a restore
// runs stops the restore; the lamps not yet put back keep what was remembered for them.
class LampRestorer {
public:
    // Nothing turns restoring off and forgets the session.
    void setDelay(std::optional<std::chrono::seconds> delay);
    // Whether the lamp's own state must be read before it is sent one.
    [[nodiscard]] bool needsSnapshot(std::string_view lampId) const;
    // The body that puts the lamp back; nothing when its state could not be read, so it is neither
    // read again nor put back in this session.
    void remember(std::string_view lampId, std::optional<Dictionary> restoreBody);
    // The lamp was sent a state (the bridge replied). While the player does not play, this starts
    // the delay again.
    void coloured(std::string_view lampId, SteadyTime now);
    void playerChanged(PlayerActivity activity, SteadyTime now);
    [[nodiscard]] std::optional<SteadyTime> due() const { return m_due; }
    // The next lamp to put back once the restore is due; nothing before, and nothing once the
    // session is over.
    [[nodiscard]] std::optional<LampCommand> takeNext(SteadyTime now);

private:
    struct Entry {
        std::string lampId;
        std::optional<Dictionary> body;
        bool coloured = false;
    };

    void startDelay(SteadyTime now);

    std::optional<std::chrono::seconds> m_delay;
    std::vector<Entry> m_session;
    bool m_playing = true;
    std::optional<SteadyTime> m_due;
};

} // namespace glowcast
