#pragma once

#include "core/lamp_systems/lamp_system.h"
#include "core/ports/preferences.h"

#include <string>

namespace glowcast::ctl {

// The preferences as the bridge client sees them when a command acts on a further bridge (--system
// ID): its "username" and "lastusedbridgeIP" are that system's user and address, and a user name it
// obtains by pairing goes into the system's record. The first bridge's keys are neither read nor
// written; everything else is the file's.
class SystemBridgePreferences final : public Preferences {
public:
    SystemBridgePreferences(Preferences& file, SystemRecord record) : m_file(file), m_record(std::move(record)) {}

    [[nodiscard]] std::optional<std::string> text(std::string_view key) override
    {
        if (key == "username")
            return m_record.user;
        if (key == "lastusedbridgeIP")
            return m_record.address;
        return m_file.text(key);
    }
    void setText(std::string_view key, std::optional<std::string> value) override
    {
        if (key != "username")
            return; // the system's address is its record's; a portal never names it
        m_record.user = value;
        (void)m_file.updateSystems([&](std::vector<SystemRecord> records) {
            for (SystemRecord& record : records)
                if (record.id == m_record.id)
                    record.user = value;
            return records;
        });
    }
    [[nodiscard]] std::optional<std::vector<LampEntry>> lamps() override { return m_file.lamps(); }
    void setLamps(const std::vector<LampEntry>& /*lamps*/) override {}
    [[nodiscard]] StoredSetting setting(std::string_view key) override { return m_file.setting(key); }
    [[nodiscard]] bool setSetting(std::string_view /*key*/, std::optional<SettingValue> /*value*/) override
    {
        return false;
    }
    [[nodiscard]] bool updateLamps(const LampsEdit& /*edit*/) override { return false; }
    [[nodiscard]] std::vector<SystemRecord> systems() override { return m_file.systems(); }
    [[nodiscard]] bool updateSystems(const SystemsEdit& edit) override { return m_file.updateSystems(edit); }

private:
    Preferences& m_file;
    SystemRecord m_record;
};

} // namespace glowcast::ctl
