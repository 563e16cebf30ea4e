#pragma once

#include "core/ports/player_events.h"

#include <string>

namespace glowcast {

// What following the media players comes to at the moment, for a one-line display and for anyone
// who asks which player Glowcast follows. With no player followed, busName is empty.
struct FollowerStatus {
    bool enabled = true;
    std::string busName;
    std::string identity;
    PlaybackStatus status = PlaybackStatus::Unknown;
    std::string title;
    std::string artUrl; // shortened for display: a data URI can hold megabytes
    friend bool operator==(const FollowerStatus&, const FollowerStatus&) = default;
};

// Shows the status; called whenever it changes. Never blocks.
class FollowerView {
public:
    virtual ~FollowerView() = default;
    virtual void showFollowed(const FollowerStatus& status) = 0;
};

} // namespace glowcast
