#pragma once

#include "core/bridge/bridge_bridge.h"
#include "core/bridge/lamp_bridge.h"

namespace glowcast {

// Lamp care's requests through the bridge client: the same URL, encoder, discovery, pairing and log
// lines as every other request ("Bridge Error: ...", "no response from Bridge"), with the whole reply
// handed back.
class BridgeLampBridge final : public LampBridge {
public:
    explicit BridgeLampBridge(BridgeBridge& bridge) : m_bridge(bridge) {}

    [[nodiscard]] std::optional<HttpReply> putLampState(std::string_view lampId, const Dictionary& body) override;
    [[nodiscard]] std::optional<HttpReply> putPulse(std::string_view lampId, const Dictionary& body) override
    {
        return m_bridge.putQuietly(body, "lights/" + std::string{lampId} + "/state");
    }
    [[nodiscard]] std::optional<HttpReply> getLamp(std::string_view lampId) override;

private:
    BridgeBridge& m_bridge;
};

} // namespace glowcast
