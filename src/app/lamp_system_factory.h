#pragma once

#include "core/lamp_systems/lamp_systems.h"
#include "core/ports/log.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace glowcast {

// What a kind's adapter may take beside its record.
struct SystemAdapterContext {
    std::filesystem::path configDirectory; // where a system's password or token waits
    Log& log;
    // The first bridge's address as it is now, which a further bridge must not be.
    std::function<std::optional<std::string>()> firstBridge;
    // Whether the beat is on, for WLED's cover bodies.
    std::function<bool()> beatOn;
};

// The adapter of each kind: a further bridge and WLED over HTTP, zigbee2mqtt over MQTT and Home Assistant
// over HTTP(S), these two with their password or token from the configuration directory.
class AppLampSystemFactory final : public LampSystemFactory {
public:
    AppLampSystemFactory(
        std::filesystem::path configDirectory, Log& log, std::function<std::optional<std::string>()> firstBridge,
        std::function<bool()> beatOn = [] { return false; })
        : m_context{std::move(configDirectory), log, std::move(firstBridge), std::move(beatOn)}
    {
    }
    [[nodiscard]] std::unique_ptr<LampSystem> create(const SystemRecord& record) override;

private:
    SystemAdapterContext m_context;
};

} // namespace glowcast
