#pragma once

#include "lamp_entry.h"
#include "ports/log.h"
#include "ports/views.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace glowcast {

// One of the two shared on/off values of the lamp table's "enabled" column. The table's own check
// box shows the state of the cell it is given.
struct ButtonCell {
    int state = 0; // 1 on, 0 off
    std::string title;
    friend bool operator==(const ButtonCell&, const ButtonCell&) = default;
};

// What the lamp table shows in a cell: a shared on/off cell for "enabled", a text otherwise.
using TableObjectValue = std::variant<std::string, const ButtonCell*>;

// The lamps of the bridge's lamp list in its order, each with the user's choice, and the lamp table's
// data source over them. The table-style operation names are kept on purpose.
class LampCollection {
public:
    explicit LampCollection(Log& log) : m_log(log) {}

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

    // Both log their answer; an n with no enabled lamp gives nothing and no line.
    [[nodiscard]] std::int32_t enabledCount();
    [[nodiscard]] std::optional<std::string> getIDofNthEnabled(std::int32_t n);

    [[nodiscard]] std::int32_t numberOfRowsInTableView(const LampTableView& table) const;
    [[nodiscard]] TableObjectValue objectValueForTableColumn(const LampTableView& table, std::string_view column,
                                                             std::int32_t row) const;
    // Every call for the check box column flips the lamp, whatever value the table passes; every
    // call reloads the table.
    void setObjectValue(LampTableView& table, const TableObjectValue& value, std::string_view column, std::int64_t row);
    [[nodiscard]] const ButtonCell& yesCell() const { return m_yesCell; }
    [[nodiscard]] const ButtonCell& noCell() const { return m_noCell; }

    // Switches the lamp with the id on or off as a click on its check box does (the same log line,
    // the table, when given, reloaded); nothing when it already is. False when no lamp has the id.
    bool setLampEnabled(std::string_view id, bool enabled, LampTableView* table);

private:
    Log& m_log;
    ButtonCell m_yesCell{1, ""};
    ButtonCell m_noCell{0, ""};
    std::vector<LampEntry> m_entries;
    std::vector<LampEntry> m_asSetUp;
    bool m_filled = false;
};

// The lines enabledCount and getIDofNthEnabled write, for whoever tells a plan made from the
// collection in the same words.
[[nodiscard]] std::string enabledCountLine(std::int32_t count);
[[nodiscard]] std::string nthEnabledLine(std::string_view id);

} // namespace glowcast
