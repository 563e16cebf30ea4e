#include "core/control/lamp_collection.h"

#include "core/json/value.h"

#include <algorithm>
#include <cstddef>
#include <string_view>
#include <unordered_set>
#include <utility>

namespace glowcast {

namespace {

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
    replaceAll({});
}

void LampCollection::fill(std::vector<LampEntry> lamps, const std::optional<std::vector<LampEntry>>& saved)
{
    std::vector<LampEntry> entries;
    entries.reserve(lamps.size());
    for (LampEntry& entry : lamps) {
        if (const LampEntry* record = findSaved(saved, entry.id))
            entry.enabled = record->enabled;
        entries.push_back(std::move(entry));
    }
    replaceAll(std::move(entries));
    m_filled = true;
    m_asSetUp = m_entries;
}

void LampCollection::replaceAll(std::vector<LampEntry> entries)
{
    entries.reserve(kInitialCapacity);
    const auto change = [&] { m_entries = std::move(entries); };
    if (m_view != nullptr)
        m_view->refill(change);
    else
        change();
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

SwitchResult LampCollection::setLampEnabled(std::string_view id, bool enabled)
{
    const auto entry = std::ranges::find(m_entries, id, &LampEntry::id);
    if (entry == m_entries.end())
        return SwitchResult::UnknownLamp;
    if (entry->enabled == enabled)
        return SwitchResult::Done;
    const auto flip = [this, &entry](bool on) {
        entry->enabled = on;
        m_log.write(on ? "setting enabled" : "unsetting enabled");
        if (m_view != nullptr)
            m_view->lampSwitched(static_cast<std::size_t>(entry - m_entries.begin()));
    };
    flip(enabled);
    if (!keepSwitch || keepSwitch())
        return SwitchResult::Done;
    flip(!enabled);
    return SwitchResult::NotSaved;
}

void LampCollection::insert(std::size_t at, std::vector<LampEntry> lamps)
{
    at = std::min(at, m_entries.size());
    const auto change = [&] {
        m_entries.insert(m_entries.begin() + static_cast<std::ptrdiff_t>(at), std::make_move_iterator(lamps.begin()),
                         std::make_move_iterator(lamps.end()));
    };
    if (lamps.empty())
        return;
    if (m_view != nullptr)
        m_view->insertLamps(at, lamps.size(), change);
    else
        change();
}

void LampCollection::erase(std::size_t first, std::size_t count)
{
    first = std::min(first, m_entries.size());
    count = std::min(count, m_entries.size() - first);
    const auto change = [&] {
        const auto begin = m_entries.begin() + static_cast<std::ptrdiff_t>(first);
        m_entries.erase(begin, begin + static_cast<std::ptrdiff_t>(count));
    };
    if (count == 0)
        return;
    if (m_view != nullptr)
        m_view->removeLamps(first, count, change);
    else
        change();
}

void LampCollection::replaceFrom(std::size_t at, std::vector<LampEntry> lamps)
{
    at = std::min(at, m_entries.size());
    // One lookup a lamp: a system of thousands of lamps tells them all at every rename. Reserved first, the
    // ids stay where the set points.
    m_asSetUp.reserve(m_asSetUp.size() + lamps.size());
    std::unordered_set<std::string_view> known;
    known.reserve(m_asSetUp.capacity());
    for (const LampEntry& lamp : m_asSetUp)
        known.insert(lamp.id);
    for (const LampEntry& lamp : lamps)
        if (known.insert(lamp.id).second)
            m_asSetUp.push_back(lamp);
    erase(at, m_entries.size() - at);
    insert(at, std::move(lamps));
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
