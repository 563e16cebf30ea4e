#pragma once

#include "core/lamps/lamp_entry.h"
#include "core/lamps/system_record.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace glowcast {

// A settings value: a text, a flag, a list of texts or a whole number.
using SettingValue = std::variant<std::string, bool, std::vector<std::string>, std::int64_t>;

// What the preferences hold under a settings key: nothing, a value of one of the four kinds, or
// something else, described for the log ("a number with a fraction", "a list with a member that is
// not a text").
struct StoredSetting {
    std::optional<SettingValue> value;
    std::string otherKind; // empty unless something of another kind is stored
    friend bool operator==(const StoredSetting&, const StoredSetting&) = default;
};

// Makes the selection to store from the saved one as it is at that moment (nothing when none is).
using LampsEdit = std::function<std::vector<LampEntry>(std::optional<std::vector<LampEntry>> saved)>;
// Makes the lamp systems to store from the stored ones.
using SystemsEdit = std::function<std::vector<SystemRecord>(std::vector<SystemRecord> stored)>;

// The user's lasting preferences: the texts "username" and "lastusedbridgeIP", and the lamp
// selection "lamps". Reads return nothing for an absent value; a read may pick up what another
// program wrote, or set aside a store it cannot read, so it is not const. Writes take effect for
// later reads at once; an implementation may persist them whenever it likes, but never loses one it
// accepted.
class Preferences {
public:
    virtual ~Preferences() = default;
    [[nodiscard]] virtual std::optional<std::string> text(std::string_view key) = 0;
    // Nothing removes the stored value.
    virtual void setText(std::string_view key, std::optional<std::string> value) = 0;
    // The saved selection in its stored order; a record stored without "enabled" reads as disabled.
    [[nodiscard]] virtual std::optional<std::vector<LampEntry>> lamps() = 0;
    virtual void setLamps(const std::vector<LampEntry>& lamps) = 0;

    // The settings keys. Writing one leaves every other key as it is, including keys this program
    // does not know; nothing removes the key.
    [[nodiscard]] virtual StoredSetting setting(std::string_view key) = 0;
    // False when it could not be stored lastingly (a full disk, a read-only directory): then nothing
    // changed, for later reads either.
    [[nodiscard]] virtual bool setSetting(std::string_view key, std::optional<SettingValue> value) = 0;
    // Reads the saved selection and stores what edit makes of it, with no other writer in between,
    // another program included. Blocks while another writer finishes. False as for setSetting.
    [[nodiscard]] virtual bool updateLamps(const LampsEdit& edit) = 0;

    // The lamp systems beside the first bridge, in their stored order; none when none are stored (the
    // first bridge alone). A stored record that is not usable is left out here and kept in the store.
    [[nodiscard]] virtual std::vector<SystemRecord> systems() = 0;
    // Reads the stored systems and stores what edit makes of them, as updateLamps does. What the store
    // holds of a system beyond its record is kept with it; a system edit leaves out is removed.
    [[nodiscard]] virtual bool updateSystems(const SystemsEdit& edit) = 0;
};

} // namespace glowcast
