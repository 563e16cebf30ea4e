#include "bridge_bridge.h"

#include "json_codec.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <utility>

namespace glowcast {

namespace {

using namespace std::chrono_literals;

constexpr std::chrono::milliseconds kRequestTimeout = 30s;
constexpr std::chrono::milliseconds kPairingPause = 2500ms;
constexpr int kPairingAttempts = 30;
constexpr std::string_view kDeviceType = "com.tallowbrook.Glowcast";
constexpr std::string_view kUsernameKey = "username";
constexpr std::string_view kLastBridgeKey = "lastusedbridgeIP";

const AlertText kNoBridgeAlert{
    "Unable to find IP of bridge", "OK",
    "Have tried to discover the Bridge's IP but failed. Check your Internet connection and re-start this app, or OK "
    "this box and wait 15s for Lumenary to re-try. If your connection is fine then the lumenport portal may be "
    "temporarily unavailable. Try again in a little while"};

[[nodiscard]] bool isHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

[[nodiscard]] bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Letters, digits, "-._~" and the sub-delimiters "!$&'()*+,;=": what may stand anywhere in a host
// name or a path segment without changing the URL's structure.
[[nodiscard]] bool isPlainUrlCharacter(char c)
{
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || isDigit(c))
        return true;
    constexpr std::string_view kOthers = "-._~!$&'()*+,;=";
    return kOthers.find(c) != std::string_view::npos;
}

// True when every character is plain or one of `extra`, and every "%" starts an escape of two
// hex digits. A space, a control character, a byte outside ASCII, "#", "?" and the like fail.
[[nodiscard]] bool isUrlPart(std::string_view text, std::string_view extra)
{
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '%') {
            if (i + 2 >= text.size() || !isHexDigit(text[i + 1]) || !isHexDigit(text[i + 2]))
                return false;
            i += 2;
            continue;
        }
        if (!isPlainUrlCharacter(c) && extra.find(c) == std::string_view::npos)
            return false;
    }
    return true;
}

// "host" or "host:port", where host is a name, a dotted address or a bracketed IPv6 address.
// No user information and no path: the address may not move the request to another resource.
[[nodiscard]] bool isUrlHost(std::string_view address)
{
    std::string_view host = address;
    if (!address.empty() && address.front() == '[') {
        const std::size_t close = address.find(']');
        if (close == std::string_view::npos || close == 1)
            return false;
        for (const char c : address.substr(1, close - 1))
            if (!isHexDigit(c) && c != ':' && c != '.')
                return false;
        host = address.substr(0, close + 1);
    } else {
        host = address.substr(0, address.find(':'));
        if (host.empty() || !isUrlPart(host, ""))
            return false;
    }
    const std::string_view rest = address.substr(host.size());
    if (rest.empty())
        return true;
    if (rest.front() != ':' || rest.size() > 6)
        return false;
    for (const char c : rest.substr(1))
        if (!isDigit(c))
            return false;
    return true;
}

// One path segment: the user name may not add segments of its own.
[[nodiscard]] bool isUrlSegment(std::string_view segment)
{
    return isUrlPart(segment, ":@");
}

[[nodiscard]] bool isUrlPath(std::string_view path)
{
    return isUrlPart(path, ":@/");
}

// The log shows a rejected text on one line: control characters and bytes outside ASCII are
// written as escapes.
[[nodiscard]] std::string printable(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (byte < 0x20 || byte >= 0x7f) {
            std::array<char, 5> escape{};
            std::snprintf(escape.data(), escape.size(), "\\x%02X", static_cast<unsigned>(byte));
            out += escape.data();
        } else {
            out += c;
        }
    }
    return out;
}

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
                           PushButtonWindow& pushButtonWindow, Alert& alert, std::optional<std::string> portalHost)
    : m_http(http), m_preferences(preferences), m_sleeper(sleeper), m_log(log), m_pushButtonWindow(pushButtonWindow),
      m_alert(alert), m_portalHost(std::move(portalHost))
{
    m_log.write("bridge initing");
}

void BridgeBridge::awakeFromNib()
{
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
        if (m_bridgeIP) {
            m_preferences.setText(kLastBridgeKey, *m_bridgeIP);
            return;
        }
    }

    m_bridgeIP = m_preferences.text(kLastBridgeKey);
    if (m_bridgeIP)
        m_log.write("no response from Portal API, using last used bridge IP");
    else
        m_log.write("no response from Portal API and no last used bridge IP");
}

bool BridgeBridge::logIn()
{
    if (!m_bridgeIP)
        discoverBridge();
    if (!m_bridgeIP) {
        m_alert.runModal(kNoBridgeAlert);
        return false;
    }

    m_pushButtonWindow.show();

    // One request for the whole series: every attempt sends exactly the same bytes.
    const HttpRequest pairing{HttpMethod::Post, "http://" + *m_bridgeIP + "/api",
                              JSONFromDictionary(Dictionary{{"devicetype", std::string{kDeviceType}}}),
                              kRequestTimeout};
    const bool sendable = isUrlHost(*m_bridgeIP);

    int attempts = 0;
    while (!m_loggedIn && attempts < kPairingAttempts) {
        if (!sendable) {
            // Nothing could ever be sent to this address, so waiting for the button is pointless.
            m_log.write("not pairing: the bridge address '" + printable(*m_bridgeIP) + "' is not a valid URL host");
            break;
        }
        m_pushButtonWindow.bringToFront();
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
            } else if (!isUrlSegment(*username)) {
                // Stored, it would make every later request unsendable, and pairing never runs
                // again while a user name is stored.
                m_log.write("Bridge Error: the user name '" + printable(*username) +
                            "' in the pairing reply cannot stand in a URL");
            } else {
                m_preferences.setText(kUsernameKey, *username);
                m_loggedIn = true;
            }
        } else {
            m_log.write("no response from Portal API");
        }
        ++attempts;
        m_sleeper.sleep(kPairingPause);
    }

    m_pushButtonWindow.hide();
    return m_loggedIn;
}

std::optional<std::string> BridgeBridge::getUsername() const
{
    return m_preferences.text(kUsernameKey);
}

std::optional<std::string> BridgeBridge::sendGETRequestToUrl(std::string_view path)
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
    if (!m_bridgeIP)
        discoverBridge();
    if (method == HttpMethod::Get)
        m_pushButtonWindow.hide();
    if (!m_bridgeIP)
        return std::nullopt;

    std::optional<std::string> username = getUsername();
    if (!username) {
        m_log.write("we don't have a username");
        (void)logIn();
        username = getUsername();
    }
    // A user name that pairing did not store goes out as the printed form of a missing text; the
    // bridge refuses it like any unknown user.
    const std::string user = describe(username);

    if (!isUrlHost(*m_bridgeIP) || !isUrlSegment(user) || !isUrlPath(path)) {
        m_log.write("not sending a request to an invalid URL: http://" + printable(*m_bridgeIP) + "/api/" +
                    printable(user) + "/" + printable(path));
        return std::nullopt;
    }

    HttpRequest request{method, "http://" + *m_bridgeIP + "/api/" + user + "/" + std::string{path}, std::string{},
                        kRequestTimeout};
    if (body)
        request.body = JSONFromDictionary(*body);

    const std::optional<std::string> reply = m_http.send(request);
    if (!reply) {
        m_log.write("no response from Bridge");
        return std::nullopt;
    }
    const Dictionary answer = dictionaryFromJSON(*reply, m_log);
    if (const Value* error = answer.find("error")) {
        m_log.write("Bridge Error: " + errorDescription(*error));
        return std::nullopt;
    }
    return reply;
}

} // namespace glowcast
