#pragma once

#include <string>

namespace glowcast {

// One row of the lamp collection: the bridge's id and name for a lamp, and whether the lamp
// follows the cover. The saved selection uses the same record.
struct LampEntry {
    std::string id;
    std::string name;
    bool enabled = false;
    friend bool operator==(const LampEntry&, const LampEntry&) = default;
};

} // namespace glowcast
