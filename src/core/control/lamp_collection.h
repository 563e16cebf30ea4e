#pragma once

#include "core/lamps/lamp_entry.h"
#include "core/ports/log.h"
#include "core/ports/views.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace glowcast {

// What became of a lamp switch asked for by id.
enum class SwitchResult { Done, UnknownLamp, NotSaved };

// The lamps of the bridge's lamp list in its order, each with the user's choice. What shows them, when
// anything does, hears of every change.
class LampCollection {
public:
    explicit LampCollection(Log& log) : m_log(log) {}

    void setView(LampListView* view) { m_view = view; }

    // Empties the collection; what the last set-up built stays for the save at the end.
    void clear();
    // Takes the lamps a set-up read, each with its first saved choice; a lamp never saved is off.
    void fill(std::vector<LampEntry> lamps, const std::optional<std::vector<LampEntry>>& saved);
    // A set-up has filled the collection: only then does it say anything about the user's selection.
    [[nodiscard]] bool filled() const { return m_filled; }
    [[nodiscard]] const std::vector<LampEntry>& entries() const { return m_entries; }
    // The collection as the last set-up built it: what the save at the end compares with, so that a
    // change another program made to the saved selection meanwhile is kept.
    [[nodiscard]] const std::vector<LampEntry>& asSetUp() const { return m_asSetUp; }
    // The lamps as the log shows them: ({"id":..,"name":..,"enabled":..}, ...).
    [[nodiscard]] std::string description() const;

    // Logs its answer.
    [[nodiscard]] std::int32_t enabledCount();

    // Switches the lamp with the id on or off, with a log line; nothing when it already is. A switch
    // that keepSwitch cannot keep is taken back (with its own line) and is NotSaved.
    SwitchResult setLampEnabled(std::string_view id, bool enabled);
    // Asked after each switch whether it could be kept (saved); nothing keeps every switch.
    std::function<bool()> keepSwitch;
    // Lamps that come (placed before the row at, or last) and go (clamped to the rows there are).
    void insert(std::size_t at, std::vector<LampEntry> lamps);
    void erase(std::size_t first, std::size_t count);
    // Replaces the rows from the one at on (clamped) with the lamps: the other systems' lamps, which
    // follow the first bridge's. A lamp the last set-up did not build counts as built now with its
    // choice, for the save's merge.
    void replaceFrom(std::size_t at, std::vector<LampEntry> lamps);

private:
    // Every row at once, told to the view as one change.
    void replaceAll(std::vector<LampEntry> entries);

    Log& m_log;
    LampListView* m_view = nullptr;
    std::vector<LampEntry> m_entries;
    std::vector<LampEntry> m_asSetUp;
    bool m_filled = false;
};

// The lines enabledCount and getIDofNthEnabled write, for whoever tells a plan made from the
// collection in the same words.
[[nodiscard]] std::string enabledCountLine(std::int32_t count);
[[nodiscard]] std::string nthEnabledLine(std::string_view id);

} // namespace glowcast
