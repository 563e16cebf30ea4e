#include "core/lamp_systems/lamp_system.h"

namespace glowcast {

std::string_view systemStateName(SystemState state)
{
    switch (state) {
    case SystemState::Ready:
        return "ready";
    case SystemState::Pairing:
        return "pairing";
    case SystemState::Unreachable:
        return "unreachable";
    case SystemState::Refused:
        return "refused";
    case SystemState::Offline:
        return "offline";
    }
    return "offline";
}

} // namespace glowcast
