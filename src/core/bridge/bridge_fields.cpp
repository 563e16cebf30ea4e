#include "core/bridge/bridge_fields.h"

#include <array>
#include <charconv>
#include <cmath>

namespace glowcast {

namespace {

// Far longer than any list field of a lamp record; anything longer is not one.
constexpr std::size_t kLongestListText = 256;
// Below this area three corners do not make a gamut (real ones span about 0.1).
constexpr double kSmallestGamutArea = 1e-3;

// Reads list text token by token, never past its end and never backwards.
class ListReader {
public:
    explicit ListReader(std::string_view text) : m_rest(text) {}

    bool take(char wanted)
    {
        skipSpaces();
        if (m_rest.empty() || m_rest.front() != wanted)
            return false;
        m_rest.remove_prefix(1);
        return true;
    }

    std::optional<double> coordinate()
    {
        skipSpaces();
        double value = 0.0;
        const auto [stop, error] = std::from_chars(m_rest.data(), m_rest.data() + m_rest.size(), value);
        if (error != std::errc{} || !(value >= 0.0 && value <= 1.0))
            return std::nullopt;
        m_rest.remove_prefix(static_cast<std::size_t>(stop - m_rest.data()));
        return value;
    }

    std::optional<Chromaticity> point()
    {
        if (!take('['))
            return std::nullopt;
        const auto x = coordinate();
        if (!x || !take(','))
            return std::nullopt;
        const auto y = coordinate();
        if (!y || !take(']'))
            return std::nullopt;
        return Chromaticity{*x, *y};
    }

    bool atEnd()
    {
        skipSpaces();
        return m_rest.empty();
    }

private:
    void skipSpaces()
    {
        while (!m_rest.empty() && m_rest.front() == ' ')
            m_rest.remove_prefix(1);
    }

    std::string_view m_rest;
};

} // namespace

std::optional<std::int64_t> wholeNumberFrom(const Value* value)
{
    if (value == nullptr)
        return std::nullopt;
    if (const auto number = value->asNumber()) {
        if (!std::isfinite(*number) || std::trunc(*number) != *number || std::abs(*number) > 1e15)
            return std::nullopt;
        return static_cast<std::int64_t>(*number);
    }
    const std::string* text = value->asText();
    if (text == nullptr || text->empty())
        return std::nullopt;
    std::int64_t whole = 0;
    const char* end = text->data() + text->size();
    const auto [stop, error] = std::from_chars(text->data(), end, whole);
    if (error != std::errc{} || stop != end)
        return std::nullopt;
    return whole;
}

std::optional<bool> flagFrom(const Value* value)
{
    if (value == nullptr)
        return std::nullopt;
    if (const auto flag = value->asBool())
        return flag;
    if (const std::string* text = value->asText(); text != nullptr && (*text == "true" || *text == "false"))
        return *text == "true";
    return std::nullopt;
}

std::optional<Chromaticity> chromaticityFrom(std::string_view text)
{
    if (text.size() > kLongestListText)
        return std::nullopt;
    ListReader reader(text);
    auto point = reader.point();
    if (!point || !reader.atEnd())
        return std::nullopt;
    return point;
}

std::optional<Gamut> gamutFrom(std::string_view text)
{
    if (text.size() > kLongestListText)
        return std::nullopt;
    ListReader reader(text);
    if (!reader.take('['))
        return std::nullopt;
    Gamut gamut;
    for (std::size_t i = 0; i < gamut.corners.size(); ++i) {
        if (i > 0 && !reader.take(','))
            return std::nullopt;
        const auto corner = reader.point();
        if (!corner)
            return std::nullopt;
        gamut.corners[i] = *corner;
    }
    if (!reader.take(']') || !reader.atEnd())
        return std::nullopt;
    const auto& [a, b, c] = gamut.corners;
    const double area = std::abs((b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x)) / 2.0;
    if (area < kSmallestGamutArea)
        return std::nullopt;
    return gamut;
}

} // namespace glowcast
