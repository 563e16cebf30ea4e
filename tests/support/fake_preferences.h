#pragma once

#include "core/ports/preferences.h"

#include <map>

namespace glowcast {

class FakePreferences final : public Preferences {
public:
    std::map<std::string, std::string, std::less<>> texts;
    std::optional<std::vector<LampEntry>> savedLamps;
    int lampWrites = 0;
    std::map<std::string, SettingValue, std::less<>> others; // flags and lists; texts live in texts
    std::map<std::string, std::string, std::less<>> otherKinds;

    std::optional<std::string> text(std::string_view key) override
    {
        const auto found = texts.find(key);
        return found == texts.end() ? std::nullopt : std::optional{found->second};
    }
    void setText(std::string_view key, std::optional<std::string> value) override
    {
        if (value)
            texts.insert_or_assign(std::string{key}, *value);
        else
            texts.erase(std::string{key});
    }
    std::optional<std::vector<LampEntry>> lamps() override { return savedLamps; }
    void setLamps(const std::vector<LampEntry>& lamps) override
    {
        savedLamps = lamps;
        ++lampWrites;
    }
    StoredSetting setting(std::string_view key) override
    {
        if (const auto kind = otherKinds.find(key); kind != otherKinds.end())
            return {std::nullopt, kind->second};
        if (const auto other = others.find(key); other != others.end())
            return {other->second, {}};
        const std::optional<std::string> stored = text(key);
        return {stored ? std::optional<SettingValue>{*stored} : std::nullopt, {}};
    }
    bool failSaves = false; // setSetting and updateLamps refuse, changing nothing

    bool setSetting(std::string_view key, std::optional<SettingValue> value) override
    {
        if (failSaves)
            return false;
        otherKinds.erase(std::string{key});
        others.erase(std::string{key});
        if (value && !std::holds_alternative<std::string>(*value))
            others.insert_or_assign(std::string{key}, *value);
        else
            setText(key, value ? std::optional{std::get<std::string>(*value)} : std::nullopt);
        return true;
    }
    bool updateLamps(const LampsEdit& edit) override
    {
        if (failSaves)
            return false;
        setLamps(edit(savedLamps));
        return true;
    }
    std::vector<SystemRecord> savedSystems;
    std::vector<SystemRecord> systems() override { return savedSystems; }
    bool updateSystems(const SystemsEdit& edit) override
    {
        std::vector<SystemRecord> edited = edit(savedSystems);
        if (failSaves)
            return false; // as on a full disk: the edit ran, what it made was not stored
        savedSystems = std::move(edited);
        return true;
    }
};

} // namespace glowcast
