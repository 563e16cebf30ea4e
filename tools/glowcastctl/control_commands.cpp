// glowcastctl lamps, enable, disable, status, bridge, config, pin and unpin: through the running Glowcast's
// control interface when it runs, else on the preferences file it would read at its next start.

#include "glowcastctl/commands.h"
#include "glowcastctl/control_client.h"

#include "adapters/dbus/dbus_control_service.h"
#include "adapters/files/file_preferences.h"
#include "adapters/files/system_secrets.h"
#include "adapters/qt/program_command_line.h"
#include "core/settings/settings.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace glowcast::ctl {

namespace {

const char* onOff(bool enabled)
{
    return enabled ? "on" : "off";
}

std::string padded(std::string_view key)
{
    std::string text{key};
    text.resize(std::max<std::size_t>(text.size() + 2, 20), ' ');
    return text;
}

int switchLamp(Arguments args, bool enabled)
{
    const char* command = enabled ? "enable" : "disable";
    ControlCommandLine commandLine(command,
                                   QStringLiteral("Switches lamp ID %1: in the running Glowcast at once, else in the "
                                                  "preferences file.")
                                       .arg(QLatin1String(onOff(enabled))),
                                   {"ID"});
    if (const std::optional<int> status = commandLine.line.parse(args, 1, 1))
        return *status;
    const std::string id = commandLine.line.words().front();
    Context context{commandLine.line.verbose()};
    if (const auto reply = askRunning(enabled ? "Enable" : "Disable", {QString::fromStdString(id)})) {
        if (reply->type() == QDBusMessage::ErrorMessage)
            return reportError(command, *reply);
        std::printf("lamp %s %s in the running Glowcast\n", printable(id).c_str(), onOff(enabled));
        return 0;
    }
    FilePreferences preferences{context.log, FilePreferences::defaultDirectory()};
    bool found = false;
    const bool stored = preferences.updateLamps([&](std::optional<std::vector<LampEntry>> saved) {
        std::vector<LampEntry> lamps = saved.value_or(std::vector<LampEntry>{});
        for (LampEntry& lamp : lamps)
            if (lamp.id == id && !found) {
                lamp.enabled = enabled;
                found = true;
            }
        return lamps;
    });
    if (!stored && found) {
        std::fprintf(stderr, "glowcastctl %s: the preferences file could not be written; lamp %s stays %s %s\n",
                     command, id.c_str(), onOff(!enabled), inFile(preferences).c_str());
        return 1;
    }
    if (!found) {
        std::fprintf(stderr, "glowcastctl %s: the saved selection has no lamp with the id \"%s\" %s\n", command,
                     id.c_str(), inFile(preferences).c_str());
        return 1;
    }
    std::printf("lamp %s %s %s\n", id.c_str(), onOff(enabled), inFile(preferences).c_str());
    return 0;
}

// A settings value as the command line shows it.
std::string shown(const SettingRow& row, const QVariant& value)
{
    const std::optional<SettingValue> setting = settingFromVariant(value);
    return setting ? printable(settingText(row, *setting)) : std::string{};
}

// Stores one setting in the running program or in the file; the exit status.
int storeSetting(const char* command, const SettingRow& row, const SettingValue& value, bool verbose)
{
    if (const Outcome checked = checkSetting(row, value); !checked.ok())
        return reportOutcome(command, checked);
    Context context{verbose};
    const QString key = QString::fromUtf8(row.key.data(), static_cast<qsizetype>(row.key.size()));
    if (const auto reply =
            askRunning("SetSetting", {key, QVariant::fromValue(QDBusVariant(variantFromSetting(value)))})) {
        if (reply->type() == QDBusMessage::ErrorMessage)
            return reportError(command, *reply);
        std::printf("%s = %s in the running Glowcast\n", key.toUtf8().constData(), settingText(row, value).c_str());
        return 0;
    }
    FilePreferences preferences{context.log, FilePreferences::defaultDirectory()};
    Settings settings{preferences, context.log};
    if (const Outcome outcome = settings.set(row.key, value); !outcome.ok())
        return reportOutcome(command, outcome);
    std::printf("%s = %s %s\n", key.toUtf8().constData(), settingText(row, value).c_str(), inFile(preferences).c_str());
    return 0;
}

// "config mqtt URL [--user U [--password-file F]]": the password is stored first, as the zigbee2mqtt systems'
// is, and never travels over the bus; then the user, then the broker, each as any setting is. A new user
// without a password file leaves no old password behind; "config mqtt ''" leaves the broker, then forgets
// the user and the password.
int storeMqtt(const ProgramCommandLine& line, const SettingValue& url)
{
    const std::optional<std::string> user = line.value(QStringLiteral("user"));
    const std::optional<std::string> passwordFile = line.value(QStringLiteral("password-file"));
    const bool none = std::get<std::string>(url).empty();
    if (passwordFile && !user)
        return line.refuse(QStringLiteral("--password-file needs --user: a broker takes a password with a user"));
    if (user && none)
        return line.refuse(QStringLiteral("--user goes with a broker's URL"));
    if (const Outcome checked = checkSetting(*findSetting("mqtt"), url); !checked.ok())
        return reportOutcome("config", checked);
    if (user)
        if (const Outcome checked = checkSetting(*findSetting("mqttUser"), *user); !checked.ok())
            return reportOutcome("config", checked);
    std::optional<std::string> password;
    if (passwordFile) {
        PasswordRead read = readPasswordFile(*passwordFile);
        if (!read.password) {
            std::fprintf(stderr, "glowcastctl config: the password file cannot be used: %s\n", read.error.c_str());
            return 2;
        }
        password = std::move(read.password);
    }
    // The broker goes first when there is none any more, so that the program leaves it while it still may.
    if (none)
        if (const int status = storeSetting("config", *findSetting("mqtt"), url, line.verbose()))
            return status;
    if (user || none) {
        Context context{line.verbose()};
        const std::filesystem::path directory = FilePreferences::defaultDirectory();
        FilePreferences preferences{context.log, directory};
        std::optional<std::string> error;
        preferences.whileLocked([&] {
            forgetSystemPassword(directory, kMqttSecretId);
            if (password)
                error = storeSystemPassword(directory, kMqttSecretId, *password);
        });
        if (error) {
            std::fprintf(stderr, "glowcastctl config: the password was not stored: %s\n", error->c_str());
            return 1;
        }
    }
    if (user || none)
        if (const int status = storeSetting("config", *findSetting("mqttUser"), user.value_or(""), line.verbose()))
            return status;
    if (none)
        return 0;
    return storeSetting("config", *findSetting("mqtt"), url, line.verbose());
}

} // namespace

int runLamps(Arguments args)
{
    ControlCommandLine commandLine("lamps", QStringLiteral("Lists the lamps as \"ID<TAB>on|off<TAB>NAME\": the running "
                                                           "Glowcast's table, else the saved selection."));
    if (const std::optional<int> status = commandLine.line.parse(args, 0, 0))
        return *status;
    Context context{commandLine.line.verbose()};
    if (const auto reply = askRunning("Lamps", {}, "a(ssb)")) {
        if (reply->type() == QDBusMessage::ErrorMessage)
            return reportError("lamps", *reply);
        const auto records = qdbus_cast<QList<ControlLampRecord>>(reply->arguments().value(0));
        for (const ControlLampRecord& record : records)
            std::printf("%s\t%s\t%s\n", shownText(record.id).c_str(), onOff(record.enabled),
                        shownText(record.name).c_str());
        return 0;
    }
    FilePreferences preferences{context.log, FilePreferences::defaultDirectory()};
    for (const LampEntry& lamp : preferences.lamps().value_or(std::vector<LampEntry>{}))
        std::printf("%s\t%s\t%s\n", printable(lamp.id).c_str(), onOff(lamp.enabled), printable(lamp.name).c_str());
    return 0;
}

int runEnable(Arguments args)
{
    return switchLamp(args, true);
}

int runDisable(Arguments args)
{
    return switchLamp(args, false);
}

int runStatus(Arguments args)
{
    ControlCommandLine commandLine("status", QStringLiteral("Whether Glowcast runs, and what it knows."));
    if (const std::optional<int> status = commandLine.line.parse(args, 0, 0))
        return *status;
    Context context{commandLine.line.verbose()};
    if (const auto reply = askRunning("Status", {}, "a{sv}")) {
        if (reply->type() == QDBusMessage::ErrorMessage)
            return reportError("status", *reply);
        const QVariantMap map = qdbus_cast<QVariantMap>(reply->arguments().value(0));
        const auto yesNo = [&](const char* key) { return map.value(QString::fromLatin1(key)).toBool() ? "yes" : "no"; };
        const auto text = [&](const char* key) { return shownText(map.value(QString::fromLatin1(key)).toString()); };
        std::printf("running: yes\nlistening: %s\npaired: %s\nbridge: %s\nfollowing: %s\npinned: %s\nplayer: "
                    "%s\ncolours: %s\n",
                    yesNo("listening"), yesNo("paired"), text("bridge").c_str(), yesNo("following"), yesNo("pinned"),
                    text("player").c_str(),
                    shownText(map.value(QStringLiteral("colours")).toStringList().join(u' ')).c_str());
        QStringList systems;
        for (const ControlSystemRecord& row :
             qdbus_cast<QList<ControlSystemRecord>>(map.value(QStringLiteral("systems")).value<QDBusArgument>()))
            systems << row.id + u' ' + row.state;
        std::printf("systems: %s\n", shownText(systems.join(QStringLiteral(", "))).c_str());
        QStringList latencies;
        for (const auto& [id, figures] : latenciesOf(map).asKeyValueRange())
            latencies << QStringLiteral("%1 %2 ms (95 %: %3 ms)")
                             .arg(id.isEmpty() ? QStringLiteral("first bridge") : id)
                             .arg(figures.median)
                             .arg(figures.p95);
        std::printf("latency: %s\n", shownText(latencies.join(QStringLiteral(", "))).c_str());
        std::printf("beat: %s\nsound: %s\n", text("beat").c_str(), text("sound").c_str());
        return 0;
    }
    FilePreferences preferences{context.log, FilePreferences::defaultDirectory()};
    std::printf("running: no\npaired: %s\nbridge: %s\n", preferences.text("username") ? "yes" : "no",
                printable(preferences.text("lastusedbridgeIP").value_or("")).c_str());
    std::string systems;
    for (const SystemRecord& record : preferences.systems())
        systems += (systems.empty() ? "" : ", ") + record.id + " offline";
    std::printf("systems: %s\n", printable(systems).c_str());
    return 0;
}

int runBridge(Arguments args)
{
    ControlCommandLine commandLine("bridge",
                                   QStringLiteral("Stores the bridge's address (host or host:port). A running Glowcast "
                                                  "that found no bridge sets itself up again with it."),
                                   {"ADDRESS"});
    if (const std::optional<int> status = commandLine.line.parse(args, 1, 1))
        return *status;
    return storeSetting("bridge", *findSetting("lastusedbridgeIP"), SettingValue{commandLine.line.words().front()},
                        commandLine.line.verbose());
}

int runPin(Arguments args)
{
    ControlCommandLine commandLine("pin", QStringLiteral("Pins the colours: covers change nothing on the lamps, also "
                                                         "after a restart, until glowcastctl unpin."));
    if (const std::optional<int> status = commandLine.line.parse(args, 0, 0))
        return *status;
    return storeSetting("pin", *findSetting("pinned"), SettingValue{true}, commandLine.line.verbose());
}

int runUnpin(Arguments args)
{
    ControlCommandLine commandLine("unpin", QStringLiteral("Covers colour the lamps again; a running Glowcast that "
                                                           "held a cover back sends its colours at once."));
    if (const std::optional<int> status = commandLine.line.parse(args, 0, 0))
        return *status;
    return storeSetting("unpin", *findSetting("pinned"), SettingValue{false}, commandLine.line.verbose());
}

int runConfig(Arguments args)
{
    std::string keys = "Shows every setting, shows one, or sets one (an empty VALUE resets a text, \"off\" turns a "
                       "number setting off). Keys:";
    for (const SettingRow& row : settingRows())
        keys += "\n  " + padded(row.key) + std::string{row.help};
    keys += "\n\n  config mqtt URL --user NAME --password-file FILE  also stores the broker's user and password (the "
            "password\n  in systems/mqtt.publish.password in the configuration directory)";
    ControlCommandLine commandLine("config", QString::fromStdString(keys));
    commandLine.line.parser.addPositionalArgument(QStringLiteral("KEY"), {}, QStringLiteral("[KEY [VALUE]]"));
    commandLine.line.parser.addOption(
        {QStringLiteral("user"), QStringLiteral("The broker's user (mqtt)."), QStringLiteral("NAME")});
    commandLine.line.parser.addOption({QStringLiteral("password-file"),
                                       QStringLiteral("A file that holds the broker's password (mqtt, at most 4 KiB)."),
                                       QStringLiteral("FILE")});
    if (const std::optional<int> status = commandLine.line.parse(args, 0, 2))
        return *status;
    const std::vector<std::string> line = commandLine.line.words();
    const bool verbose = commandLine.line.verbose();
    const SettingRow* row = line.empty() ? nullptr : findSetting(line.front());
    if (!line.empty() && row == nullptr)
        return commandLine.line.refuse(
            QStringLiteral("there is no setting \"%1\"").arg(QString::fromStdString(line.front())));
    const bool credentials =
        commandLine.line.value(QStringLiteral("user")) || commandLine.line.value(QStringLiteral("password-file"));
    if (credentials && (line.size() != 2 || row->key != "mqtt"))
        return commandLine.line.refuse(QStringLiteral("--user and --password-file go with config mqtt URL"));
    if (line.size() == 2) {
        auto parsed = parseSetting(*row, line[1]);
        if (const Outcome* failure = std::get_if<Outcome>(&parsed))
            return reportOutcome("config", *failure);
        if (row->key == "mqtt")
            return storeMqtt(commandLine.line, std::get<SettingValue>(parsed));
        return storeSetting("config", *row, std::get<SettingValue>(parsed), verbose);
    }
    Context context{verbose};
    QVariantMap values;
    if (const auto reply = askRunning("Settings", {}, "a{sv}")) {
        if (reply->type() == QDBusMessage::ErrorMessage)
            return reportError("config", *reply);
        values = qdbus_cast<QVariantMap>(reply->arguments().value(0));
    } else {
        FilePreferences preferences{context.log, FilePreferences::defaultDirectory()};
        const Settings settings{preferences, context.log};
        for (const SettingRow& each : settingRows())
            values.insert(QString::fromUtf8(each.key.data(), static_cast<qsizetype>(each.key.size())),
                          variantFromSetting(settings.value(each.key).value_or(each.defaultValue)));
    }
    if (row != nullptr) {
        std::printf("%s\n", shown(*row, values.value(QString::fromUtf8(row->key.data(),
                                                                       static_cast<qsizetype>(row->key.size()))))
                                .c_str());
        return 0;
    }
    for (const SettingRow& each : settingRows())
        std::printf(
            "%s = %s\n", std::string{each.key}.c_str(),
            shown(each, values.value(QString::fromUtf8(each.key.data(), static_cast<qsizetype>(each.key.size()))))
                .c_str());
    return 0;
}

int runPalette(Arguments args)
{
    ControlCommandLine commandLine("palette", QStringLiteral("The running Glowcast's palette of the last cover: a "
                                                             "line per colour in lamp order, the background, "
                                                             "foreground and accent, and the track; with --json the "
                                                             "JSON of its palette.json."));
    const QCommandLineOption json(QStringLiteral("json"), QStringLiteral("Print the palette as JSON."));
    commandLine.line.parser.addOption(json);
    if (const std::optional<int> status = commandLine.line.parse(args, 0, 0))
        return *status;
    Context context{commandLine.line.verbose()};
    const auto reply = askRunning("Palette", {}, "asa{sv}");
    if (!reply) {
        std::fputs("glowcastctl palette: Glowcast is not running\n", stderr);
        return 1;
    }
    if (reply->type() == QDBusMessage::ErrorMessage)
        return reportError("palette", *reply);
    const std::optional<PaletteDocument> palette = paletteFromArguments(reply->arguments());
    if (!palette) {
        std::fputs("glowcastctl palette: no cover's colours were taken yet\n", stderr);
        return 1;
    }
    if (commandLine.line.parser.isSet(json)) {
        std::printf("%s\n", paletteJSON(*palette).c_str());
        return 0;
    }
    for (const std::string& colour : palette->colours)
        std::printf("%s\n", printable(colour).c_str());
    std::printf("background: %s\nforeground: %s\naccent: %s\npinned: %s\n", printable(palette->background).c_str(),
                printable(palette->foreground).c_str(), printable(palette->accent).c_str(),
                palette->pinned ? "yes" : "no");
    std::printf("source: %s\ntitle: %s\nartist: %s\nalbum: %s\npalette: %s\n",
                std::string{paletteSource(*palette)}.c_str(), printable(palette->track.title).c_str(),
                printable(palette->track.artist).c_str(), printable(palette->track.album).c_str(),
                std::string{paletteName(palette->palette)}.c_str());
    return 0;
}

} // namespace glowcast::ctl
