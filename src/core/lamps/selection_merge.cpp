#include "core/lamps/selection_merge.h"

#include <string_view>

namespace glowcast {

namespace {

// The first record with the id, as the set-up takes it.
[[nodiscard]] const LampEntry* findFirst(const std::vector<LampEntry>& lamps, std::string_view id)
{
    for (const LampEntry& lamp : lamps)
        if (lamp.id == id)
            return &lamp;
    return nullptr;
}

} // namespace

std::vector<LampEntry> mergeSelection(const std::vector<LampEntry>& base, const std::vector<LampEntry>& ours,
                                      const std::optional<std::vector<LampEntry>>& saved,
                                      const std::function<bool(std::string_view id)>& keepUnheld)
{
    std::vector<LampEntry> merged = ours;
    if (!saved)
        return merged;
    for (LampEntry& lamp : merged) {
        const LampEntry* before = findFirst(base, lamp.id);
        const LampEntry* theirs = findFirst(*saved, lamp.id);
        if (before != nullptr && theirs != nullptr && before->enabled == lamp.enabled)
            lamp.enabled = theirs->enabled;
    }
    if (keepUnheld)
        for (const LampEntry& record : *saved)
            if (findFirst(merged, record.id) == nullptr && keepUnheld(record.id))
                merged.push_back(record);
    return merged;
}

} // namespace glowcast
