#include "glowcastctl/commands.h"

#include "adapters/qt/program_command_line.h"
#include "core/json/json_codec.h"
#include "core/text/log_text.h"

#include <cstdio>
#include <iostream>
#include <iterator>
#include <string>

namespace glowcast::ctl {

namespace {

void appendPretty(std::string& out, const Dictionary& dictionary, int indent)
{
    if (dictionary.empty()) {
        out += "{}";
        return;
    }
    out += "{\n";
    for (std::size_t i = 0; i < dictionary.size(); ++i) {
        out.append(static_cast<std::size_t>(indent + 2), ' ');
        appendJsonString(out, dictionary.keys()[i]);
        out += ": ";
        const Value& value = dictionary.valueAt(i);
        if (const Dictionary* nested = value.asDictionary())
            appendPretty(out, *nested, indent + 2);
        else if (const std::string* text = value.asText())
            appendJsonString(out, *text);
        else
            appendJsonString(out, describe(value));
        out += i + 1 < dictionary.size() ? ",\n" : "\n";
    }
    out.append(static_cast<std::size_t>(indent), ' ');
    out += '}';
}

} // namespace

int runDecode(Arguments args)
{
    ProgramCommandLine line(
        QStringLiteral("glowcastctl decode"),
        QStringLiteral("Reads a bridge or portal reply on standard input and prints, as JSON, the dictionary\n"
                       "Glowcast makes of it: every leaf a text, keys in the order Glowcast keeps them."));
    line.addVerboseOption();
    if (const std::optional<int> status = line.parse(args, 0, 0))
        return *status;
    const std::string reply{std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>()};
    if (std::cin.bad()) {
        std::fprintf(stderr, "glowcastctl decode: could not read standard input\n");
        return 1;
    }
    CommandLog log(line.verbose());
    std::string out;
    appendPretty(out, dictionaryFromJSON(reply, log), 0);
    out += '\n';
    std::fwrite(out.data(), 1, out.size(), stdout);
    return 0;
}

} // namespace glowcast::ctl
