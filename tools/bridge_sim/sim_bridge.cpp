#include "sim_bridge.h"

#include "lamp_light.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <random>

namespace glowcast::sim {

namespace {

using namespace std::chrono_literals;

constexpr auto kPressLasts = 30s;
constexpr std::size_t kRecordLimit = 10000;

std::vector<std::string> splitPath(const std::string& path)
{
    std::vector<std::string> segments;
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t slash = path.find('/', start);
        const std::size_t end = slash == std::string::npos ? path.size() : slash;
        if (end > start)
            segments.push_back(path.substr(start, end - start));
        if (slash == std::string::npos)
            break;
        start = slash + 1;
    }
    return segments;
}

Reply errorReply(int type, const std::string& address, const std::string& description)
{
    return {200, "[{\"error\":{\"type\":" + std::to_string(type) + ",\"address\":" + jsonString(address) +
                     ",\"description\":" + jsonString(description) + "}}]"};
}

Reply notAvailable(const std::string& address)
{
    return errorReply(30, address, "no resource at " + address);
}

Reply methodNotAvailable(const std::string& method, const std::string& address)
{
    return errorReply(31, address, "method " + method + " is not allowed on " + address);
}

Reply invalidJson(const std::string& address)
{
    return errorReply(32, address, "the body is not valid JSON");
}

std::optional<QJsonObject> parseObject(const std::string& body)
{
    QJsonParseError error{};
    const QJsonDocument document =
        QJsonDocument::fromJson(QByteArray(body.data(), static_cast<qsizetype>(body.size())), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return document.object();
}

std::string compact(const QJsonValue& value)
{
    if (value.isObject())
        return QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact).toStdString();
    if (value.isArray())
        return QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact).toStdString();
    if (value.isString())
        return jsonString(value.toString().toStdString());
    if (value.isBool())
        return value.toBool() ? "true" : "false";
    if (value.isDouble())
        return jsonNumber(value.toDouble());
    return "null";
}

std::string freshUsername()
{
    static std::mt19937_64 generator{std::random_device{}()};
    static constexpr char kHex[] = "0123456789abcdef";
    std::string name;
    for (int i = 0; i < 32; ++i)
        name += kHex[generator() % 16];
    return name;
}

std::string lampJson(const Lamp& lamp)
{
    // Shaped as the bridge sends it: the state object first, then the name.
    return "{\"state\":{\"on\":" + std::string(lamp.on ? "true" : "false") + ",\"bri\":" + std::to_string(lamp.bri) +
           ",\"hue\":" + std::to_string(lamp.hue) + ",\"sat\":" + std::to_string(lamp.sat) + ",\"xy\":[" +
           jsonNumber(lamp.x) + "," + jsonNumber(lamp.y) + "],\"level\":1},\"name\":" + jsonString(lamp.name) + "}";
}

std::string stateOnlyJson(const Lamp& lamp)
{
    const std::string whole = lampJson(lamp);
    const std::size_t open = whole.find('{', 1);
    const std::size_t close = whole.find('}', open);
    return whole.substr(open, close - open + 1);
}

} // namespace

std::string jsonString(const std::string& text)
{
    // Invalid UTF-8 in a recorded body is shown with replacement characters, so the record stays
    // readable JSON.
    const QByteArray valid = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())).toUtf8();
    std::string out = "\"";
    for (const char c : valid) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (byte < 0x20) {
            static constexpr char kHex[] = "0123456789abcdef";
            out += "\\u00";
            out += kHex[byte >> 4];
            out += kHex[byte & 0xf];
        } else {
            out += c;
        }
    }
    out += '"';
    return out;
}

std::string jsonNumber(double number)
{
    if (!std::isfinite(number))
        return "0";
    char text[32];
    const auto result = std::to_chars(std::begin(text), std::end(text), number);
    return std::string(text, result.ptr);
}

SimBridge::SimBridge(Options options) : m_options(std::move(options))
{
    m_users.insert(m_options.users.begin(), m_options.users.end());
    std::vector<std::string> names;
    for (int i = 1; i <= std::clamp(m_options.lamps, 0, 64); ++i)
        names.push_back("Lamp " + std::to_string(i));
    resetLamps(names);
}

void SimBridge::resetLamps(const std::vector<std::string>& names)
{
    m_lamps.clear();
    for (std::size_t i = 0; i < names.size(); ++i)
        m_lamps.push_back(Lamp{std::to_string(i + 1), names[i]});
}

bool SimBridge::linkButtonPressed(Clock::time_point now) const
{
    std::optional<Clock::time_point> last = m_pressedAt;
    if (m_scheduledPress && *m_scheduledPress <= now && (!last || *last < *m_scheduledPress))
        last = m_scheduledPress;
    return last && now - *last <= kPressLasts;
}

Fault SimBridge::record(const std::string& method, const std::string& path, const std::string& body, int port)
{
    const std::lock_guard lock{m_mutex};
    if (m_requests.size() >= kRecordLimit)
        m_requests.pop_front();
    const std::chrono::duration<double> since = Clock::now() - m_start;
    m_requests.push_back({method, path, body, since.count(), port});
    Fault fault = m_fault;
    if (!fault.path.empty() && !path.ends_with(fault.path))
        return Fault{};
    if (m_fault.remaining > 0 && --m_fault.remaining == 0)
        m_fault = Fault{};
    if (fault.remaining == 0)
        return Fault{};
    return fault;
}

void SimBridge::holdWithoutAnswer(std::chrono::milliseconds limit)
{
    std::unique_lock lock{m_mutex};
    const std::uint64_t generation = m_faultGeneration;
    m_changed.wait_for(lock, limit, [&] { return m_stopping || m_faultGeneration != generation; });
}

void SimBridge::delay(std::chrono::milliseconds latency)
{
    std::unique_lock lock{m_mutex};
    m_changed.wait_for(lock, latency, [&] { return m_stopping; });
}

void SimBridge::stop()
{
    {
        const std::lock_guard lock{m_mutex};
        m_stopping = true;
    }
    m_changed.notify_all();
}

Reply SimBridge::handleApi(const std::string& method, const std::string& path, const std::string& body)
{
    const std::lock_guard lock{m_mutex};
    const std::vector<std::string> segments = splitPath(path); // segments[0] == "api"
    if (segments.size() == 2 && segments[1] == "nupnp" && method == "GET") {
        return {200, "[{\"id\":\"5ee1b7d6e0c0ffee\",\"internalipaddress\":" + jsonString(m_options.advertisedAddress) +
                         "}]"};
    }
    if (segments.size() == 1) {
        if (method == "POST")
            return pair(body);
        return methodNotAvailable(method, "/");
    }
    std::string rest;
    for (std::size_t i = 2; i < segments.size(); ++i)
        rest += (i > 2 ? "/" : "") + segments[i];
    return userResource(method, segments[1], rest, body);
}

Reply SimBridge::pair(const std::string& body)
{
    const Clock::time_point now = Clock::now();
    if (m_options.pressAfter && !m_scheduledPress)
        m_scheduledPress = now + *m_options.pressAfter;
    const std::optional<QJsonObject> request = parseObject(body);
    if (!request)
        return invalidJson("/");
    if (!request->value(QStringLiteral("devicetype")).isString())
        return errorReply(33, "/", "the body lacks a required member");
    if (!linkButtonPressed(now))
        return errorReply(20, "", "the link button has not been pressed");
    const std::string username = freshUsername();
    m_users.insert(username);
    return {200, "[{\"success\":{\"username\":" + jsonString(username) + "}}]"};
}

Reply SimBridge::userResource(const std::string& method, const std::string& user, const std::string& rest,
                              const std::string& body)
{
    const std::string address = "/" + rest;
    if (m_users.count(user) == 0)
        return errorReply(10, address, "user is not authorised");
    const std::vector<std::string> segments = splitPath(rest);
    if (segments.empty()) {
        if (method == "GET")
            return {200, "{\"lights\":" + lampsJson() + "}"};
        return methodNotAvailable(method, address);
    }

    if (segments[0] == "lights") {
        if (segments.size() == 1) {
            if (method == "GET")
                return {200, lampsJson()};
            if (method == "POST")
                return {200, R"([{"success":{"/lights":"Searching for new devices"}}])"};
            return methodNotAvailable(method, address);
        }
        const auto lamp =
            std::find_if(m_lamps.begin(), m_lamps.end(), [&](const Lamp& l) { return l.id == segments[1]; });
        if (lamp == m_lamps.end() || segments.size() > 3 || (segments.size() == 3 && segments[2] != "state"))
            return notAvailable(address);
        if (segments.size() == 3) {
            if (method == "GET")
                return {200, stateOnlyJson(*lamp)};
            if (method == "PUT")
                return setState(*lamp, body);
            return methodNotAvailable(method, address);
        }
        if (method == "GET")
            return {200, lampJson(*lamp)};
        if (method == "PUT") {
            const std::optional<QJsonObject> request = parseObject(body);
            if (!request)
                return invalidJson(address);
            if (!request->value(QStringLiteral("name")).isString())
                return errorReply(33, address, "the body lacks a required member");
            lamp->name = request->value(QStringLiteral("name")).toString().toStdString();
            return {200, "[{\"success\":{" + jsonString(address + "/name") + ":" + jsonString(lamp->name) + "}}]"};
        }
        if (method == "DELETE") {
            m_lamps.erase(lamp);
            return {200, "[{\"success\":" + jsonString(address + " deleted") + "}]"};
        }
        return methodNotAvailable(method, address);
    }

    // Any other collection (groups, schedules, scenes...) keeps what it is given.
    auto& collection = m_resources[segments[0]];
    if (segments.size() == 1) {
        if (method == "GET") {
            std::string out = "{";
            for (const auto& [id, json] : collection)
                out += (out.size() > 1 ? "," : "") + jsonString(id) + ":" + json;
            return {200, out + "}"};
        }
        if (method == "POST") {
            const std::optional<QJsonObject> request = parseObject(body);
            if (!request)
                return invalidJson(address);
            const std::string id = std::to_string(m_nextResourceId++);
            collection[id] = compact(*request);
            return {200, "[{\"success\":{\"id\":" + jsonString(id) + "}}]"};
        }
        return methodNotAvailable(method, address);
    }
    const auto found = collection.find(segments[1]);
    if (found == collection.end() || segments.size() > 2)
        return notAvailable(address);
    if (method == "GET")
        return {200, found->second};
    if (method == "PUT") {
        const std::optional<QJsonObject> request = parseObject(body);
        if (!request)
            return invalidJson(address);
        found->second = compact(*request);
        return {200, "[{\"success\":{" + jsonString(address) + ":" + found->second + "}}]"};
    }
    if (method == "DELETE") {
        collection.erase(found);
        return {200, "[{\"success\":" + jsonString(address + " deleted") + "}]"};
    }
    return methodNotAvailable(method, address);
}

Reply SimBridge::setState(Lamp& lamp, const std::string& body)
{
    const std::string address = "/lights/" + lamp.id + "/state";
    const std::optional<QJsonObject> request = parseObject(body);
    if (!request)
        return invalidJson(address);
    std::string out = "[";
    const auto add = [&](const std::string& entry) { out += (out.size() > 1 ? "," : "") + entry; };
    const auto success = [&](const std::string& key, const std::string& value) {
        add("{\"success\":{" + jsonString(address + "/" + key) + ":" + value + "}}");
    };
    const auto invalid = [&](const std::string& key, const QJsonValue& value) {
        add("{\"error\":{\"type\":40,\"address\":" + jsonString(address + "/" + key) +
            ",\"description\":" + jsonString("value " + compact(value) + " is not valid for " + key) + "}}");
    };
    for (auto it = request->begin(); it != request->end(); ++it) {
        const std::string key = it.key().toStdString();
        const QJsonValue value = it.value();
        if (key == "on") {
            if (!value.isBool()) {
                invalid(key, value);
                continue;
            }
            lamp.on = value.toBool();
            success(key, lamp.on ? "true" : "false");
        } else if (key == "bri" || key == "sat" || key == "hue") {
            if (!value.isDouble()) {
                invalid(key, value);
                continue;
            }
            const int number = static_cast<int>(std::clamp(value.toDouble(), 0.0, 255.0));
            (key == "bri" ? lamp.bri : key == "sat" ? lamp.sat : lamp.hue) = number;
            success(key, std::to_string(number));
        } else if (key == "xy") {
            const QJsonArray pair = value.toArray();
            if (!value.isArray() || pair.size() != 2 || !pair[0].isDouble() || !pair[1].isDouble()) {
                invalid(key, value);
                continue;
            }
            lamp.x = std::clamp(pair[0].toDouble(), 0.0, 1.0);
            lamp.y = std::clamp(pair[1].toDouble(), 0.0, 1.0);
            success(key, "[" + jsonNumber(lamp.x) + "," + jsonNumber(lamp.y) + "]");
        } else {
            add("{\"error\":{\"type\":41,\"address\":" + jsonString(address + "/" + key) +
                ",\"description\":" + jsonString("no parameter " + key + " on this resource") + "}}");
        }
    }
    return {200, out + "]"};
}

std::string SimBridge::lampsJson() const
{
    std::string out = "{";
    for (const Lamp& lamp : m_lamps)
        out += (out.size() > 1 ? "," : "") + jsonString(lamp.id) + ":" + lampJson(lamp);
    return out + "}";
}

std::string SimBridge::requestsJson() const
{
    std::string out = "[";
    for (const Recorded& request : m_requests) {
        out += (out.size() > 1 ? "," : "") + std::string("{\"method\":") + jsonString(request.method) +
               ",\"path\":" + jsonString(request.path) + ",\"body\":" + jsonString(request.body) +
               ",\"time\":" + jsonNumber(std::round(request.time * 1000.0) / 1000.0) +
               ",\"port\":" + std::to_string(request.port) + "}";
    }
    return out + "]";
}

std::string SimBridge::stateJson()
{
    const std::lock_guard lock{m_mutex};
    std::string out = "{\"lamps\":[";
    bool first = true;
    for (const Lamp& lamp : m_lamps) {
        const std::string colour =
            hexColour(lamp.on ? srgbFromXyBri(lamp.x, lamp.y, lamp.bri) : std::array<std::uint8_t, 3>{0, 0, 0});
        out += (first ? "" : ",") + std::string("{\"id\":") + jsonString(lamp.id) +
               ",\"name\":" + jsonString(lamp.name) + ",\"on\":" + (lamp.on ? "true" : "false") +
               ",\"bri\":" + std::to_string(lamp.bri) + ",\"xy\":[" + jsonNumber(lamp.x) + "," + jsonNumber(lamp.y) +
               "],\"colour\":" + jsonString(colour) + "}";
        first = false;
    }
    out += "],\"linkbutton\":" + std::string(linkButtonPressed(Clock::now()) ? "true" : "false") +
           ",\"requests\":" + std::to_string(m_requests.size()) + ",\"users\":" + std::to_string(m_users.size()) + "}";
    return out;
}

Reply SimBridge::setFault(const std::string& body)
{
    const std::optional<QJsonObject> request = parseObject(body);
    if (!request)
        return {400, R"({"error":"the fault must be a JSON object"})"};
    Fault fault;
    const QString mode = request->value(QStringLiteral("mode")).toString(QStringLiteral("none"));
    static const std::map<QString, FaultMode> kModes = {
        {QStringLiteral("none"), FaultMode::None},       {QStringLiteral("noanswer"), FaultMode::NoAnswer},
        {QStringLiteral("drop"), FaultMode::Drop},       {QStringLiteral("status"), FaultMode::Status},
        {QStringLiteral("garbage"), FaultMode::Garbage}, {QStringLiteral("oversized"), FaultMode::Oversized}};
    const auto found = kModes.find(mode);
    if (found == kModes.end())
        return {400, R"({"error":"mode is one of none, noanswer, drop, status, garbage, oversized"})"};
    fault.mode = found->second;
    fault.latency = std::chrono::milliseconds(
        static_cast<long long>(std::clamp(request->value(QStringLiteral("latency_ms")).toDouble(0), 0.0, 600000.0)));
    fault.status = std::clamp(request->value(QStringLiteral("status")).toInt(500), 100, 599);
    if (request->value(QStringLiteral("body")).isString())
        fault.body = request->value(QStringLiteral("body")).toString().toStdString();
    fault.size = static_cast<std::size_t>(
        std::clamp(request->value(QStringLiteral("size")).toDouble(9 << 20), 0.0, double(64 << 20)));
    fault.remaining = request->value(QStringLiteral("count")).toInt(-1);
    fault.path = request->value(QStringLiteral("path")).toString().toStdString();
    if (fault.remaining == 0)
        fault.remaining = -1;
    {
        const std::lock_guard lock{m_mutex};
        m_fault = fault;
        ++m_faultGeneration;
    }
    m_changed.notify_all();
    return {200, R"({"fault":"set"})"};
}

Reply SimBridge::setLamps(const std::string& body)
{
    const std::optional<QJsonObject> request = parseObject(body);
    if (!request)
        return {400, R"({"error":"give {\"count\":N} or {\"names\":[...]}"})"};
    std::vector<std::string> names;
    if (request->value(QStringLiteral("lamps")).isArray()) {
        // Ids and names exactly as given, hostile ones included, for the client to cope with.
        std::vector<Lamp> lamps;
        for (const QJsonValue lamp : request->value(QStringLiteral("lamps")).toArray())
            lamps.push_back(Lamp{lamp[QStringLiteral("id")].toString().toStdString(),
                                 lamp[QStringLiteral("name")].toString().toStdString()});
        const std::lock_guard lock{m_mutex};
        m_lamps = std::move(lamps);
        return {200, lampsJson()};
    }
    if (request->value(QStringLiteral("names")).isArray()) {
        for (const QJsonValue name : request->value(QStringLiteral("names")).toArray())
            names.push_back(name.toString().toStdString());
    } else if (request->value(QStringLiteral("count")).isDouble()) {
        const int count = std::clamp(request->value(QStringLiteral("count")).toInt(), 0, 64);
        for (int i = 1; i <= count; ++i)
            names.push_back("Lamp " + std::to_string(i));
    } else {
        return {400, R"({"error":"give {\"count\":N} or {\"names\":[...]}"})"};
    }
    if (names.size() > 64)
        names.resize(64);
    const std::lock_guard lock{m_mutex};
    resetLamps(names);
    return {200, lampsJson()};
}

Reply SimBridge::handleControl(const std::string& method, const std::string& path, const std::string& body)
{
    if (path == "/sim/linkbutton" && method == "POST") {
        const std::lock_guard lock{m_mutex};
        m_pressedAt = Clock::now();
        return {200, R"({"pressed":true})"};
    }
    if (path == "/sim/linkbutton" && method == "GET") {
        const std::lock_guard lock{m_mutex};
        return {200, std::string("{\"pressed\":") + (linkButtonPressed(Clock::now()) ? "true" : "false") + "}"};
    }
    if (path == "/sim/requests" && method == "GET") {
        const std::lock_guard lock{m_mutex};
        return {200, requestsJson()};
    }
    if (path == "/sim/requests" && method == "DELETE") {
        const std::lock_guard lock{m_mutex};
        m_requests.clear();
        return {200, R"({"cleared":true})"};
    }
    if (path == "/sim/lamps" && (method == "POST" || method == "PUT"))
        return setLamps(body);
    if (path == "/sim/lamps" && method == "GET") {
        const std::lock_guard lock{m_mutex};
        return {200, lampsJson()};
    }
    if (path == "/sim/faults" && (method == "POST" || method == "PUT"))
        return setFault(body);
    if (path == "/sim/faults" && method == "DELETE") {
        {
            const std::lock_guard lock{m_mutex};
            m_fault = Fault{};
            ++m_faultGeneration;
        }
        m_changed.notify_all();
        return {200, R"({"fault":"cleared"})"};
    }
    if (path == "/sim/users" && method == "POST") {
        const std::optional<QJsonObject> request = parseObject(body);
        if (!request || !request->value(QStringLiteral("username")).isString())
            return {400, R"({"error":"give {\"username\":\"...\"}"})"};
        const std::lock_guard lock{m_mutex};
        m_users.insert(request->value(QStringLiteral("username")).toString().toStdString());
        return {200, R"({"added":true})"};
    }
    if (path == "/sim/state" && method == "GET")
        return {200, stateJson()};
    return {404, R"({"error":"no such control"})"};
}

} // namespace glowcast::sim
