#include "bridge_sim/sim_bridge.h"

#include "bridge_sim/lamp_light.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <ctime>
#include <iterator>
#include <random>
#include <set>

namespace glowcast::sim {

namespace {

using namespace std::chrono_literals;

constexpr auto kPressLasts = 30s;
constexpr std::size_t kRecordLimit = 10000;
constexpr std::size_t kMostLamps = 64;

// The bridge's model and versions; the texts are the simulator's own.
const std::string kModelId = "GCSIM-BR1";
const std::string kSwVersion = "1000050000";
const std::string kApiVersion = "1.50.0";

// The collections a bridge has that the simulator only keeps as it is given them.
const std::set<std::string, std::less<>> kStoredCollections = {"schedules", "scenes", "rules", "sensors",
                                                               "resourcelinks"};

// The portal writes the id in small letters.
std::string portalId(std::string id)
{
    for (char& c : id)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return id;
}

// A bridge's id is its MAC address with "FFFE" in the middle; the default's address is a locally
// administered one.
std::string macOf(const std::string& id)
{
    const std::string digits = id.size() == 16 ? id.substr(0, 6) + id.substr(10) : std::string(12, '0');
    std::string mac;
    for (std::size_t i = 0; i < digits.size(); i += 2)
        mac += (i == 0 ? "" : ":") + portalId(digits.substr(i, 2));
    return mac;
}

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

std::string joined(const std::vector<std::string>& path)
{
    std::string out;
    for (const std::string& segment : path)
        out += "/" + segment;
    return out.empty() ? "/" : out;
}

std::string errorEntry(int type, const std::string& address, const std::string& description)
{
    return jsonObject({{"error", jsonObject({{"type", std::to_string(type)},
                                             {"address", jsonString(address)},
                                             {"description", jsonString(description)}})}});
}

std::string successEntry(const std::string& address, const std::string& value)
{
    return jsonObject({{"success", jsonObject({{address, value}})}});
}

Reply list(const std::vector<std::string>& entries)
{
    return {200, jsonArray(entries)};
}

Reply errorReply(int type, const std::string& address, const std::string& description)
{
    return list({errorEntry(type, address, description)});
}

Reply notAvailable(const std::string& address)
{
    return errorReply(3, address, "resource, " + address + ", not available");
}

Reply methodNotAvailable(const std::string& method, const std::string& address)
{
    return errorReply(4, address, "method, " + method + ", not available for resource, " + address);
}

Reply invalidJson(const std::string& address)
{
    return errorReply(2, address, "body contains invalid json");
}

Reply missingParameters(const std::string& address)
{
    return errorReply(5, address, "invalid/missing parameters in body");
}

// A body's members in their order, or the bridge's answer to one that will not do: not a JSON object,
// or without a member where one is needed.
struct CheckedBody {
    Body body;
    std::optional<Reply> refusal;
};

CheckedBody checkedBody(const std::string& body, const std::string& address, bool oneNeeded = true)
{
    std::optional<Body> members = orderedMembers(body);
    if (!members)
        return {{}, invalidJson(address)};
    if (oneNeeded && members->empty())
        return {{}, missingParameters(address)};
    return {std::move(*members), std::nullopt};
}

std::string invalidValue(const QJsonValue& value, const std::string& key)
{
    return "invalid value, " + plainText(value) + ", for parameter, " + key;
}

std::string notAvailableParameter(const std::string& key)
{
    return "parameter, " + key + ", not available";
}

Reply deleted(const std::string& address)
{
    return list({jsonObject({{"success", jsonString(address + " deleted")}})});
}

// A text of `low` to `high` characters.
bool textOfLength(const QJsonValue& value, qsizetype low, qsizetype high)
{
    const qsizetype length = value.toString().toUcs4().size();
    return value.isString() && length >= low && length <= high;
}

const QJsonValue* member(const Body& body, std::string_view key)
{
    for (const auto& [name, value] : body)
        if (name == key)
            return &value;
    return nullptr;
}

bool switchesOn(const Body& body)
{
    const QJsonValue* on = member(body, "on");
    return on && on->isBool() && on->toBool();
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

std::string randomHex(std::size_t digits, bool upper)
{
    static std::mt19937_64 generator{std::random_device{}()};
    const char* hex = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    std::string text;
    for (std::size_t i = 0; i < digits; ++i)
        text += hex[generator() % 16];
    return text;
}

// Now, as the bridge writes times: UTC, to the second, without a zone.
std::string bridgeTime()
{
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    return text;
}

std::optional<int> groupNumber(const std::string& id)
{
    int number = 0;
    const auto [end, error] = std::from_chars(id.data(), id.data() + id.size(), number);
    if (error != std::errc{} || end != id.data() + id.size() || std::to_string(number) != id)
        return std::nullopt;
    return number;
}

} // namespace

SimBridge::SimBridge(Options options) : m_options(std::move(options))
{
    for (const std::string& user : m_options.users)
        addUser(user, "glowcast-sim#preset");
    if (m_options.lamps.size() > kMostLamps)
        m_options.lamps.resize(kMostLamps);
    std::vector<std::string> names;
    for (std::size_t i = 1; i <= m_options.lamps.size(); ++i)
        names.push_back("Lamp " + std::to_string(i));
    resetLamps(names, m_options.lamps);
}

void SimBridge::resetLamps(const std::vector<std::string>& names, const std::vector<LampKind>& kinds)
{
    m_lamps.clear();
    for (std::size_t i = 0; i < names.size(); ++i)
        m_lamps.push_back(
            newLamp(std::to_string(i + 1), names[i], i < kinds.size() ? kinds[i] : LampKind::ExtendedColour));
    m_groups.clear();
    m_groups[1] = Group{"Room 1", "Room", lampIds()};
}

void SimBridge::addUser(const std::string& name, const std::string& devicetype)
{
    const std::string now = bridgeTime();
    m_users.insert_or_assign(name, User{devicetype, now, now});
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
    const std::chrono::duration<double> since = m_options.clock() - m_start;
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
        return {200, jsonArray({jsonObject({{"id", jsonString(portalId(m_options.bridgeId))},
                                            {"internalipaddress", jsonString(m_options.advertisedAddress)}})})};
    }
    if (segments.size() == 1) {
        if (method == "POST")
            return pair(body);
        return methodNotAvailable(method, "/");
    }
    const Path rest(segments.begin() + 2, segments.end());
    if (overRateLimit(method, rest))
        return {429, "", "application/json", {{"Retry-After", "1"}}};
    return userResource(method, segments[1], rest, body);
}

bool SimBridge::overRateLimit(const std::string& method, const Path& path)
{
    const bool lampCommand =
        method == "PUT" && path.size() == 3 &&
        ((path[0] == "lights" && path[2] == "state") || (path[0] == "groups" && path[2] == "action"));
    if (!lampCommand || m_options.rateLimit <= 0)
        return false;
    const Clock::time_point now = m_options.clock();
    while (!m_lampCommands.empty() && now - m_lampCommands.front() >= 1s)
        m_lampCommands.pop_front();
    if (std::ssize(m_lampCommands) >= m_options.rateLimit)
        return true;
    m_lampCommands.push_back(now);
    return false;
}

Reply SimBridge::pair(const std::string& body)
{
    const Clock::time_point now = m_options.clock();
    if (m_options.pressAfter && !m_scheduledPress)
        m_scheduledPress = now + *m_options.pressAfter;
    const CheckedBody request = checkedBody(body, "/", false);
    if (request.refusal)
        return *request.refusal;
    const QJsonValue* devicetype = member(request.body, "devicetype");
    if (!devicetype)
        return missingParameters("/");
    if (!textOfLength(*devicetype, 1, 40))
        return errorReply(7, "/devicetype", invalidValue(*devicetype, "devicetype"));
    if (!linkButtonPressed(now))
        return errorReply(101, "", "link button not pressed");
    const std::string username = randomHex(32, false);
    addUser(username, devicetype->toString().toStdString());
    Members success{{"username", jsonString(username)}};
    const QJsonValue* clientKey = member(request.body, "generateclientkey");
    if (clientKey && clientKey->isBool() && clientKey->toBool())
        success.emplace_back("clientkey", jsonString(randomHex(32, true)));
    return list({jsonObject({{"success", jsonObject(success)}})});
}

Reply SimBridge::userResource(const std::string& method, const std::string& user, const Path& path,
                              const std::string& body)
{
    const auto known = m_users.find(user);
    if (known == m_users.end()) {
        // Anyone may read the short configuration: clients ask for it before they pair.
        if (method == "GET" && (path == Path{"config"} || (path.empty() && user == "config")))
            return {200, shortConfigJson()};
        return errorReply(1, joined(path), "unauthorized user");
    }
    known->second.lastUsed = bridgeTime();
    if (path.empty()) {
        if (method != "GET")
            return methodNotAvailable(method, "/");
        Members whole{{"lights", lampsJson()}, {"groups", groupsJson()}, {"config", configJson()}};
        for (const char* collection : {"schedules", "scenes", "rules", "sensors", "resourcelinks"})
            whole.emplace_back(collection, collectionJson(collection));
        return {200, jsonObject(whole)};
    }
    if (path[0] == "lights")
        return lights(method, path, body);
    if (path[0] == "groups")
        return groups(method, path, body);
    if (path[0] == "config")
        return config(method, path, body);
    if (kStoredCollections.contains(path[0]))
        return storedResource(method, path, body);
    return notAvailable(joined(path));
}

Reply SimBridge::lights(const std::string& method, const Path& path, const std::string& body)
{
    const std::string address = joined(path);
    if (path.size() == 1) {
        if (method == "GET")
            return {200, lampsJson()};
        if (method == "POST")
            return list({successEntry("/lights", jsonString("Searching for new devices"))});
        return methodNotAvailable(method, address);
    }
    if (path.size() == 2 && path[1] == "new") {
        if (method == "GET")
            return {200, R"({"lastscan":"none"})"};
        return methodNotAvailable(method, address);
    }
    Lamp* lamp = findLamp(path[1]);
    if (!lamp || path.size() > 3 || (path.size() == 3 && path[2] != "state"))
        return notAvailable(address);
    if (path.size() == 3) {
        if (method == "PUT")
            return setState(*lamp, body);
        if (method == "GET")
            return {200, lampStateJson(*lamp)};
        return methodNotAvailable(method, address);
    }
    if (method == "GET")
        return {200, lampJson(*lamp)};
    if (method == "DELETE") {
        const std::string id = lamp->id;
        std::erase_if(m_lamps, [&](const Lamp& l) { return l.id == id; });
        for (auto& [number, group] : m_groups)
            std::erase(group.lights, id);
        return deleted(address);
    }
    if (method != "PUT")
        return methodNotAvailable(method, address);
    const CheckedBody request = checkedBody(body, address);
    if (request.refusal)
        return *request.refusal;
    std::vector<std::string> entries;
    for (const auto& [key, value] : request.body) {
        if (key != "name")
            entries.push_back(errorEntry(6, address + "/" + key, notAvailableParameter(key)));
        else if (!textOfLength(value, 1, 32))
            entries.push_back(errorEntry(7, address + "/name", invalidValue(value, key)));
        else
            entries.push_back(successEntry(address + "/name", jsonString(lamp->name = value.toString().toStdString())));
    }
    return list(entries);
}

Reply SimBridge::setState(Lamp& lamp, const std::string& body)
{
    const std::string address = "/lights/" + lamp.id + "/state";
    const CheckedBody request = checkedBody(body, address);
    if (request.refusal)
        return *request.refusal;
    // A lamp that is off takes nothing but being switched on; one body may do both.
    const bool accepting = lamp.on || switchesOn(request.body);
    std::vector<std::string> entries;
    for (const auto& [key, value] : request.body) {
        const Outcome outcome = setAttribute(lamp, key, value, accepting);
        entries.push_back(outcome.error ? errorEntry(outcome.error, address + "/" + key, outcome.text)
                                        : successEntry(address + "/" + key, outcome.text));
    }
    return list(entries);
}

Reply SimBridge::groups(const std::string& method, const Path& path, const std::string& body)
{
    const std::string address = joined(path);
    if (path.size() == 1) {
        if (method == "GET")
            return {200, groupsJson()};
        if (method != "POST")
            return methodNotAvailable(method, address);
        const CheckedBody request = checkedBody(body, address, false);
        if (request.refusal)
            return *request.refusal;
        const int number = m_groups.empty() ? 1 : m_groups.rbegin()->first + 1;
        Group group{"Group " + std::to_string(number)};
        if (const std::vector<std::string> errors = setGroup(address, group, request.body, true); !errors.empty())
            return list(errors);
        m_groups[number] = group;
        return list({jsonObject({{"success", jsonObject({{"id", jsonString(std::to_string(number))}})}})});
    }
    // Group 0 is every lamp the bridge has.
    const std::optional<int> number = groupNumber(path[1]);
    const auto found = number ? m_groups.find(*number) : m_groups.end();
    if ((path[1] != "0" && found == m_groups.end()) || path.size() > 3 || (path.size() == 3 && path[2] != "action"))
        return notAvailable(address);
    const std::vector<std::string> lamps = path[1] == "0" ? lampIds() : found->second.lights;
    if (path.size() == 3) {
        if (method == "PUT")
            return groupAction(path[1], lamps, body);
        return methodNotAvailable(method, address);
    }
    if (method == "GET")
        return {200, path[1] == "0" ? groupJson("Group 0", "LightGroup", lamps)
                                    : groupJson(found->second.name, found->second.type, lamps)};
    if (path[1] == "0")
        return methodNotAvailable(method, address);
    if (method == "PUT") {
        const CheckedBody request = checkedBody(body, address);
        if (request.refusal)
            return *request.refusal;
        return list(setGroup(address, found->second, request.body, false));
    }
    if (method == "DELETE") {
        m_groups.erase(found);
        return deleted(address);
    }
    return methodNotAvailable(method, address);
}

// Sets a group's name and lamps, and while it is being made its type. Lists an entry per member,
// but while the group is being made only the errors, and other members are let be.
std::vector<std::string> SimBridge::setGroup(const std::string& address, Group& group, const Body& body, bool making)
{
    std::vector<std::string> entries;
    for (const auto& [key, value] : body) {
        const std::string at = address + "/" + key;
        std::vector<std::string> lamps;
        for (const QJsonValue lamp : value.toArray())
            if (lamp.isString() && findLamp(lamp.toString().toStdString()))
                lamps.push_back(jsonString(lamp.toString().toStdString()));
        if (key == "name" && textOfLength(value, 1, 32)) {
            group.name = value.toString().toStdString();
        } else if (key == "lights" && value.isArray() && std::ssize(lamps) == value.toArray().size()) {
            group.lights.clear();
            for (const QJsonValue lamp : value.toArray())
                group.lights.push_back(lamp.toString().toStdString());
        } else if (key == "type" && making &&
                   (value == QStringLiteral("Room") || value == QStringLiteral("LightGroup"))) {
            group.type = value.toString().toStdString();
        } else if (key == "name" || key == "lights" || (key == "type" && making)) {
            entries.push_back(errorEntry(7, at, invalidValue(value, key)));
            continue;
        } else {
            if (!making)
                entries.push_back(errorEntry(6, at, notAvailableParameter(key)));
            continue;
        }
        if (!making)
            entries.push_back(successEntry(at, key == "name" ? jsonString(group.name) : jsonArray(lamps)));
    }
    return entries;
}

Reply SimBridge::groupAction(const std::string& id, const std::vector<std::string>& lamps, const std::string& body)
{
    const std::string address = "/groups/" + id + "/action";
    const CheckedBody request = checkedBody(body, address);
    if (request.refusal)
        return *request.refusal;
    const bool switchingOn = switchesOn(request.body);
    std::vector<std::string> entries;
    for (const auto& [key, value] : request.body) {
        // The bridge checks an attribute as a lamp that takes everything would, then gives it to
        // each lamp of the group that can take it.
        Lamp probe;
        const Outcome checked = setAttribute(probe, key, value, true);
        if (checked.error) {
            entries.push_back(errorEntry(checked.error, address + "/" + key, checked.text));
            continue;
        }
        for (const std::string& lampId : lamps)
            if (Lamp* lamp = findLamp(lampId))
                (void)setAttribute(*lamp, key, value, lamp->on || switchingOn);
        entries.push_back(successEntry(address + "/" + key, compact(value)));
    }
    return list(entries);
}

Reply SimBridge::config(const std::string& method, const Path& path, const std::string& body)
{
    const std::string address = joined(path);
    if (path.size() == 3 && path[1] == "whitelist") {
        if (m_users.count(path[2]) == 0)
            return notAvailable(address);
        if (method != "DELETE")
            return methodNotAvailable(method, address);
        m_users.erase(path[2]);
        return deleted(address);
    }
    if (path.size() > 1)
        return notAvailable(address);
    if (method == "GET")
        return {200, configJson()};
    if (method != "PUT")
        return methodNotAvailable(method, address);
    const CheckedBody request = checkedBody(body, address);
    if (request.refusal)
        return *request.refusal;
    std::vector<std::string> entries;
    for (const auto& [key, value] : request.body) {
        const std::string at = "/config/" + key;
        if (key == "name" && textOfLength(value, 4, 16)) {
            m_name = value.toString().toStdString();
            entries.push_back(successEntry(at, jsonString(m_name)));
        } else if (key == "linkbutton" && value.isBool()) {
            m_pressedAt = value.toBool() ? std::optional{m_options.clock()} : std::nullopt;
            entries.push_back(successEntry(at, jsonBool(value.toBool())));
        } else if (key == "name" || key == "linkbutton") {
            entries.push_back(errorEntry(7, at, invalidValue(value, key)));
        } else {
            entries.push_back(errorEntry(6, at, notAvailableParameter(key)));
        }
    }
    return list(entries);
}

// Any other collection keeps what it is given.
Reply SimBridge::storedResource(const std::string& method, const Path& path, const std::string& body)
{
    const std::string address = joined(path);
    auto& collection = m_resources[path[0]];
    if (path.size() == 1) {
        if (method == "GET")
            return {200, collectionJson(path[0])};
        if (method == "POST") {
            const std::optional<QJsonObject> request = parseObject(body);
            if (!request)
                return invalidJson(address);
            const std::string id = std::to_string(m_nextResourceId++);
            collection[id] = compact(*request);
            return list({jsonObject({{"success", jsonObject({{"id", jsonString(id)}})}})});
        }
        return methodNotAvailable(method, address);
    }
    const auto found = collection.find(path[1]);
    if (found == collection.end() || path.size() > 2)
        return notAvailable(address);
    if (method == "GET")
        return {200, found->second};
    if (method == "PUT") {
        const std::optional<QJsonObject> request = parseObject(body);
        if (!request)
            return invalidJson(address);
        found->second = compact(*request);
        return list({successEntry(address, found->second)});
    }
    if (method == "DELETE") {
        collection.erase(found);
        return deleted(address);
    }
    return methodNotAvailable(method, address);
}

Lamp* SimBridge::findLamp(const std::string& id)
{
    const auto found = std::find_if(m_lamps.begin(), m_lamps.end(), [&](const Lamp& lamp) { return lamp.id == id; });
    return found == m_lamps.end() ? nullptr : &*found;
}

std::vector<std::string> SimBridge::lampIds() const
{
    std::vector<std::string> ids;
    for (const Lamp& lamp : m_lamps)
        ids.push_back(lamp.id);
    return ids;
}

std::string SimBridge::lampsJson() const
{
    Members lamps;
    for (const Lamp& lamp : m_lamps)
        lamps.emplace_back(lamp.id, lampJson(lamp));
    return jsonObject(lamps);
}

std::string SimBridge::groupJson(const std::string& name, const std::string& type,
                                 const std::vector<std::string>& lamps)
{
    bool all = !lamps.empty();
    bool any = false;
    std::vector<std::string> ids;
    for (const std::string& id : lamps) {
        const Lamp* lamp = findLamp(id);
        all = all && lamp && lamp->on;
        any = any || (lamp && lamp->on);
        ids.push_back(jsonString(id));
    }
    // The group's last action shows as the state of its first lamp.
    const Lamp* first = lamps.empty() ? nullptr : findLamp(lamps.front());
    const Lamp shown = first ? *first : Lamp{};
    Members members{{"name", jsonString(name)},
                    {"lights", jsonArray(ids)},
                    {"sensors", "[]"},
                    {"type", jsonString(type)},
                    {"state", jsonObject({{"all_on", jsonBool(all)}, {"any_on", jsonBool(any)}})},
                    {"recycle", "false"}};
    if (type == "Room")
        members.emplace_back("class", jsonString("Living room"));
    members.emplace_back("action", jsonObject({{"on", jsonBool(shown.on)},
                                               {"bri", std::to_string(shown.bri)},
                                               {"hue", std::to_string(shown.hue)},
                                               {"sat", std::to_string(shown.sat)},
                                               {"effect", jsonString(shown.effect)},
                                               {"xy", jsonArray({jsonNumber(shown.xy.x), jsonNumber(shown.xy.y)})},
                                               {"ct", std::to_string(shown.ct)},
                                               {"alert", jsonString(shown.alert)},
                                               {"colormode", jsonString(shown.colormode)}}));
    return jsonObject(members);
}

std::string SimBridge::groupsJson()
{
    Members groups;
    for (const auto& [number, group] : m_groups)
        groups.emplace_back(std::to_string(number), groupJson(group.name, group.type, group.lights));
    return jsonObject(groups);
}

std::string SimBridge::shortConfigJson() const
{
    return jsonObject({{"name", jsonString(m_name)},
                       {"datastoreversion", jsonString("1")},
                       {"swversion", jsonString(kSwVersion)},
                       {"apiversion", jsonString(kApiVersion)},
                       {"mac", jsonString(macOf(m_options.bridgeId))},
                       {"bridgeid", jsonString(m_options.bridgeId)},
                       {"factorynew", "false"},
                       {"replacesbridgeid", "null"},
                       {"modelid", jsonString(kModelId)},
                       {"starterkitid", jsonString("")}});
}

std::string SimBridge::configJson() const
{
    const std::string& address = m_options.advertisedAddress;
    const std::string host =
        address.starts_with('[') ? address.substr(1, address.find(']') - 1) : address.substr(0, address.rfind(':'));
    Members whitelist;
    for (const auto& [name, user] : m_users)
        whitelist.emplace_back(name, jsonObject({{"last use date", jsonString(user.lastUsed)},
                                                 {"create date", jsonString(user.created)},
                                                 {"name", jsonString(user.devicetype)}}));
    const std::string now = bridgeTime();
    return jsonObject({{"name", jsonString(m_name)},
                       {"zigbeechannel", "15"},
                       {"bridgeid", jsonString(m_options.bridgeId)},
                       {"mac", jsonString(macOf(m_options.bridgeId))},
                       {"dhcp", "true"},
                       {"ipaddress", jsonString(host)},
                       {"netmask", jsonString("255.255.255.0")},
                       {"gateway", jsonString(host)},
                       {"proxyaddress", jsonString("none")},
                       {"proxyport", "0"},
                       {"UTC", jsonString(now)},
                       {"localtime", jsonString(now)},
                       {"timezone", jsonString("Etc/UTC")},
                       {"modelid", jsonString(kModelId)},
                       {"datastoreversion", jsonString("1")},
                       {"swversion", jsonString(kSwVersion)},
                       {"apiversion", jsonString(kApiVersion)},
                       {"linkbutton", jsonBool(linkButtonPressed(m_options.clock()))},
                       {"portalservices", "false"},
                       {"portalconnection", jsonString("disconnected")},
                       {"factorynew", "false"},
                       {"replacesbridgeid", "null"},
                       {"starterkitid", jsonString("")},
                       {"whitelist", jsonObject(whitelist)}});
}

std::string SimBridge::collectionJson(const std::string& name) const
{
    Members members;
    if (const auto found = m_resources.find(name); found != m_resources.end())
        members.assign(found->second.begin(), found->second.end());
    return jsonObject(members);
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
            hexColour(lamp.on ? srgbFromXyBri(lamp.xy.x, lamp.xy.y, lamp.bri) : std::array<std::uint8_t, 3>{0, 0, 0});
        out += (first ? "" : ",") + std::string("{\"id\":") + jsonString(lamp.id) +
               ",\"name\":" + jsonString(lamp.name) + ",\"kind\":" + jsonString(std::string{lampKindName(lamp.kind)}) +
               ",\"on\":" + jsonBool(lamp.on) + ",\"reachable\":" + jsonBool(lamp.reachable) +
               ",\"bri\":" + std::to_string(lamp.bri) + ",\"xy\":[" + jsonNumber(lamp.xy.x) + "," +
               jsonNumber(lamp.xy.y) + "],\"colour\":" + jsonString(colour) + "}";
        first = false;
    }
    out += "],\"linkbutton\":" + jsonBool(linkButtonPressed(m_options.clock())) +
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
    const Reply usage{400, R"({"error":"give {\"count\":N}, {\"names\":[...]} or {\"kinds\":[...]}"})"};
    const std::optional<QJsonObject> request = parseObject(body);
    if (!request)
        return usage;
    std::vector<LampKind> kinds;
    for (const QJsonValue name : request->value(QStringLiteral("kinds")).toArray()) {
        const std::optional<LampKind> kind = lampKindNamed(name.toString().toStdString());
        if (!kind)
            return {400, R"({"error":"a kind is one of extended, colour-a, colour-b, temperature, dimmable"})"};
        kinds.push_back(*kind);
    }
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
    } else if (request->value(QStringLiteral("count")).isDouble() || !kinds.empty()) {
        const int count = request->value(QStringLiteral("count")).toInt(static_cast<int>(kinds.size()));
        for (int i = 1; i <= std::clamp(count, 0, static_cast<int>(kMostLamps)); ++i)
            names.push_back("Lamp " + std::to_string(i));
    } else {
        return usage;
    }
    if (names.size() > kMostLamps)
        names.resize(kMostLamps);
    const std::lock_guard lock{m_mutex};
    resetLamps(names, kinds);
    return {200, lampsJson()};
}

// What a lamp does that no request can change: whether it can be reached.
Reply SimBridge::setLamp(const std::string& id, const std::string& body)
{
    const std::optional<QJsonObject> request = parseObject(body);
    if (!request || !request->value(QStringLiteral("reachable")).isBool())
        return {400, R"({"error":"give {\"reachable\":true|false}"})"};
    const std::lock_guard lock{m_mutex};
    Lamp* lamp = findLamp(id);
    if (!lamp)
        return {404, R"({"error":"no such lamp"})"};
    lamp->reachable = request->value(QStringLiteral("reachable")).toBool();
    return {200, lampJson(*lamp)};
}

Reply SimBridge::handleControl(const std::string& method, const std::string& path, const std::string& body)
{
    if (path == "/sim/linkbutton" && method == "POST") {
        const std::lock_guard lock{m_mutex};
        m_pressedAt = m_options.clock();
        return {200, R"({"pressed":true})"};
    }
    if (path == "/sim/linkbutton" && method == "GET") {
        const std::lock_guard lock{m_mutex};
        return {200, "{\"pressed\":" + jsonBool(linkButtonPressed(m_options.clock())) + "}"};
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
    if (path.starts_with("/sim/lamps/") && (method == "POST" || method == "PUT"))
        return setLamp(path.substr(11), body);
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
        addUser(request->value(QStringLiteral("username")).toString().toStdString(), "glowcast-sim#control");
        return {200, R"({"added":true})"};
    }
    if (path == "/sim/state" && method == "GET")
        return {200, stateJson()};
    return {404, R"({"error":"no such control"})"};
}

} // namespace glowcast::sim
