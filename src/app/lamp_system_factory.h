#pragma once

#include "core/lamp_systems/lamp_systems.h"
#include "core/ports/log.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace glowcast {

// The adapter of each kind this build reaches: a further bridge over HTTP, zigbee2mqtt over MQTT (its
// broker's password from the configuration directory), WLED over HTTP. Home Assistant: nothing yet.
class AppLampSystemFactory final : public LampSystemFactory {
public:
    // firstBridge: the first bridge's address as it is now, which a further bridge must not be.
    AppLampSystemFactory(std::filesystem::path configDirectory, Log& log,
                         std::function<std::optional<std::string>()> firstBridge)
        : m_configDirectory(std::move(configDirectory)), m_log(log), m_firstBridge(std::move(firstBridge))
    {
    }
    [[nodiscard]] std::unique_ptr<LampSystem> create(const SystemRecord& record) override;

private:
    std::filesystem::path m_configDirectory;
    Log& m_log;
    std::function<std::optional<std::string>()> m_firstBridge;
};

} // namespace glowcast
