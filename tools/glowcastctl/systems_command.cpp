// glowcastctl systems: the lamp systems beside the first bridge, listed, added, paced and removed, in
// the running Glowcast over its control interface, else in the preferences file it reads at its start.

#include "adapters/files/system_secrets.h"
#include "commands.h"
#include "control_client.h"
#include "core/lamp_systems/system_address.h"

#include <charconv>
#include <filesystem>
#include <vector>

namespace glowcast::ctl {

namespace {

constexpr const char* kCommand = "systems";
constexpr int kLowestPace = 1;
constexpr int kHighestPace = 1000;

// One line per system: ID<TAB>KIND<TAB>ADDRESS<TAB>STATE, the state one word, then any detail.
void printSystem(const std::string& id, std::string_view kind, const std::string& address, std::string_view state,
                 const std::string& detail)
{
    std::printf("%s\t%.*s\t%s\t%.*s%s%s\n", id.c_str(), static_cast<int>(kind.size()), kind.data(), address.c_str(),
                static_cast<int>(state.size()), state.data(), detail.empty() ? "" : " ", detail.c_str());
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
};

int list(Context& context)
{
    if (const auto running = RunningGlowcast::find()) {
        const QDBusMessage reply = running->call("Systems");
        if (reply.type() == QDBusMessage::ErrorMessage)
            return reportError(kCommand, reply);
        for (const ControlSystemRecord& row : qdbus_cast<QList<ControlSystemRecord>>(reply.arguments().value(0)))
            printSystem(row.id.toStdString(), row.kind.toStdString(), row.address.toStdString(),
                        row.state.toStdString(), row.detail.toStdString());
        return 0;
    }
    FilePreferences preferences{context.log, FilePreferences::defaultDirectory()};
    for (const SystemRecord& record : preferences.systems())
        printSystem(record.id, systemKindName(record.kind), record.address, systemStateName(SystemState::Offline),
                    "(Glowcast is not running)");
    return 0;
}

int addRunning(const RunningGlowcast& running, Context& context, const AddRequest& request)
{
    QVariantMap options;
    if (request.user)
        options.insert(QStringLiteral("user"), QString::fromStdString(*request.user));
    std::optional<std::string> storedId;
    if (request.password) {
        // The password goes into the id's file before the system exists, so its first connection has it;
        // so the id is chosen here, as the program would choose it.
        const QDBusMessage systems = running.call("Systems");
        if (systems.type() == QDBusMessage::ErrorMessage)
            return reportError(kCommand, systems);
        const std::string id =
            newSystemId(request.kind, recordsOf(qdbus_cast<QList<ControlSystemRecord>>(systems.arguments().value(0))));
        FilePreferences preferences{context.log, FilePreferences::defaultDirectory()};
        std::optional<std::string> error;
        preferences.whileLocked(
            [&] { error = storeSystemPassword(FilePreferences::defaultDirectory(), id, *request.password); });
        if (error) {
            std::fprintf(stderr, "glowcastctl %s: the password was not stored: %s\n", kCommand, error->c_str());
            return 1;
        }
        storedId = id;
        options.insert(QStringLiteral("id"), QString::fromStdString(id));
    }
    const QDBusMessage reply = running.call("AddSystem", {QString::fromUtf8(systemKindName(request.kind).data()),
                                                          QString::fromStdString(request.address), options});
    if (reply.type() == QDBusMessage::ErrorMessage) {
        if (storedId)
            forgetSystemPassword(FilePreferences::defaultDirectory(), *storedId);
        return reportError(kCommand, reply);
    }
    std::printf("lamp system %s added in the running Glowcast\n",
                reply.arguments().value(0).toString().toUtf8().constData());
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
        if (request.password)
            error = storeSystemPassword(directory, id, *request.password);
        if (!error)
            records.push_back({id, request.kind, request.address, {}, request.user});
        return records;
    });
    if (error || !stored) {
        if (!error)
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
    if (!kind || (*kind != SystemKind::Bridge && *kind != SystemKind::Zigbee2Mqtt && *kind != SystemKind::Wled))
        return line.refuse(QStringLiteral("\"%1\" is no kind of lamp system (bridge, zigbee2mqtt, wled)")
                               .arg(QString::fromStdString(words[1])));
    request.kind = *kind;
    request.address = words[2];
    request.user = line.value(QStringLiteral("user"));
    const std::optional<std::string> passwordFile = line.value(QStringLiteral("password-file"));
    if ((request.user || passwordFile) && request.kind != SystemKind::Zigbee2Mqtt)
        return line.refuse(QStringLiteral("--user and --password-file are for a zigbee2mqtt broker"));
    if (passwordFile && !request.user)
        return line.refuse(QStringLiteral("--password-file needs --user: a broker takes a password with a user"));
    if (const Outcome checked = checkSystemAddress(request.kind, request.address); !checked.ok())
        return reportOutcome(kCommand, checked);
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
        return addRunning(*running, context, request);
    return addInFile(context, request);
}

// Edits the record with the id in the file; UnknownSystem when there is none.
int editInFile(Context& context, const std::string& id, const std::function<bool(std::vector<SystemRecord>&)>& edit,
               const std::string& done)
{
    FilePreferences preferences{context.log, FilePreferences::defaultDirectory()};
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

int setPace(const ProgramCommandLine& line, const std::vector<std::string>& words)
{
    if (words.size() != 4 || words[2] != "pace")
        return line.refuse(QStringLiteral("systems set takes an id, \"pace\" and a number"));
    const std::string& id = words[1];
    const PaceWord pace = parsePace(words[3]);
    if (!pace.valid)
        return reportOutcome(kCommand, {Failure::InvalidValue, "a pace is 1 to 1000 lamp states a second, or "
                                                               "\"default\" for the kind's own"});
    Context context{line.verbose()};
    const std::string done =
        "lamp system " + id + " paced at " + (pace.pace ? std::to_string(*pace.pace) : "its default");
    if (const auto running = RunningGlowcast::find()) {
        const QDBusMessage reply =
            running->call("SetSystemPace", {QString::fromStdString(id), static_cast<uint>(pace.pace.value_or(0))});
        if (reply.type() == QDBusMessage::ErrorMessage)
            return reportError(kCommand, reply);
        std::printf("%s in the running Glowcast\n", done.c_str());
        return 0;
    }
    return editInFile(
        context, id,
        [&](std::vector<SystemRecord>& records) {
            for (SystemRecord& record : records)
                if (record.id == id) {
                    record.pace = pace.pace;
                    return true;
                }
            return false;
        },
        done);
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
    const int status = editInFile(
        context, id,
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
            "  systems                            one line per system: ID<TAB>KIND<TAB>ADDRESS<TAB>STATE\n"
            "                                     (ready, pairing, unreachable, refused, offline; then any detail)\n"
            "  systems add bridge ADDRESS         another bridge at host[:port]; it asks for its link button\n"
            "  systems add zigbee2mqtt mqtt://HOST[:PORT][/BASE_TOPIC] [--user NAME --password-file FILE]\n"
            "                                     zigbee2mqtt's lamps through its broker (port 1883 and base\n"
            "                                     topic zigbee2mqtt unless given); the password is copied to\n"
            "                                     systems/ID.password in the configuration directory\n"
            "  systems add wled http://HOST[:PORT]  a WLED device; each of its segments is a lamp\n"
            "  systems set ID pace N              at most N lamp states a second (1..1000, or default)\n"
            "  systems remove ID                  the system and its password file"));
    line.addVerboseOption();
    line.parser.addOption({QStringLiteral("user"), QStringLiteral("The broker's user."), QStringLiteral("NAME")});
    line.parser.addOption({QStringLiteral("password-file"),
                           QStringLiteral("A file that holds the broker's password (at most 4 KiB)."),
                           QStringLiteral("FILE")});
    line.parser.addPositionalArgument(QStringLiteral("ACTION"), {}, QStringLiteral("[add|set|remove ...]"));
    if (const std::optional<int> status = line.parse(args, 0, 4))
        return *status;
    const std::vector<std::string> words = line.words();
    const bool optionsGiven = line.value(QStringLiteral("user")) || line.value(QStringLiteral("password-file"));
    if (!words.empty() && words[0] == "add")
        return add(line, words);
    if (optionsGiven)
        return line.refuse(QStringLiteral("--user and --password-file go with systems add"));
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
