#pragma once

#include "core/ports/preferences.h"

#include <map>

namespace glowcast {

class FakePreferences final : public Preferences {
public:
    std::map<std::string, std::string, std::less<>> texts;
    std::optional<std::vector<LampEntry>> savedLamps;
    int lampWrites = 0;

    std::optional<std::string> text(std::string_view key) const override
    {
        const auto found = texts.find(key);
        if (found == texts.end())
            return std::nullopt;
        return found->second;
    }
    void setText(std::string_view key, std::optional<std::string> value) override
    {
        if (value)
            texts.insert_or_assign(std::string{key}, *value);
        else if (const auto found = texts.find(key); found != texts.end())
            texts.erase(found);
    }
    std::optional<std::vector<LampEntry>> lamps() const override { return savedLamps; }
    void setLamps(const std::vector<LampEntry>& lamps) override
    {
        savedLamps = lamps;
        ++lampWrites;
    }
};

}  // namespace glowcast
