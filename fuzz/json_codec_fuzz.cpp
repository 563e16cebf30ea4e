// Feeds the reply reader arbitrary text and checks what it must always hold: no crash, no hang,
// and an encoding of whatever it made that it reads back without trouble. The same bytes also
// build a dictionary whose keys and texts avoid every character the codec treats specially and
// whose numbers are whole: the decoder must give it back as it went in, numbers as their text.
#include "core/json/json_codec.h"
#include "fuzz_support.h"

#include <fuzzer/FuzzedDataProvider.h>

namespace {

using glowcast::Dictionary;

std::string word(FuzzedDataProvider& input, bool nonEmpty)
{
    static constexpr std::string_view kAlphabet = "abcdefghijklmnopqrstuvwxyzABCXYZ0123456789 -_./#?!=+";
    std::string text;
    for (std::size_t length = input.ConsumeIntegralInRange<std::size_t>(0, 12); length > 0; --length)
        text += kAlphabet[input.ConsumeIntegralInRange<std::size_t>(0, kAlphabet.size() - 1)];
    // Spaces at either end are trimmed by the reader, as the bridge's own replies never have them.
    const std::size_t first = text.find_first_not_of(' ');
    text = first == std::string::npos ? "" : text.substr(first, text.find_last_not_of(' ') - first + 1);
    return text.empty() && nonEmpty ? "k" : text;
}

// Fills in what the decoder should give back beside the dictionary to encode. Nested dictionaries
// are never empty: an empty object that ends a text comes back as an empty text, the reader's way.
void make(FuzzedDataProvider& input, Dictionary& sent, Dictionary& expected, int depth)
{
    for (int entries = input.ConsumeIntegralInRange(depth == 0 ? 0 : 1, 5); entries > 0; --entries) {
        const std::string key = word(input, true);
        const int kind = input.ConsumeIntegralInRange(0, depth < 3 ? 3 : 2);
        if (kind == 1) {
            const int number = input.ConsumeIntegralInRange(-100000, 100000);
            sent.set(key, number);
            expected.set(key, std::to_string(number));
        } else if (kind == 3) {
            Dictionary nestedSent;
            Dictionary nestedExpected;
            make(input, nestedSent, nestedExpected, depth + 1);
            sent.set(key, std::move(nestedSent));
            expected.set(key, std::move(nestedExpected));
        } else { // a text, or a flag as its text
            const std::string text = kind == 0 ? word(input, false) : input.ConsumeBool() ? "true" : "false";
            sent.set(key, text);
            expected.set(key, text);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    glowcast::NullLog log;
    const Dictionary result = glowcast::dictionaryFromJSON(glowcast::fuzz::textOf(data, size), log);
    (void)glowcast::dictionaryFromJSON(glowcast::JSONFromDictionary(result), log);

    FuzzedDataProvider input(data, size);
    Dictionary sent;
    Dictionary expected;
    make(input, sent, expected, 0);
    glowcast::fuzz::require(glowcast::dictionaryFromJSON(glowcast::JSONFromDictionary(sent), log) == expected);
    return 0;
}
