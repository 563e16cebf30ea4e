#include "core/bridge/bridge_lamp_bridge.h"

namespace glowcast {

std::optional<HttpReply> BridgeLampBridge::putLampState(std::string_view lampId, const Dictionary& body)
{
    return m_bridge.exchange(HttpMethod::Put, &body, "lights/" + std::string{lampId} + "/state");
}

std::optional<HttpReply> BridgeLampBridge::getLamp(std::string_view lampId)
{
    return m_bridge.exchange(HttpMethod::Get, nullptr, "lights/" + std::string{lampId});
}

} // namespace glowcast
