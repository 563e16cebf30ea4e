#pragma once

#include "core/lamp_systems/lamp_systems.h"
#include "core/ports/log.h"

#include <filesystem>
#include <memory>

namespace glowcast {

// The adapter of each kind this build reaches: a further bridge over HTTP, zigbee2mqtt over MQTT (its
// broker's password from the configuration directory), WLED over HTTP. Home Assistant: nothing yet.
class AppLampSystemFactory final : public LampSystemFactory {
public:
    AppLampSystemFactory(std::filesystem::path configDirectory, Log& log)
        : m_configDirectory(std::move(configDirectory)), m_log(log)
    {
    }
    [[nodiscard]] std::unique_ptr<LampSystem> create(const SystemRecord& record) override;

private:
    std::filesystem::path m_configDirectory;
    Log& m_log;
};

} // namespace glowcast
