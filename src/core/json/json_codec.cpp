#include "core/json/json_codec.h"

#include "core/text/log_text.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <variant>

namespace glowcast {

namespace {

// Replies from the bridge nest three levels deep at most (lamp, state, value). Beyond this many
// levels a value that starts with "{" stays text, so a hostile reply of a million braces costs
// neither the stack nor more than this many passes over its text.
constexpr int kMaxNesting = 32;

// One reply's working goes to the log up to this many bytes, each line counted as the log writes
// it: at most kLongestLogLine, after a stamp of some 40 bytes. A bridge's lamp list of a few dozen
// lamps needs a fraction of it; past it, lines are only counted, so no reply makes the log much
// larger than a megabyte.
constexpr std::size_t kWorkingLogBudget = std::size_t{1} << 20;
constexpr std::size_t kLogStampBytes = 40;

constexpr std::string_view kOuterTrimSet = "[{}]";
constexpr std::string_view kPieceTrimSet = "\" ";

// The number as the bridge is sent it: truncated toward zero to a 32-bit integer. Values outside
// that range are clamped to it, and a value that is not a number at all is written as 0.
std::int32_t truncatedNumber(double number)
{
    if (std::isnan(number))
        return 0;
    if (number >= static_cast<double>(std::numeric_limits<std::int32_t>::max()))
        return std::numeric_limits<std::int32_t>::max();
    if (number <= static_cast<double>(std::numeric_limits<std::int32_t>::min()))
        return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(number);
}

std::int32_t truncatedNumber(std::int64_t number)
{
    if (number > std::numeric_limits<std::int32_t>::max())
        return std::numeric_limits<std::int32_t>::max();
    if (number < std::numeric_limits<std::int32_t>::min())
        return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(number);
}

bool isBareText(const std::string& text)
{
    return text == "true" || text == "false" || (!text.empty() && text.front() == '[');
}

void encodeInto(std::string& out, const Dictionary& dictionary)
{
    out += '{';
    for (std::size_t i = 0; i < dictionary.size(); ++i) {
        if (i > 0)
            out += ',';
        out += '"';
        out += dictionary.keys()[i];
        out += "\":";
        const auto& storage = dictionary.valueAt(i).storage();
        if (const auto* nested = std::get_if<Dictionary>(&storage)) {
            encodeInto(out, *nested);
        } else if (const auto* integer = std::get_if<std::int64_t>(&storage)) {
            out += std::to_string(truncatedNumber(*integer));
        } else if (const auto* floating = std::get_if<double>(&storage)) {
            out += std::to_string(truncatedNumber(*floating));
        } else if (const auto* text = std::get_if<std::string>(&storage)) {
            // An empty text has no first character to look at; it is written as the empty
            // quoted text "" like any other plain text.
            if (isBareText(*text)) {
                out += *text;
            } else {
                out += '"';
                out += *text;
                out += '"';
            }
        } else if (const auto* flag = std::get_if<bool>(&storage)) {
            // Never sent by the system; written the way the bridge spells a flag.
            out += *flag ? "true" : "false";
        }
    }
    out += '}';
}

std::string_view trimmed(std::string_view text, std::string_view set)
{
    const auto first = text.find_first_not_of(set);
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(set);
    return text.substr(first, last - first + 1);
}

// The text with every comma that separates top-level entries turned into "|". Quotes, brackets
// and braces change the state wherever they stand, inside quotes too; a backslash is an ordinary
// character, and the in-list state is a flag, not a count.
std::string separatedForm(std::string_view text)
{
    std::string separated(text);
    bool inQuotes = false;
    bool inList = false;
    std::int64_t depth = 0;
    for (char& c : separated) {
        switch (c) {
        case '"':
            inQuotes = !inQuotes;
            break;
        case '[':
            inList = true;
            break;
        case ']':
            inList = false;
            break;
        case '{':
            ++depth;
            break;
        case '}':
            --depth;
            break;
        case ',':
            if (!inQuotes && !inList && depth <= 0)
                c = '|';
            break;
        default:
            break;
        }
    }
    return separated;
}

// The log of one reply's working, within its budget.
class WorkingLog {
public:
    explicit WorkingLog(Log& log) : m_log(log) {}
    [[nodiscard]] bool open() const { return m_left > 0; }
    void write(const std::string& line)
    {
        const std::size_t cost = std::min(line.size(), kLongestLogLine) + kLogStampBytes;
        if (cost > m_left) {
            m_left = 0;
            skip();
            return;
        }
        m_left -= cost;
        m_log.write(line);
    }
    void skip() { ++m_leftOut; }
    void finish()
    {
        if (m_leftOut > 0)
            m_log.write("parsing: " + std::to_string(m_leftOut) + " more lines of this reply's working left out");
    }

private:
    Log& m_log;
    std::size_t m_left = kWorkingLogBudget;
    std::size_t m_leftOut = 0;
};

Dictionary decode(std::string_view text, WorkingLog& log, int nesting)
{
    Dictionary result;
    const std::string separated = separatedForm(trimmed(text, kOuterTrimSet));
    if (log.open())
        log.write("parsing: " + separated);
    else
        log.skip();

    std::string_view rest = separated;
    while (true) {
        const auto bar = rest.find('|');
        const std::string_view piece = rest.substr(0, bar);
        const auto colon = piece.find(':');
        if (colon != std::string_view::npos) {
            std::string key(trimmed(piece.substr(0, colon), kPieceTrimSet));
            log.write("left part '" + key + "'");
            const std::string_view value = trimmed(piece.substr(colon + 1), kPieceTrimSet);
            if (!value.empty() && value.front() == '{') {
                if (nesting < kMaxNesting) {
                    result.set(std::move(key), decode(value, log, nesting + 1));
                } else {
                    log.write("nesting deeper than " + std::to_string(kMaxNesting) + " levels; value under '" + key +
                              "' kept as text");
                    result.set(std::move(key), std::string(value));
                }
            } else {
                result.set(std::move(key), std::string(value));
            }
        }
        if (bar == std::string_view::npos)
            break;
        rest.remove_prefix(bar + 1);
    }

    // Lines past the budget are not even made: printing a large result takes time.
    if (log.open())
        log.write("returnValue:" + describe(result));
    else
        log.skip();
    return result;
}

} // namespace

std::string JSONFromDictionary(const Dictionary& dictionary)
{
    std::string out;
    encodeInto(out, dictionary);
    return out;
}

Dictionary dictionaryFromJSON(std::string_view text, Log& log)
{
    WorkingLog working(log);
    Dictionary result = decode(text, working, 0);
    working.finish();
    return result;
}

} // namespace glowcast
