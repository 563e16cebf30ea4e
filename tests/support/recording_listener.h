#pragma once

#include "core/lamp_systems/lamp_system.h"

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
};

} // namespace glowcast::testing
