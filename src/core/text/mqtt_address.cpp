#include "core/text/mqtt_address.h"

#include "core/text/url_text.h"

#include <algorithm>
#include <charconv>

namespace glowcast {

namespace {

constexpr std::string_view kMqttScheme = "mqtt://";

// A topic level a broker takes as it is: not empty, no wildcard, no NUL or control character.
bool isTopicLevel(std::string_view level)
{
    return !level.empty() && std::none_of(level.begin(), level.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return c == '+' || c == '#' || byte < 0x20 || byte == 0x7f;
    });
}

} // namespace

bool isUtf8(std::string_view text)
{
    for (std::size_t at = 0; at < text.size();) {
        const auto lead = static_cast<unsigned char>(text[at]);
        const std::size_t length = lead < 0x80                   ? 1
                                   : lead >= 0xc2 && lead < 0xe0 ? 2
                                   : lead >= 0xe0 && lead < 0xf0 ? 3
                                   : lead >= 0xf0 && lead < 0xf5 ? 4
                                                                 : 0;
        if (length == 0 || at + length > text.size())
            return false;
        char32_t point = length == 1 ? lead : lead & (0x7f >> length);
        for (std::size_t i = 1; i < length; ++i) {
            const auto next = static_cast<unsigned char>(text[at + i]);
            if ((next & 0xc0) != 0x80)
                return false;
            point = (point << 6) | (next & 0x3f);
        }
        constexpr char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
        if (point < kLeast[length] || point > 0x10ffff || (point >= 0xd800 && point < 0xe000) ||
            (point >= 0x80 && point < 0xa0))
            return false;
        at += length;
    }
    return true;
}

bool isBrokerUser(std::string_view user)
{
    return !user.empty() && user.size() <= kLongestBrokerUser && isUtf8(user) &&
           std::none_of(user.begin(), user.end(),
                        [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; });
}

bool isMqttTopic(std::string_view topic)
{
    if (topic.size() > kLongestBaseTopic || !isUtf8(topic))
        return false;
    for (std::size_t start = 0;;) {
        const std::size_t slash = topic.find('/', start);
        if (!isTopicLevel(topic.substr(start, slash == std::string_view::npos ? slash : slash - start)))
            return false;
        if (slash == std::string_view::npos)
            return true;
        start = slash + 1;
    }
}

std::optional<MqttAddress> parseMqttAddress(std::string_view address, std::string_view defaultBase)
{
    if (!address.starts_with(kMqttScheme))
        return std::nullopt;
    address.remove_prefix(kMqttScheme.size());
    const std::size_t slash = address.find('/');
    const std::string_view authority = address.substr(0, slash);
    if (!isUrlHost(authority))
        return std::nullopt;
    MqttAddress parsed;
    parsed.baseTopic = std::string{defaultBase};
    // isUrlHost has checked the port's digits and range; what follows the last ':' outside brackets is it.
    const std::size_t close = authority.find(']');
    const std::size_t colon = authority.find(':', close == std::string_view::npos ? 0 : close);
    const std::string_view host = authority.substr(0, colon);
    if (colon != std::string_view::npos) {
        const std::string_view port = authority.substr(colon + 1);
        std::from_chars(port.data(), port.data() + port.size(), parsed.port);
    }
    parsed.host = host.front() == '[' ? std::string{host.substr(1, host.size() - 2)} : std::string{host};
    if (slash != std::string_view::npos && slash + 1 < address.size()) {
        const std::string_view base = address.substr(slash + 1);
        if (!isMqttTopic(base))
            return std::nullopt;
        parsed.baseTopic = std::string{base};
    }
    return parsed;
}

} // namespace glowcast
