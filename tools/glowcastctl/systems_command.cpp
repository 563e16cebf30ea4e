// glowcastctl systems: the lamp systems beside the first bridge, listed, added, paced and removed, in
// the running Glowcast over its control interface, else in the preferences file it reads at its start.

#include "adapters/files/regular_file.h"
#include "adapters/files/system_secrets.h"
#include "core/lamp_systems/system_address.h"
#include "core/lamp_systems/system_kinds.h"
#include "glowcastctl/commands.h"
#include "glowcastctl/control_client.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <filesystem>
#include <vector>

namespace glowcast::ctl {

namespace {

constexpr const char* kCommand = "systems";
constexpr int kLowestPace = 1;
constexpr int kHighestPace = 1000;

// One line per system: ID<TAB>KIND<TAB>ADDRESS<TAB>STATE<TAB>LATENCY, the state one word, then any
// detail; the latency its median ("412 ms"), or "-" before its first answered state. Each field as the
// log shows it: a detail may quote a peer (a redirect's target), and the file or the service may hold
// anything.
void printSystem(std::string_view id, std::string_view kind, std::string_view address, std::string_view state,
                 std::string_view detail, std::optional<uint> median = std::nullopt)
{
    std::printf("%s\t%s\t%s\t%s%s%s\t%s\n", printable(id).c_str(), printable(kind).c_str(), printable(address).c_str(),
                printable(state).c_str(), detail.empty() ? "" : " ", printable(detail).c_str(),
                median ? (std::to_string(*median) + " ms").c_str() : "-");
}

std::vector<SystemRecord> recordsOf(const QList<ControlSystemRecord>& rows)
{
    std::vector<SystemRecord> records;
    for (const ControlSystemRecord& row : rows)
        records.push_back({row.id.toStdString(),
                           systemKindNamed(row.kind.toStdString()).value_or(SystemKind::Bridge),
                           row.address.toStdString(),
                           {},
                           {}});
    return records;
}

// A pace as given: 1..1000 lamp states a second, or "default" (nothing) for the kind's own; not valid
// for anything else.
struct PaceWord {
    bool valid = false;
    std::optional<int> pace;
};
PaceWord parsePace(const std::string& text)
{
    if (text == "default")
        return {true, std::nullopt};
    int pace = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), pace);
    if (error != std::errc{} || end != text.data() + text.size() || pace < kLowestPace || pace > kHighestPace)
        return {};
    return {true, pace};
}

struct AddRequest {
    SystemKind kind = SystemKind::Bridge;
    std::string address;
    std::optional<std::string> user;
    std::optional<std::string> password; // read from the file given, never printed
    std::optional<std::string> token;    // likewise
    std::optional<std::string> ca;       // a PEM certificate to pin
};

[[nodiscard]] bool hasFiles(const AddRequest& request)
{
    return request.password || request.token || request.ca;
}

// Writes the system's password, token and CA files; nothing when every one was stored, else why not.
[[nodiscard]] std::optional<std::string> storeFiles(const std::filesystem::path& directory, const std::string& id,
                                                    const AddRequest& request)
{
    std::optional<std::string> error;
    if (request.password)
        error = storeSystemPassword(directory, id, *request.password);
    if (!error && request.token)
        error = storeSystemToken(directory, id, *request.token);
    if (!error && request.ca)
        error = storeSystemCa(directory, id, *request.ca);
    return error;
}

// A token as the user gives it: by the password file's rules, and printable ASCII, since it goes into
// a header field. The reason it cannot be used, else nothing; never the token.
[[nodiscard]] std::optional<std::string> readTokenFile(const std::string& file, AddRequest& request)
{
    PasswordRead read = readPasswordFile(file);
    if (!read.password)
        return read.error;
    if (!std::ranges::all_of(*read.password, [](char c) { return c > ' ' && c < 0x7f; }))
        return file + ": a token is one word of printable ASCII";
    request.token = std::move(read.password);
    return std::nullopt;
}

// One "systems add" entry a kind, in the table's order: the kind's arguments, then what it adds in the help
// column; on a line of its own when the arguments reach into that column.
std::string addUsage()
{
    constexpr std::size_t kHelpColumn = 37;
    const std::string indent(kHelpColumn, ' ');
    std::string usage;
    for (const SystemKindRow& row : systemKinds()) {
        std::string line = "  systems add " + std::string{row.name} + " " + std::string{row.usageArguments};
        if (line.size() > kHelpColumn)
            line += "\n" + indent;
        else
            line.resize(std::max(kHelpColumn, line.size() + 2), ' ');
        for (std::string_view help = row.usageHelp;;) {
            const std::size_t end = help.find('\n');
            line += help.substr(0, end);
            line += '\n';
            if (end == std::string_view::npos)
                break;
            help.remove_prefix(end + 1);
            line += indent;
        }
        usage += line;
    }
    return usage;
}

int list(Context& context)
{
    if (const auto running = RunningGlowcast::find()) {
        const QDBusMessage reply = running->call("Systems");
        if (reply.type() == QDBusMessage::ErrorMessage)
            return reportError(kCommand, reply);
        // The figures travel in Status, beside the rows Systems has always had.
        const QDBusMessage status = running->call("Status");
        const ControlLatencies latencies = status.signature() == QStringLiteral("a{sv}")
                                               ? latenciesOf(qdbus_cast<QVariantMap>(status.arguments().value(0)))
                                               : ControlLatencies{};
        for (const ControlSystemRecord& row : qdbus_cast<QList<ControlSystemRecord>>(reply.arguments().value(0))) {
            const auto figures = latencies.constFind(row.id);
            printSystem(row.id.toStdString(), row.kind.toStdString(), row.address.toStdString(),
                        row.state.toStdString(), row.detail.toStdString(),
                        figures == latencies.cend() ? std::nullopt : std::optional{figures->median});
        }
        return 0;
    }
    FilePreferences preferences{context.log, FilePreferences::defaultDirectory()};
    for (const SystemRecord& record : preferences.systems())
        printSystem(record.id, systemKindName(record.kind), record.address, systemStateName(SystemState::Offline),
                    "(Glowcast is not running)");
    return 0;
}

int addRunning(const RunningGlowcast& running, const AddRequest& request)
{
    QVariantMap options;
    if (request.user)
        options.insert(QStringLiteral("user"), QString::fromStdString(*request.user));
    // The secrets wait under a name of their own until the running Glowcast picks the id and gives it to
    // them as it stores the system: two additions at once never share a file, the system's first
    // connection has them, and only their tag travels over the bus.
    const std::filesystem::path directory = FilePreferences::defaultDirectory();
    std::string tag;
    if (hasFiles(request)) {
        StagedSecrets staged = stageSystemSecrets(directory, {request.password, request.token, request.ca});
        if (staged.error) {
            std::fprintf(stderr, "glowcastctl %s: the password was not stored: %s\n", kCommand, staged.error->c_str());
            return 1;
        }
        tag = staged.tag;
        options.insert(QStringLiteral("secrets"), QString::fromStdString(tag));
    }
    const QDBusMessage reply = running.call("AddSystem", {QString::fromUtf8(systemKindName(request.kind).data()),
                                                          QString::fromStdString(request.address), options});
    // Only what this command staged and the program did not take.
    discardStagedSecrets(directory, tag);
    if (reply.type() == QDBusMessage::ErrorMessage) {
        // The command line passed the program's own checks above: what it refuses now is its state (a
        // save that failed, a quit under way), not the words given.
        (void)reportError(kCommand, reply);
        return 1;
    }
    std::printf("lamp system %s added in the running Glowcast\n",
                shownText(reply.arguments().value(0).toString()).c_str());
    return 0;
}

int addInFile(Context& context, const AddRequest& request)
{
    const std::filesystem::path directory = FilePreferences::defaultDirectory();
    FilePreferences preferences{context.log, directory};
    std::string id;
    std::optional<std::string> error;
    const bool stored = preferences.updateSystems([&](std::vector<SystemRecord> records) {
        id = newSystemId(request.kind, records);
        error = storeFiles(directory, id, request);
        if (!error)
            records.push_back({id, request.kind, request.address, {}, request.user});
        return records;
    });
    if (error || !stored) {
        forgetSystemPassword(directory, id);
        std::fprintf(stderr, "glowcastctl %s: lamp system %s not added: %s\n", kCommand, id.c_str(),
                     error ? ("the password was not stored: " + *error).c_str()
                           : "the preferences file could not be written");
        return 1;
    }
    std::printf("lamp system %s added %s%s\n", id.c_str(), inFile(preferences).c_str(),
                request.kind == SystemKind::Bridge ? "; it is paired at the next start" : "");
    return 0;
}

int add(const ProgramCommandLine& line, const std::vector<std::string>& words)
{
    if (words.size() != 3)
        return line.refuse(QStringLiteral("systems add takes a kind and an address"));
    AddRequest request;
    const std::optional<SystemKind> kind = systemKindNamed(words[1]);
    if (!kind)
        return line.refuse(QString::fromStdString(noSuchKind(words[1])));
    request.kind = *kind;
    request.address = words[2];
    request.user = line.value(QStringLiteral("user"));
    const Credentials credentials = systemKindRow(request.kind).credentials;
    const std::optional<std::string> passwordFile = line.value(QStringLiteral("password-file"));
    if ((request.user || passwordFile) && credentials != Credentials::BrokerLogin)
        return line.refuse(QString::fromStdString("--user and --password-file are for a " +
                                                  joinedKinds(&SystemKindRow::name, " or ", Credentials::BrokerLogin) +
                                                  " broker"));
    if (passwordFile && !request.user)
        return line.refuse(QStringLiteral("--password-file needs --user: a broker takes a password with a user"));
    const std::optional<std::string> tokenFile = line.value(QStringLiteral("token-file"));
    const std::optional<std::string> caFile = line.value(QStringLiteral("ca-file"));
    if ((tokenFile || caFile) != (credentials == Credentials::AccessToken))
        return line.refuse(
            QString::fromStdString("--token-file (needed) and --ca-file are for " +
                                   joinedKinds(&SystemKindRow::label, " or ", Credentials::AccessToken)));
    if (const Outcome checked = checkSystemAddress(request.kind, request.address); !checked.ok())
        return reportOutcome(kCommand, checked);
    if (request.user)
        if (const Outcome checked = checkBrokerUser(*request.user); !checked.ok())
            return reportOutcome(kCommand, checked);
    if (tokenFile) {
        if (const std::optional<std::string> error = readTokenFile(*tokenFile, request)) {
            std::fprintf(stderr, "glowcastctl %s: the token file cannot be used: %s\n", kCommand, error->c_str());
            return 2;
        }
    }
    if (caFile) {
        const FileRead read = readRegularFile(*caFile, std::size_t{1} << 20);
        const std::string pem(read.bytes.begin(), read.bytes.end());
        if (!read.ok() || pem.find("-----BEGIN CERTIFICATE-----") == std::string::npos) {
            std::fprintf(stderr, "glowcastctl %s: the CA file cannot be used: %s: %s\n", kCommand, caFile->c_str(),
                         read.ok() ? "it holds no PEM certificate" : read.reason.c_str());
            return 2;
        }
        request.ca = pem;
    }
    if (passwordFile) {
        PasswordRead read = readPasswordFile(*passwordFile);
        if (!read.password) {
            std::fprintf(stderr, "glowcastctl %s: the password file cannot be used: %s\n", kCommand,
                         read.error.c_str());
            return 2;
        }
        request.password = std::move(read.password);
    }
    Context context{line.verbose()};
    if (const auto running = RunningGlowcast::find())
        return addRunning(*running, request);
    return addInFile(context, request);
}

// Edits the record with the id in the file; UnknownSystem when there is none.
int editInFile(FilePreferences& preferences, const std::string& id,
               const std::function<bool(std::vector<SystemRecord>&)>& edit, const std::string& done)
{
    bool found = false;
    const bool stored = preferences.updateSystems([&](std::vector<SystemRecord> records) {
        found = edit(records);
        return records;
    });
    if (!found) {
        std::fprintf(stderr, "glowcastctl %s: there is no lamp system with the id \"%s\" %s\n", kCommand, id.c_str(),
                     inFile(preferences).c_str());
        return 1;
    }
    if (!stored) {
        std::fprintf(stderr, "glowcastctl %s: the preferences file could not be written; nothing changed\n", kCommand);
        return 1;
    }
    std::printf("%s %s\n", done.c_str(), inFile(preferences).c_str());
    return 0;
}

// Sets one field of a system's record: in the running Glowcast through the bus method, else in the file,
// where a value the running Glowcast would refuse for the system (refusal, when given) is refused too.
int setRecordField(const ProgramCommandLine& line, const std::string& id, const std::string& done, const char* method,
                   const QVariant& value, const std::function<void(SystemRecord&)>& apply,
                   const std::function<std::string_view(const SystemRecord&)>& refusal = {})
{
    Context context{line.verbose()};
    if (const auto running = RunningGlowcast::find()) {
        const QDBusMessage reply = running->call(method, {QString::fromStdString(id), value});
        if (reply.type() == QDBusMessage::ErrorMessage)
            return reportError(kCommand, reply);
        std::printf("%s in the running Glowcast\n", done.c_str());
        return 0;
    }
    FilePreferences preferences{context.log, FilePreferences::defaultDirectory()};
    if (refusal)
        for (const SystemRecord& record : preferences.systems())
            if (const std::string_view why = record.id == id ? refusal(record) : std::string_view{}; !why.empty())
                return reportOutcome(kCommand, {Failure::InvalidValue, std::string{why}});
    return editInFile(
        preferences, id,
        [&](std::vector<SystemRecord>& records) {
            for (SystemRecord& record : records)
                if (record.id == id) {
                    apply(record);
                    return true;
                }
            return false;
        },
        done);
}

int setOffset(const ProgramCommandLine& line, const std::string& id, const std::string& text)
{
    int ms = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), ms);
    if (error != std::errc{} || end != text.data() + text.size() || !isSystemOffset(std::chrono::milliseconds{ms}))
        return reportOutcome(kCommand, {Failure::InvalidValue, "an offset is -200 to 2000 ms"});
    return setRecordField(line, id, "lamp system " + id + " offset by " + std::to_string(ms) + " ms", "SetSystemOffset",
                          ms, [&](SystemRecord& record) { record.offset = std::chrono::milliseconds{ms}; });
}

int setSyncPort(const ProgramCommandLine& line, const std::string& id, const std::string& text)
{
    int port = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), port);
    if (error != std::errc{} || end != text.data() + text.size() || !isSyncPort(port))
        return reportOutcome(kCommand, {Failure::InvalidValue, std::string{kSyncPortRange}});
    const std::string done =
        "lamp system " + id +
        (port == 0 ? " sends no sound sync" : " sends its sound sync to port " + std::to_string(port));
    return setRecordField(
        line, id, done, "SetSystemSyncPort", static_cast<uint>(port),
        [&](SystemRecord& record) { record.syncPort = port; },
        [port](const SystemRecord& record) { return syncPortRefusal(record, port); });
}

int setPace(const ProgramCommandLine& line, const std::vector<std::string>& words)
{
    if (words.size() != 4 || (words[2] != "pace" && words[2] != "offset" && words[2] != "syncport"))
        return line.refuse(
            QStringLiteral("systems set takes an id, \"pace\", \"offset\" or \"syncport\" and a number"));
    const std::string& id = words[1];
    if (words[2] == "offset")
        return setOffset(line, id, words[3]);
    if (words[2] == "syncport")
        return setSyncPort(line, id, words[3]);
    const PaceWord pace = parsePace(words[3]);
    if (!pace.valid)
        return reportOutcome(kCommand, {Failure::InvalidValue, "a pace is 1 to 1000 lamp states a second, or "
                                                               "\"default\" for the kind's own"});
    return setRecordField(line, id,
                          "lamp system " + id + " paced at " + (pace.pace ? std::to_string(*pace.pace) : "its default"),
                          "SetSystemPace", static_cast<uint>(pace.pace.value_or(0)),
                          [&](SystemRecord& record) { record.pace = pace.pace; });
}

// A new token for a Home Assistant system: stored under the configuration directory's lock, then the
// running Glowcast starts the system anew so that it reads it; only the id travels over the bus.
int setToken(const ProgramCommandLine& line, const std::string& id, const std::string& tokenFile)
{
    AddRequest request;
    if (const std::optional<std::string> error = readTokenFile(tokenFile, request)) {
        std::fprintf(stderr, "glowcastctl %s: the token file cannot be used: %s\n", kCommand, error->c_str());
        return 2;
    }
    Context context{line.verbose()};
    const std::filesystem::path directory = FilePreferences::defaultDirectory();
    FilePreferences preferences{context.log, directory};
    const auto running = RunningGlowcast::find();
    std::optional<SystemKind> kind;
    if (running) {
        const QDBusMessage systems = running->call("Systems");
        if (systems.type() == QDBusMessage::ErrorMessage)
            return reportError(kCommand, systems);
        for (const SystemRecord& record :
             recordsOf(qdbus_cast<QList<ControlSystemRecord>>(systems.arguments().value(0))))
            if (record.id == id)
                kind = record.kind;
    } else {
        for (const SystemRecord& record : preferences.systems())
            if (record.id == id)
                kind = record.kind;
    }
    if (!kind || systemKindRow(*kind).credentials != Credentials::AccessToken) {
        std::fprintf(stderr, "glowcastctl %s: %s\n", kCommand,
                     (kind ? "lamp system " + id + " is no " +
                                 joinedKinds(&SystemKindRow::label, " or ", Credentials::AccessToken) +
                                 " system; only those take a token"
                           : "there is no lamp system with the id \"" + id + "\"")
                         .c_str());
        return 1;
    }
    std::optional<std::string> error;
    preferences.whileLocked([&] { error = storeSystemToken(directory, id, *request.token); });
    if (error) {
        std::fprintf(stderr, "glowcastctl %s: the token was not stored: %s\n", kCommand, error->c_str());
        return 1;
    }
    if (!running) {
        std::printf("lamp system %s has a new token; Glowcast uses it at its next start\n", id.c_str());
        return 0;
    }
    const QDBusMessage reply = running->call("ReloadSystem", {QString::fromStdString(id)});
    if (reply.type() == QDBusMessage::ErrorMessage)
        return reportError(kCommand, reply);
    std::printf("lamp system %s has a new token in the running Glowcast\n", id.c_str());
    return 0;
}

int remove(const ProgramCommandLine& line, const std::vector<std::string>& words)
{
    if (words.size() != 2)
        return line.refuse(QStringLiteral("systems remove takes an id"));
    const std::string& id = words[1];
    Context context{line.verbose()};
    if (const auto running = RunningGlowcast::find()) {
        const QDBusMessage reply = running->call("RemoveSystem", {QString::fromStdString(id)});
        if (reply.type() == QDBusMessage::ErrorMessage)
            return reportError(kCommand, reply);
        std::printf("lamp system %s removed in the running Glowcast\n", id.c_str());
        return 0;
    }
    FilePreferences preferences{context.log, FilePreferences::defaultDirectory()};
    const int status = editInFile(
        preferences, id,
        [&](std::vector<SystemRecord>& records) {
            return std::erase_if(records, [&](const SystemRecord& record) { return record.id == id; }) > 0;
        },
        "lamp system " + id + " removed");
    if (status == 0)
        forgetSystemPassword(FilePreferences::defaultDirectory(), id);
    return status;
}

} // namespace

int runSystems(Arguments args)
{
    ProgramCommandLine line(
        QStringLiteral("glowcastctl systems"),
        QStringLiteral(
            "The lamp systems beside the first bridge, in the running Glowcast, else in the preferences file.\n\n"
            "  systems                            one line per system: ID<TAB>KIND<TAB>ADDRESS<TAB>STATE<TAB>LATENCY\n"
            "                                     (ready, pairing, unreachable, refused, offline; then any detail;\n"
            "                                     the median time to answer a lamp state, or - before any)\n") +
            QString::fromStdString(addUsage()) +
            QStringLiteral("  systems set ID pace N              at most N lamp states a second (1..1000, or default)\n"
                           "  systems set ID offset N            N ms added to the system's send time (-200..2000)\n"
                           "  systems set ID syncport N          a WLED's sound sync port (11988; 0 sends none)\n"
                           "  systems set ID --token-file FILE   a new access token for a Home Assistant system\n"
                           "  systems remove ID                  the system and its password, token and CA files"));
    line.addVerboseOption();
    line.parser.addOption({QStringLiteral("user"), QStringLiteral("The broker's user."), QStringLiteral("NAME")});
    line.parser.addOption({QStringLiteral("password-file"),
                           QStringLiteral("A file that holds the broker's password (at most 4 KiB)."),
                           QStringLiteral("FILE")});
    line.parser.addOption({QStringLiteral("token-file"),
                           QStringLiteral("A file that holds Home Assistant's access token (at most 4 KiB)."),
                           QStringLiteral("FILE")});
    line.parser.addOption({QStringLiteral("ca-file"),
                           QStringLiteral("A PEM certificate to trust for Home Assistant's https, alone."),
                           QStringLiteral("FILE")});
    line.parser.addPositionalArgument(QStringLiteral("ACTION"), {}, QStringLiteral("[add|set|remove ...]"));
    if (const std::optional<int> status = line.parse(args, 0, 4))
        return *status;
    const std::vector<std::string> words = line.words();
    const bool optionsGiven = line.value(QStringLiteral("user")) || line.value(QStringLiteral("password-file"));
    if (!words.empty() && words[0] == "add")
        return add(line, words);
    if (optionsGiven || line.value(QStringLiteral("ca-file")))
        return line.refuse(QStringLiteral("--user, --password-file and --ca-file go with systems add"));
    if (const std::optional<std::string> tokenFile = line.value(QStringLiteral("token-file"))) {
        if (words.size() != 2 || words[0] != "set")
            return line.refuse(QStringLiteral("--token-file goes with systems add or systems set ID"));
        return setToken(line, words[1], *tokenFile);
    }
    if (words.empty()) {
        Context context{line.verbose()};
        return list(context);
    }
    if (words[0] == "set")
        return setPace(line, words);
    if (words[0] == "remove")
        return remove(line, words);
    return line.refuse(
        QStringLiteral("unknown action \"%1\" (add, set, remove)").arg(QString::fromStdString(words[0])));
}

} // namespace glowcast::ctl
