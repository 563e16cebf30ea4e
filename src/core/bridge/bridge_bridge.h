#pragma once

#include "core/json/value.h"
#include "core/ports/alert.h"
#include "core/ports/http_transport.h"
#include "core/ports/link_button_prompt.h"
#include "core/ports/log.h"
#include "core/ports/preferences.h"
#include "core/ports/sleeper.h"

#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace glowcast {

// The name Glowcast pairs under with every bridge, the first and the further ones.
inline constexpr std::string_view kBridgeDeviceType = "com.tallowbrook.Glowcast";

// True for "host" or "host:port" that can stand in a request URL: what a bridge address and a
// portal must look like to be used.
[[nodiscard]] bool isBridgeAddress(std::string_view address);

// The client of the lighting bridge: finds its address (discovery portal, then the last address
// that worked), pairs with it while the user presses the link button, and sends the four requests.
class BridgeBridge {
public:
    // portalHost: "host" or "host:port" of the discovery portal; without one, discovery goes straight
    // to the last used address.
    BridgeBridge(HttpTransport& http, Preferences& preferences, Sleeper& sleeper, Log& log,
                 LinkButtonPrompt& linkButtonPrompt, Alert& alert, std::optional<std::string> portalHost);

    void discoverBridge();
    [[nodiscard]] bool pair();
    [[nodiscard]] std::optional<std::string> getUsername() const;

    // What the bridge holds at a path under the paired user ("lights"): the reply's body; nothing for
    // no reply or a bridge error.
    [[nodiscard]] std::optional<std::string> read(std::string_view path);
    bool sendPUTRequest(const Dictionary& body, std::string_view path);
    [[nodiscard]] std::optional<std::string> sendPOSTRequest(const Dictionary& body, std::string_view path);
    [[nodiscard]] std::optional<std::string> sendDELETERequestToUrl(std::string_view path);
    // A request as the four above send it, with the same steps and log lines, for a caller that
    // needs the whole reply: its status and Retry-After too, and a bridge error's body. Nothing when
    // no reply came or nothing was sent; body is null for GET and DELETE.
    [[nodiscard]] std::optional<HttpReply> exchange(HttpMethod method, const Dictionary* body, std::string_view path);
    // A PUT of the beat's, many a second: only to a bridge found and paired (nothing else), without a log line.
    [[nodiscard]] std::optional<HttpReply> putQuietly(const Dictionary& body, std::string_view path);

    [[nodiscard]] const std::optional<std::string>& bridgeIP() const { return m_bridgeIP; }
    [[nodiscard]] bool paired() const { return m_paired; }

    // A user who gives another portal or address: the next discovery asks that portal, and runs
    // again once the address found before is forgotten.
    void setPortalHost(std::optional<std::string> portalHost) { m_portalHost = std::move(portalHost); }
    [[nodiscard]] const std::optional<std::string>& portalHost() const { return m_portalHost; }
    void forgetBridgeIP() { m_bridgeIP.reset(); }
    // A quit was asked for: a pairing under way ends after the attempt that runs, and none starts.
    void stopPairing() { m_stopped = true; }

private:
    // What a request came to: the reply, if one came, and whether it held a top-level "error".
    struct Answer {
        std::optional<HttpReply> reply;
        bool bridgeError = false;
    };

    // The four requests' result: the reply's body, nothing for a bridge error.
    std::optional<std::string> send(HttpMethod method, const Dictionary* body, std::string_view path);
    // The steps every request takes.
    Answer request(HttpMethod method, const Dictionary* body, std::string_view path);
    // http://<bridge>/api/<user>/<path>; nothing without an address, or when one of the parts cannot go in a URL.
    [[nodiscard]] std::optional<std::string> apiUrl(std::string_view user, std::string_view path) const;

    HttpTransport& m_http;
    Preferences& m_preferences;
    Sleeper& m_sleeper;
    Log& m_log;
    LinkButtonPrompt& m_linkButtonPrompt;
    Alert& m_alert;
    std::optional<std::string> m_portalHost;
    std::optional<std::string> m_bridgeIP;
    bool m_paired = false;
    bool m_stopped = false;
};

} // namespace glowcast
