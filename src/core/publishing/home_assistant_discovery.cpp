#include "core/publishing/home_assistant_discovery.h"

#include "core/settings/settings.h"
#include "core/text/log_text.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <cstdio>

namespace glowcast {

namespace {

constexpr std::size_t kNodeDigits = 8;
constexpr std::string_view kCommandSuffix = "/set";
// A payload is quoted in a log line at most this long: a command is a word.
constexpr std::size_t kShownPayload = 64;

std::span<const std::string_view> paletteChoices()
{
    return findSetting("palette")->choices;
}

// "[\"a\",\"b\"]"
std::string jsonList(std::span<const std::string_view> texts)
{
    std::string list = "[";
    for (const std::string_view text : texts)
        list += (list.size() > 1 ? "," : "") + jsonString(text);
    return list + "]";
}

// One entity's config: its fields (each value JSON already) in order, then the availability and the device.
std::string entityConfig(const HomeAssistantDevice& device, const PublishedTopics& topics,
                         std::initializer_list<std::pair<std::string_view, std::string>> fields)
{
    std::string json = "{";
    for (const auto& [key, value] : fields)
        json += jsonString(key) + ":" + value + ",";
    const std::array<std::string_view, 1> identifiers{device.nodeId};
    return json + "\"availability_topic\":" + jsonString(topics.status) +
           ",\"device\":{\"identifiers\":" + jsonList(identifiers) +
           ",\"name\":" + jsonString("Glowcast (" + device.hostName + ")") + "}}";
}

// A switch or a select: a command topic and its state topic.
std::string commandable(const std::string& stateTopic)
{
    return jsonString(stateTopic + std::string{kCommandSuffix});
}

std::string refusal(std::string_view topic, std::string_view options, std::string_view payload)
{
    return "mqtt: \"" + printable(topic) + "\" takes " + std::string{options} + ", not \"" +
           printable(payload, kShownPayload) + "\"; nothing changed";
}

} // namespace

PublishedTopics::PublishedTopics(std::string_view base)
    : status(std::string{base} + "/status"), palette(std::string{base} + "/palette"),
      following(std::string{base} + "/following"), paletteName(std::string{base} + "/palette_name"),
      pinned(std::string{base} + "/pinned")
{
}

std::vector<std::string> PublishedTopics::commandTopics() const
{
    return {following + std::string{kCommandSuffix}, paletteName + std::string{kCommandSuffix},
            pinned + std::string{kCommandSuffix}};
}

std::string homeAssistantNodeId(std::string_view machineId, std::string_view hostName, Log& log)
{
    const std::string_view digits = machineId.substr(0, kNodeDigits);
    if (digits.size() == kNodeDigits && std::all_of(digits.begin(), digits.end(), [](char c) {
            return std::isxdigit(static_cast<unsigned char>(c));
        })) {
        std::string node = "glowcast_";
        for (const char c : digits)
            node += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return node;
    }
    std::uint32_t hash = 2'166'136'261u;
    for (const char c : hostName)
        hash = (hash ^ static_cast<unsigned char>(c)) * 16'777'619u;
    std::array<char, kNodeDigits + 1> hex{};
    std::snprintf(hex.data(), hex.size(), "%08x", static_cast<unsigned>(hash));
    std::string node = "glowcast_" + std::string{hex.data()};
    log.write("mqtt: no machine id to tell this computer by (/etc/machine-id is missing or holds fewer than 8 "
              "hexadecimal digits); Home Assistant's node id is made from the host name \"" +
              printable(hostName) + "\": " + node);
    return node;
}

std::vector<MqttMessage> discoveryConfigs(const HomeAssistantDevice& device)
{
    const PublishedTopics topics{device.base};
    const auto topic = [&](std::string_view component, std::string_view object) {
        return device.discoveryPrefix + "/" + std::string{component} + "/" + device.nodeId + "/" + std::string{object} +
               "/config";
    };
    const auto id = [&](std::string_view object) { return jsonString(device.nodeId + "_" + std::string{object}); };
    return {
        {topic("sensor", "palette"), entityConfig(device, topics,
                                                  {{"name", jsonString("Palette")},
                                                   {"unique_id", id("palette")},
                                                   {"state_topic", jsonString(topics.palette)},
                                                   {"value_template", jsonString("{{ value_json.colours[0] }}")},
                                                   {"json_attributes_topic", jsonString(topics.palette)},
                                                   {"icon", jsonString("mdi:palette")}})},
        {topic("switch", "following"), entityConfig(device, topics,
                                                    {{"name", jsonString("Follow covers")},
                                                     {"unique_id", id("following")},
                                                     {"state_topic", jsonString(topics.following)},
                                                     {"command_topic", commandable(topics.following)},
                                                     {"icon", jsonString("mdi:image-sync")}})},
        {topic("select", "palette_name"), entityConfig(device, topics,
                                                       {{"name", jsonString("Palette style")},
                                                        {"unique_id", id("palette_name")},
                                                        {"state_topic", jsonString(topics.paletteName)},
                                                        {"command_topic", commandable(topics.paletteName)},
                                                        {"options", jsonList(paletteChoices())},
                                                        {"icon", jsonString("mdi:palette-swatch")}})},
        {topic("switch", "pinned"), entityConfig(device, topics,
                                                 {{"name", jsonString("Pin colours")},
                                                  {"unique_id", id("pinned")},
                                                  {"state_topic", jsonString(topics.pinned)},
                                                  {"command_topic", commandable(topics.pinned)},
                                                  {"icon", jsonString("mdi:pin")}})},
    };
}

std::variant<HomeAssistantCommand, std::string> homeAssistantCommand(const PublishedTopics& topics,
                                                                     std::string_view topic, std::string_view payload)
{
    if (!topic.ends_with(kCommandSuffix))
        return "mqtt: \"" + printable(topic) + "\" takes no command";
    const std::string_view state = topic.substr(0, topic.size() - kCommandSuffix.size());
    if (state == topics.paletteName) {
        const auto choices = paletteChoices();
        if (std::find(choices.begin(), choices.end(), payload) == choices.end()) {
            std::string options;
            for (std::size_t i = 0; i < choices.size(); ++i)
                options += (i == 0 ? "" : i + 1 == choices.size() ? " or " : ", ") + std::string{choices[i]};
            return refusal(topic, options, payload);
        }
        return HomeAssistantCommand{HomeAssistantCommand::Action::Palette, false, std::string{payload}};
    }
    const bool follow = state == topics.following;
    if (!follow && state != topics.pinned)
        return "mqtt: \"" + printable(topic) + "\" takes no command";
    if (payload != "ON" && payload != "OFF")
        return refusal(topic, "ON or OFF", payload);
    return HomeAssistantCommand{
        follow ? HomeAssistantCommand::Action::Follow : HomeAssistantCommand::Action::Pin, payload == "ON", {}};
}

std::string switchState(bool on)
{
    return on ? "ON" : "OFF";
}

} // namespace glowcast
