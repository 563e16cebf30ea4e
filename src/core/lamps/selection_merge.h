#pragma once

#include "core/lamps/lamp_entry.h"

#include <functional>
#include <optional>
#include <string_view>
#include <vector>

namespace glowcast {

// The selection to store at the end of a run, when another program (glowcastctl on the preferences
// file) may have changed the saved one since the set-up read it. base is the collection as that
// set-up built it, ours the collection now, saved the selection stored now. A lamp keeps our choice
// when we changed it since the set-up, and takes the saved choice when only the other program did;
// when nobody else wrote, the result is ours unchanged. Order and names are ours, and saved records
// of lamps the collection does not hold are left out, as every save leaves them out, except those
// keepUnheld keeps (lamps of a system whose lamps were not read in this run): they follow ours, as
// saved.
[[nodiscard]] std::vector<LampEntry> mergeSelection(const std::vector<LampEntry>& base,
                                                    const std::vector<LampEntry>& ours,
                                                    const std::optional<std::vector<LampEntry>>& saved,
                                                    const std::function<bool(std::string_view id)>& keepUnheld = {});

} // namespace glowcast
