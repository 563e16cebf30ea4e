#include "adapters/homeassistant/home_assistant_states.h"

#include "core/lamp_systems/home_assistant_light.h"
#include "core/text/log_text.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <set>

namespace glowcast {
namespace {

QJsonDocument parsed(std::string_view reply, QJsonParseError* error)
{
    return QJsonDocument::fromJson(QByteArray(reply.data(), static_cast<qsizetype>(reply.size())), error);
}

std::optional<int> wholeNumber(const QJsonValue& value)
{
    if (!value.isDouble())
        return std::nullopt;
    const double number = value.toDouble();
    if (!(number >= -1e9 && number <= 1e9))
        return std::nullopt;
    return static_cast<int>(number);
}

bool hasControlCharacter(const QString& text)
{
    return std::ranges::any_of(text, [](QChar c) { return c.category() == QChar::Other_Control; });
}

} // namespace

std::optional<std::vector<HomeAssistantLight>>
readHomeAssistantStates(std::string_view reply, std::string_view logPrefix, Log& log, std::size_t mostLights)
{
    QJsonParseError error{};
    const QJsonDocument document = parsed(reply, &error);
    if (!document.isArray()) {
        log.write(logLine(std::string{logPrefix} + "the states are not a JSON list (" +
                          (document.isNull() ? error.errorString().toStdString() : std::string{"another value"}) +
                          "): " + std::string{reply.substr(0, 80)}));
        return std::nullopt;
    }
    std::vector<HomeAssistantLight> lights;
    std::set<std::string> seen;
    std::size_t leftOut = 0;
    for (const QJsonValue& each : document.array()) {
        const QJsonObject entity = each.toObject();
        const std::string id = entity.value(QStringLiteral("entity_id")).toString().toStdString();
        if (!id.starts_with("light."))
            continue;
        if (!isHomeAssistantLightId(id) || !seen.insert(id).second) {
            log.write(logLine(std::string{logPrefix} + "light '" + id.substr(0, 210) +
                              "' left out: its entity id is not plain or came before"));
            continue;
        }
        if (lights.size() == mostLights) {
            ++leftOut;
            continue;
        }
        const QJsonObject attributes = entity.value(QStringLiteral("attributes")).toObject();
        std::vector<std::string> modes;
        for (const QJsonValue& mode : attributes.value(QStringLiteral("supported_color_modes")).toArray())
            modes.push_back(mode.toString().toStdString());
        HomeAssistantLight light;
        light.entityId = id;
        const QString name = attributes.value(QStringLiteral("friendly_name")).toString().left(200);
        light.name = name.isEmpty() || hasControlCharacter(name) ? id : name.toStdString();
        light.capabilities =
            homeAssistantCapabilities(modes, wholeNumber(attributes.value(QStringLiteral("min_color_temp_kelvin"))),
                                      wholeNumber(attributes.value(QStringLiteral("max_color_temp_kelvin"))));
        const QString state = entity.value(QStringLiteral("state")).toString();
        light.available = state != QLatin1String("unavailable");
        light.on = state == QLatin1String("on");
        lights.push_back(std::move(light));
    }
    if (leftOut > 0)
        log.write(logLine(std::string{logPrefix} + "more than " + std::to_string(mostLights) + " lights; " +
                          std::to_string(leftOut) + " left out"));
    return lights;
}

std::optional<ReadLampState> readHomeAssistantState(std::string_view reply)
{
    const QJsonDocument document = parsed(reply, nullptr);
    const QJsonObject entity = document.object();
    const QJsonValue state = entity.value(QStringLiteral("state"));
    if (!document.isObject() || !state.isString() || state.toString() == QLatin1String("unavailable"))
        return std::nullopt;
    const QJsonObject attributes = entity.value(QStringLiteral("attributes")).toObject();
    const QJsonArray xy = attributes.value(QStringLiteral("xy_color")).toArray();
    std::optional<Chromaticity> point;
    if (xy.size() == 2 && xy[0].isDouble() && xy[1].isDouble())
        point = Chromaticity{std::clamp(xy[0].toDouble(), 0.0, 1.0), std::clamp(xy[1].toDouble(), 0.0, 1.0)};
    std::optional<int> brightness = wholeNumber(attributes.value(QStringLiteral("brightness")));
    if (brightness)
        brightness = std::clamp(*brightness, 0, 255);
    return homeAssistantReadState(state.toString() == QLatin1String("on"),
                                  attributes.value(QStringLiteral("color_mode")).toString().toStdString(), brightness,
                                  point, wholeNumber(attributes.value(QStringLiteral("color_temp_kelvin"))));
}

} // namespace glowcast
