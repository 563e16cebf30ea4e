#include "core/lamp_care/lamp_restorer.h"

#include "core/lamp_care/bridge_fields.h"

namespace glowcast {

std::optional<Dictionary> restoreBodyFrom(std::string_view lampId, const Dictionary& record, Log& log)
{
    const Dictionary* nested = record.dictionary("state");
    const Dictionary& state = nested != nullptr ? *nested : record;
    Dictionary body;
    std::string unusable;
    const auto note = [&unusable](std::string_view key) {
        unusable += (unusable.empty() ? "'" : ", '") + std::string{key} + "'";
    };
    // Copies a whole number in lowest..highest; a present field that is anything else is noted.
    const auto copyWhole = [&](std::string_view key, std::int64_t lowest, std::int64_t highest) {
        const Value* value = state.find(key);
        if (value == nullptr)
            return;
        const auto whole = wholeNumberFrom(value);
        if (whole && *whole >= lowest && *whole <= highest)
            body.set(std::string{key}, *whole);
        else
            note(key);
    };

    const auto on = flagFrom(state.find("on"));
    if (!on && state.contains("on"))
        note("on");
    if (on && *on)
        body.set("on", true);
    copyWhole("bri", 0, 255);
    const std::optional<std::string> mode = state.text("colormode");
    if (mode == "xy") {
        const std::optional<std::string> xy = state.text("xy");
        if (const auto point = xy ? chromaticityFrom(*xy) : std::nullopt)
            body.set("xy", chromaticityText(*point));
        else
            note("xy");
    } else if (mode == "ct") {
        copyWhole("ct", 1, 1000);
    } else if (mode == "hs") {
        copyWhole("hue", 0, 65535);
        copyWhole("sat", 0, 255);
    } else if (mode || state.contains("colormode")) {
        note("colormode");
    }
    if (on && !*on)
        body.set("on", false);

    if (!unusable.empty())
        log.write("lamp " + std::string{lampId} + ": state " + unusable + " unusable, not put back");
    if (body.empty())
        return std::nullopt;
    return body;
}

} // namespace glowcast
