#include "core/bridge/bridge_bridge.h"

#include "core/json/json_codec.h"
#include "core/text/log_text.h"
#include "core/text/url_text.h"

#include <chrono>
#include <utility>

namespace glowcast {

namespace {

using namespace std::chrono_literals;

constexpr std::chrono::milliseconds kRequestTimeout = 30s;
constexpr std::chrono::milliseconds kPairingPause = 2500ms;
constexpr int kPairingAttempts = 30;
constexpr std::string_view kUsernameKey = "username";
constexpr std::string_view kLastBridgeKey = "lastusedbridgeIP";
// A bridge's user names are some 40 characters; a longer one is no user name it gave.
constexpr std::size_t kLongestUsername = 128;

const AlertText kNoBridgeAlert{
    "Unable to find IP of bridge", "OK",
    "Have tried to discover the Bridge's IP but failed. Check your Internet connection and re-start this app, or OK "
    "this box and wait 15s for Lumenary to re-try. If your connection is fine then the lumenport portal may be "
    "temporarily unavailable. Try again in a little while"};

// What a bridge error line shows: the description of a nested error object, or the error text
// itself when the bridge sent a bare text.
[[nodiscard]] std::string errorDescription(const Value& error)
{
    if (const Dictionary* nested = error.asDictionary())
        return describe(nested->text("description"));
    if (const std::string* text = error.asText())
        return *text;
    return describe(std::optional<std::string>{});
}

} // namespace

bool isBridgeAddress(std::string_view address)
{
    return isUrlHost(address);
}

BridgeBridge::BridgeBridge(HttpTransport& http, Preferences& preferences, Sleeper& sleeper, Log& log,
                           LinkButtonPrompt& linkButtonPrompt, Alert& alert, std::optional<std::string> portalHost)
    : m_http(http), m_preferences(preferences), m_sleeper(sleeper), m_log(log), m_linkButtonPrompt(linkButtonPrompt),
      m_alert(alert), m_portalHost(std::move(portalHost))
{
    m_log.write("bridge initing");
}

void BridgeBridge::discoverBridge()
{
    std::optional<std::string> reply;
    if (m_portalHost) {
        if (isUrlHost(*m_portalHost)) {
            reply = m_http.send(
                {HttpMethod::Get, "http://" + *m_portalHost + "/api/nupnp", std::string{}, kRequestTimeout});
        } else {
            m_log.write("not asking the portal: its host '" + printable(*m_portalHost) + "' is not a valid URL host");
        }
    }

    if (reply) {
        m_log.write("response from portal is " + *reply);
        const Dictionary portal = dictionaryFromJSON(*reply, m_log);
        m_bridgeIP = portal.text("internalipaddress");
        m_log.write("Bridge IP: " + describe(m_bridgeIP));
        // An address nothing could be sent to is not stored over the one that worked last.
        if (m_bridgeIP && !isUrlHost(*m_bridgeIP)) {
            m_log.write("the portal's bridge address '" + printable(*m_bridgeIP) + "' is not a valid host, not used");
            m_bridgeIP.reset();
        }
        if (m_bridgeIP) {
            m_preferences.setText(kLastBridgeKey, *m_bridgeIP);
            return;
        }
    }

    m_bridgeIP = m_preferences.text(kLastBridgeKey);
    if (m_bridgeIP && !isUrlHost(*m_bridgeIP)) {
        m_log.write("the last used bridge IP '" + printable(*m_bridgeIP) + "' is not a valid host, not used");
        m_bridgeIP.reset();
    }
    if (m_bridgeIP)
        m_log.write("no response from Portal API, using last used bridge IP");
    else
        m_log.write("no response from Portal API and no last used bridge IP");
}

bool BridgeBridge::pair()
{
    if (m_stopped) {
        m_log.write("quitting: no pairing");
        return false;
    }
    if (!m_bridgeIP)
        discoverBridge();
    if (!m_bridgeIP) {
        m_alert.show(kNoBridgeAlert);
        return false;
    }

    m_linkButtonPrompt.begin(*m_bridgeIP);

    // One request for the whole series: every attempt sends exactly the same bytes.
    const HttpRequest pairing{HttpMethod::Post, "http://" + *m_bridgeIP + "/api",
                              JSONFromDictionary(Dictionary{{"devicetype", std::string{kBridgeDeviceType}}}),
                              kRequestTimeout};

    int attempts = 0;
    while (!m_paired && attempts < kPairingAttempts) {
        if (m_stopped) {
            m_log.write("quitting: the pairing stops");
            break;
        }
        m_linkButtonPrompt.attempt();
        if (const std::optional<std::string> reply = m_http.send(pairing)) {
            const Dictionary answer = dictionaryFromJSON(*reply, m_log);
            const Dictionary* success = answer.dictionary("success");
            const std::optional<std::string> username = success ? success->text(kUsernameKey) : std::nullopt;
            if (const Value* error = answer.find("error")) {
                m_log.write("Bridge Error: " + errorDescription(*error));
            } else if (!username || username->empty()) {
                // An error page, an empty body or an unexpected shape is not an acceptance: the
                // stored user name stays and the next attempt follows.
                m_log.write("Bridge Error: no user name in the pairing reply");
            } else if (!isUrlSegment(*username) || username->size() > kLongestUsername) {
                // Stored, it would make every later request unsendable or send it elsewhere (".."
                // resolves to the level above), and pairing never runs again while a user name is
                // stored.
                m_log.write("Bridge Error: the user name '" + printable(*username) +
                            "' in the pairing reply cannot stand in a URL");
            } else {
                m_preferences.setText(kUsernameKey, *username);
                m_paired = true;
            }
        } else {
            m_log.write("no response from Portal API");
        }
        ++attempts;
        m_sleeper.sleep(kPairingPause);
    }

    m_linkButtonPrompt.end();
    return m_paired;
}

std::optional<std::string> BridgeBridge::getUsername() const
{
    return m_preferences.text(kUsernameKey);
}

std::optional<std::string> BridgeBridge::read(std::string_view path)
{
    return send(HttpMethod::Get, nullptr, path);
}

bool BridgeBridge::sendPUTRequest(const Dictionary& body, std::string_view path)
{
    return send(HttpMethod::Put, &body, path).has_value();
}

std::optional<std::string> BridgeBridge::sendPOSTRequest(const Dictionary& body, std::string_view path)
{
    return send(HttpMethod::Post, &body, path);
}

std::optional<std::string> BridgeBridge::sendDELETERequestToUrl(std::string_view path)
{
    return send(HttpMethod::Delete, nullptr, path);
}

std::optional<std::string> BridgeBridge::send(HttpMethod method, const Dictionary* body, std::string_view path)
{
    Answer answer = request(method, body, path);
    if (!answer.reply || answer.bridgeError)
        return std::nullopt;
    return std::move(answer.reply->body);
}

std::optional<HttpReply> BridgeBridge::exchange(HttpMethod method, const Dictionary* body, std::string_view path)
{
    return request(method, body, path).reply;
}

std::optional<HttpReply> BridgeBridge::putQuietly(const Dictionary& body, std::string_view path)
{
    const std::optional<std::string> username = getUsername();
    const std::optional<std::string> url = username ? apiUrl(*username, path) : std::nullopt;
    if (!url)
        return std::nullopt;
    return m_http.exchange({HttpMethod::Put, *url, JSONFromDictionary(body), kRequestTimeout});
}

std::optional<std::string> BridgeBridge::apiUrl(std::string_view user, std::string_view path) const
{
    if (!m_bridgeIP || !isUrlHost(*m_bridgeIP) || !isUrlSegment(user) || !isUrlPath(path))
        return std::nullopt;
    return "http://" + *m_bridgeIP + "/api/" + std::string{user} + "/" + std::string{path};
}

BridgeBridge::Answer BridgeBridge::request(HttpMethod method, const Dictionary* body, std::string_view path)
{
    if (!m_bridgeIP)
        discoverBridge();
    if (method == HttpMethod::Get)
        m_linkButtonPrompt.end();
    if (!m_bridgeIP)
        return {};

    std::optional<std::string> username = getUsername();
    if (!username) {
        m_log.write("we don't have a username");
        (void)pair();
        username = getUsername();
    }
    // A user name that pairing did not store goes out as the printed form of a missing text; the
    // bridge refuses it like any unknown user.
    const std::string user = describe(username);

    const std::optional<std::string> url = apiUrl(user, path);
    if (!url) {
        m_log.write("not sending a request to an invalid URL: http://" + printable(*m_bridgeIP) + "/api/" +
                    printable(user) + "/" + printable(path));
        return {};
    }

    HttpRequest outgoing{method, *url, std::string{}, kRequestTimeout};
    if (body)
        outgoing.body = JSONFromDictionary(*body);

    std::optional<HttpReply> reply = m_http.exchange(outgoing);
    if (!reply) {
        m_log.write("no response from Bridge");
        return {};
    }
    const Dictionary fields = dictionaryFromJSON(reply->body, m_log);
    const Value* error = fields.find("error");
    if (error != nullptr)
        m_log.write("Bridge Error: " + errorDescription(*error));
    return {std::move(reply), error != nullptr};
}

} // namespace glowcast
