#include "core/lamp_care/lamp_care_settings.h"

namespace glowcast {

namespace {

// The settings table holds each number within its row's range, which fits an int.
std::optional<int> unlessOff(std::int64_t number)
{
    if (number == 0)
        return std::nullopt;
    return static_cast<int>(number);
}

} // namespace

LampCareSettings lampCareSettingsFrom(const Settings& settings)
{
    LampCareSettings care;
    care.fade = unlessOff(settings.number("fade"));
    care.switchOn = settings.flag("switchOn");
    care.minimumBrightness = unlessOff(settings.number("minimumBrightness"));
    care.fitLamp = settings.flag("fitLamp");
    care.pace = unlessOff(settings.number("pace"));
    care.skipUnchanged = settings.flag("skipUnchanged");
    if (const auto seconds = unlessOff(settings.number("restoreAfter")))
        care.restoreAfter = std::chrono::seconds{*seconds};
    return care;
}

} // namespace glowcast
