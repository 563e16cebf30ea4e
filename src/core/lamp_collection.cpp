#include "lamp_collection.h"

#include "value.h"

#include <algorithm>
#include <cstddef>
#include <utility>

namespace glowcast {

namespace {

constexpr std::string_view kEnabledColumn = "enabled";
constexpr std::string_view kNameColumn = "name";
constexpr std::size_t kInitialCapacity = 10;

[[nodiscard]] const LampEntry* findSaved(const std::optional<std::vector<LampEntry>>& saved, std::string_view id)
{
    if (!saved)
        return nullptr;
    for (const LampEntry& record : *saved)
        if (record.id == id)
            return &record;
    return nullptr;
}

} // namespace

void LampCollection::clear()
{
    m_entries.clear();
    m_entries.reserve(kInitialCapacity);
}

void LampCollection::fill(std::vector<LampEntry> lamps, const std::optional<std::vector<LampEntry>>& saved)
{
    std::vector<LampEntry> entries;
    entries.reserve(std::max(kInitialCapacity, lamps.size()));
    for (LampEntry& entry : lamps) {
        if (const LampEntry* record = findSaved(saved, entry.id))
            entry.enabled = record->enabled;
        entries.push_back(std::move(entry));
    }
    m_entries = std::move(entries);
    m_filled = true;
    m_asSetUp = m_entries;
}

std::string LampCollection::description() const
{
    std::string out = "(";
    for (std::size_t i = 0; i < m_entries.size(); ++i) {
        if (i > 0)
            out += ", ";
        out += describe(
            Dictionary{{"id", m_entries[i].id}, {"name", m_entries[i].name}, {"enabled", m_entries[i].enabled}});
    }
    out += ")";
    return out;
}

std::int32_t LampCollection::enabledCount()
{
    const auto count = static_cast<std::int32_t>(std::ranges::count_if(m_entries, &LampEntry::enabled));
    m_log.write(enabledCountLine(count));
    return count;
}

std::optional<std::string> LampCollection::getIDofNthEnabled(std::int32_t n)
{
    std::int32_t seen = 0;
    for (const LampEntry& entry : m_entries) {
        if (!entry.enabled)
            continue;
        if (seen == n) {
            m_log.write(nthEnabledLine(entry.id));
            return entry.id;
        }
        ++seen;
    }
    return std::nullopt;
}

std::int32_t LampCollection::numberOfRowsInTableView(const LampTableView& /*table*/) const
{
    return static_cast<std::int32_t>(m_entries.size());
}

TableObjectValue LampCollection::objectValueForTableColumn(const LampTableView& /*table*/, std::string_view column,
                                                           std::int32_t row) const
{
    if (row < 0 || static_cast<std::size_t>(row) >= m_entries.size())
        return std::string{};
    const LampEntry& entry = m_entries[static_cast<std::size_t>(row)];
    if (column == kEnabledColumn)
        return entry.enabled ? &m_yesCell : &m_noCell;
    if (column == kNameColumn)
        return entry.name;
    return std::string{};
}

void LampCollection::setObjectValue(LampTableView& table, const TableObjectValue& /*value*/, std::string_view column,
                                    std::int64_t row)
{
    if (column == kEnabledColumn && row >= 0 && static_cast<std::size_t>(row) < m_entries.size()) {
        LampEntry& entry = m_entries[static_cast<std::size_t>(row)];
        entry.enabled = !entry.enabled;
        m_log.write(entry.enabled ? "setting enabled" : "unsetting enabled");
    }
    table.reloadData();
}

bool LampCollection::setLampEnabled(std::string_view id, bool enabled, LampTableView* table)
{
    const auto entry = std::ranges::find(m_entries, id, &LampEntry::id);
    if (entry == m_entries.end())
        return false;
    if (entry->enabled != enabled) {
        entry->enabled = enabled;
        m_log.write(enabled ? "setting enabled" : "unsetting enabled");
        if (table != nullptr)
            table->reloadData();
    }
    return true;
}

std::string enabledCountLine(std::int32_t count)
{
    return "enabledcount returning " + std::to_string(count);
}

std::string nthEnabledLine(std::string_view id)
{
    return "getIDofNthEnabled returning " + std::string{id};
}

} // namespace glowcast
