#pragma once

#include "../lamp_entry.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace glowcast {

// The user's lasting preferences: the texts "username" and "lastusedbridgeIP", and the lamp
// selection "lamps". Reads return nothing for an absent value. Writes take effect for later reads
// at once; an implementation may persist them whenever it likes, but never loses one it accepted.
class Preferences {
public:
    virtual ~Preferences() = default;
    [[nodiscard]] virtual std::optional<std::string> text(std::string_view key) const = 0;
    // Nothing removes the stored value.
    virtual void setText(std::string_view key, std::optional<std::string> value) = 0;
    // The saved selection in its stored order; a record stored without "enabled" reads as disabled.
    [[nodiscard]] virtual std::optional<std::vector<LampEntry>> lamps() const = 0;
    virtual void setLamps(const std::vector<LampEntry>& lamps) = 0;
};

}  // namespace glowcast
