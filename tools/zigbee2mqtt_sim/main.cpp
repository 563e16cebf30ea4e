// glowcast-zigbee2mqtt-sim: a stand-in for zigbee2mqtt and its lamps on an MQTT broker, for tests, the
// demo and users without Zigbee lamps.

#include "adapters/mqtt/mqtt_client.h"
#include "adapters/process/stderr_log.h"
#include "adapters/qt/program_command_line.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

using glowcast::MqttClient;

const char* const kDescription =
    "A stand-in for zigbee2mqtt on an MQTT broker: publishes a retained BASE/bridge/state and a retained\n"
    "BASE/bridge/devices with lamps of several kinds, applies BASE/<name>/set to a lamp and publishes its\n"
    "state on BASE/<name>, answers BASE/<name>/get the same way, and records every message it gets as a\n"
    "line \"TOPIC PAYLOAD\" on standard output (or appended to --record FILE).\n"
    "Each time it has published the device list it prints \"online BASE\" on standard output.\n"
    "Lamps in turn: xy colour with colour temperature, hue-and-saturation colour, colour temperature (its\n"
    "name has a topic level), dimmable, a device with two light endpoints; then again, numbered.\n"
    "Commands on standard input, a line each: \"offline\" and \"online\" (BASE/bridge/state), \"unavailable\n"
    "NAME\" and \"available NAME\" (the device's availability), \"rename OLD=NEW\" (the list published again),\n"
    "\"renames COUNT MS\" (COUNT times, MS ms apart, every device renamed \"NAME ~N\" and the list published;\n"
    "then \"renamed COUNT\" on standard output), \"mute NAME\" and \"unmute NAME\" (the device applies a set\n"
    "without publishing its state), \"quit\".";

struct Options {
    MqttClient::Options broker;
    std::string base = "zigbee2mqtt";
    int devices = 5;
    QString record;
};

QJsonObject feature(const char* name, const QString& property, QJsonObject extra = {})
{
    extra[QStringLiteral("name")] = QString::fromUtf8(name);
    extra[QStringLiteral("property")] = property;
    extra[QStringLiteral("type")] =
        extra.contains(QStringLiteral("features")) ? QStringLiteral("composite") : QStringLiteral("numeric");
    return extra;
}

QJsonObject colour(const char* name, const QString& property)
{
    const bool hs = QByteArrayView(name) == "color_hs";
    return feature(
        name, property,
        {{QStringLiteral("features"),
          QJsonArray{QJsonObject{{QStringLiteral("name"), hs ? QStringLiteral("hue") : QStringLiteral("x")}},
                     QJsonObject{{QStringLiteral("name"), hs ? QStringLiteral("saturation") : QStringLiteral("y")}}}}});
}

QJsonObject temperature(int lowest, int highest)
{
    return feature("color_temp", QStringLiteral("color_temp"),
                   {{QStringLiteral("value_min"), lowest},
                    {QStringLiteral("value_max"), highest},
                    {QStringLiteral("unit"), QStringLiteral("mired")}});
}

QJsonObject light(QJsonArray features, const QString& endpoint = {})
{
    QJsonObject expose{{QStringLiteral("type"), QStringLiteral("light")}, {QStringLiteral("features"), features}};
    if (!endpoint.isEmpty())
        expose[QStringLiteral("endpoint")] = endpoint;
    return expose;
}

// The lamps' devices and each one's starting state.
struct Device {
    QString name;
    QJsonObject entry; // as the device list has it
    QJsonObject state;
};

Device deviceOf(int index)
{
    const int round = index / 5;
    const auto named = [&](const char* name) {
        return QString::fromUtf8(name) + (round == 0 ? QString() : u' ' + QString::number(round + 1));
    };
    const QString s = QStringLiteral("state");
    const QString b = QStringLiteral("brightness");
    const QString c = QStringLiteral("color");
    Device device;
    QJsonArray exposes;
    device.state = {{s, QStringLiteral("OFF")}, {b, 254}};
    switch (index % 5) {
    case 0:
        device.name = named("Desk lamp");
        exposes = {
            light({feature("state", s), feature("brightness", b), temperature(153, 500), colour("color_xy", c)})};
        device.state[c] = QJsonObject{{QStringLiteral("x"), 0.3127}, {QStringLiteral("y"), 0.329}};
        device.state[QStringLiteral("color_temp")] = 370;
        device.state[QStringLiteral("color_mode")] = QStringLiteral("xy");
        break;
    case 1:
        device.name = named("Shelf strip");
        exposes = {
            light({feature("state", s), feature("brightness", b), colour("color_hs", c), colour("color_xy", c)})};
        device.state[c] = QJsonObject{{QStringLiteral("hue"), 0}, {QStringLiteral("saturation"), 0}};
        device.state[QStringLiteral("color_mode")] = QStringLiteral("hs");
        break;
    case 2:
        device.name = named("Hall/Ceiling");
        exposes = {light({feature("state", s), feature("brightness", b), temperature(250, 454)})};
        device.state[QStringLiteral("color_temp")] = 370;
        device.state[QStringLiteral("color_mode")] = QStringLiteral("color_temp");
        break;
    case 3:
        device.name = named("Porch");
        exposes = {light({feature("state", s), feature("brightness", b)})};
        break;
    default:
        device.name = named("Twin");
        device.state = {};
        for (const QString& endpoint : {QStringLiteral("l1"), QStringLiteral("l2")}) {
            const QString suffix = u'_' + endpoint;
            exposes.append(
                light({feature("state", s + suffix), feature("brightness", b + suffix), colour("color_xy", c + suffix)},
                      endpoint));
            device.state[s + suffix] = QStringLiteral("OFF");
            device.state[b + suffix] = 254;
        }
        break;
    }
    device.entry = {
        {QStringLiteral("ieee_address"), QStringLiteral("0x00124b%1").arg(index + 1, 10, 16, QLatin1Char('0'))},
        {QStringLiteral("friendly_name"), device.name},
        {QStringLiteral("type"), QStringLiteral("Router")},
        {QStringLiteral("supported"), true},
        {QStringLiteral("definition"), QJsonObject{{QStringLiteral("model"), QStringLiteral("GC-%1").arg(index % 5)},
                                                   {QStringLiteral("vendor"), QStringLiteral("Glowcast")},
                                                   {QStringLiteral("exposes"), exposes}}}};
    return device;
}

class StandIn {
public:
    StandIn(Options options, glowcast::Log& log) : m_options(std::move(options)), m_client(m_options.broker, log)
    {
        for (int i = 0; i < m_options.devices; ++i) {
            Device device = deviceOf(i);
            m_devices.emplace(device.name, device);
            m_order.push_back(device.name);
        }
        if (!m_options.record.isEmpty()) {
            m_record.setFileName(m_options.record);
            if (!m_record.open(QIODevice::WriteOnly | QIODevice::Append))
                std::fprintf(stderr, "glowcast-zigbee2mqtt-sim: cannot write %s\n", qPrintable(m_options.record));
        }
        m_client.onConnected = [this] { publishAll(); };
        m_client.onMessage = [this](const std::string& topic, const QByteArray& payload) { take(topic, payload); };
        m_client.subscribe(m_options.base + "/#");
        QObject::connect(&m_renameTimer, &QTimer::timeout, [this] { renameRound(); });
    }

    bool start() { return !m_client.start(); }

    void command(const QString& line)
    {
        const QString word = line.section(u' ', 0, 0);
        const QString name = line.section(u' ', 1);
        if (word == u"offline" || word == u"online") {
            m_online = word == u"online";
            publishBridgeState();
        } else if ((word == u"available" || word == u"unavailable") && m_devices.contains(name)) {
            m_unavailable[name] = word == u"unavailable";
            publishAvailability(name);
        } else if (word == u"mute" || word == u"unmute") {
            m_muted[name] = word == u"mute";
        } else if (word == u"rename" && name.contains(u'=')) {
            rename(name.section(u'=', 0, -2), name.section(u'=', -1));
        } else if (word == u"renames") {
            m_rounds = line.section(u' ', 1, 1).toInt();
            m_round = 0;
            // Rendered once: a round only writes its number into every name.
            m_renamedList = deviceListText(QStringLiteral(" ~@@@@@@"));
            m_renameTimer.start(line.section(u' ', 2, 2).toInt());
        } else if (word == u"quit") {
            QCoreApplication::quit();
        } else if (!line.isEmpty()) {
            std::fprintf(stderr, "glowcast-zigbee2mqtt-sim: unknown command '%s'\n", qPrintable(line));
        }
    }

private:
    // zigbee2mqtt publishes the device list again, the device under its new name.
    void rename(const QString& from, const QString& to)
    {
        if (!m_devices.contains(from) || to.isEmpty() || m_devices.contains(to))
            return;
        auto node = m_devices.extract(from);
        node.key() = to;
        node.mapped().name = to;
        node.mapped().entry[QStringLiteral("friendly_name")] = to;
        m_devices.insert(std::move(node));
        std::ranges::replace(m_order, from, to);
        publishDeviceList();
        publishAvailability(to);
    }

    void renameRound()
    {
        if (m_round >= m_rounds) {
            m_renameTimer.stop();
            std::map<QString, Device> renamed;
            for (QString& name : m_order) {
                Device device = m_devices[name];
                name += QStringLiteral(" ~%1").arg(m_round, 6, 10, QLatin1Char('0'));
                device.name = name;
                device.entry[QStringLiteral("friendly_name")] = name;
                renamed.emplace(name, std::move(device));
            }
            m_devices = std::move(renamed);
            std::printf("renamed %d\n", m_rounds);
            std::fflush(stdout);
            return;
        }
        ++m_round;
        QByteArray list = m_renamedList;
        list.replace("@@@@@@", QByteArray::number(m_round).rightJustified(6, '0'));
        m_client.publish(m_options.base + "/bridge/devices", list.toStdString(), true);
    }

    void out(const QByteArray& line)
    {
        if (m_record.isOpen()) {
            m_record.write(line + '\n');
            m_record.flush();
        } else {
            std::fwrite(line.constData(), 1, static_cast<std::size_t>(line.size()), stdout);
            std::fputc('\n', stdout);
            std::fflush(stdout);
        }
    }

    void publish(const std::string& topic, const QJsonObject& object, bool retain = false)
    {
        m_client.publish(topic, QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString(), retain);
    }

    void publishBridgeState()
    {
        publish(m_options.base + "/bridge/state",
                {{QStringLiteral("state"), m_online ? QStringLiteral("online") : QStringLiteral("offline")}}, true);
    }

    void publishAvailability(const QString& name)
    {
        publish(m_options.base + "/" + name.toStdString() + "/availability",
                {{QStringLiteral("state"), m_unavailable[name] ? QStringLiteral("offline") : QStringLiteral("online")}},
                true);
    }

    // Everything a broker that restarted has forgotten: zigbee2mqtt does the same when it connects.
    void publishAll()
    {
        publishBridgeState();
        publishDeviceList();
        for (const QString& name : m_order)
            publishAvailability(name);
        std::printf("online %s\n", m_options.base.c_str());
        std::fflush(stdout);
    }

    // Each device's name with the suffix added.
    QByteArray deviceListText(const QString& suffix)
    {
        QJsonArray list{QJsonObject{{QStringLiteral("ieee_address"), QStringLiteral("0x00124b0000000000")},
                                    {QStringLiteral("friendly_name"), QStringLiteral("Coordinator")},
                                    {QStringLiteral("type"), QStringLiteral("Coordinator")},
                                    {QStringLiteral("definition"), QJsonValue::Null}}};
        for (const QString& name : m_order) {
            QJsonObject entry = m_devices[name].entry;
            entry[QStringLiteral("friendly_name")] = name + suffix;
            list.append(entry);
        }
        return QJsonDocument(list).toJson(QJsonDocument::Compact);
    }

    void publishDeviceList()
    {
        m_client.publish(m_options.base + "/bridge/devices", deviceListText({}).toStdString(), true);
    }

    void take(const std::string& topic, const QByteArray& payload)
    {
        const std::string prefix = m_options.base + "/";
        if (topic.starts_with(prefix + "bridge/"))
            return;
        const bool set = topic.ends_with("/set");
        if (!set && !topic.ends_with("/get"))
            return; // its own state messages
        const QString name = QString::fromStdString(topic.substr(prefix.size(), topic.size() - prefix.size() - 4));
        out(QByteArray::fromStdString(topic) + ' ' + payload);
        const auto device = m_devices.find(name);
        if (device == m_devices.end())
            return;
        QJsonObject& state = device->second.state;
        if (set) {
            const QJsonObject change = QJsonDocument::fromJson(payload).object();
            for (auto member = change.begin(); member != change.end(); ++member) {
                const QString key = member.key();
                if (key == u"transition")
                    continue;
                if (member->isObject() && state[key].isObject()) {
                    QJsonObject merged = state[key].toObject();
                    const QJsonObject given = member->toObject();
                    for (auto part = given.begin(); part != given.end(); ++part)
                        merged[part.key()] = *part;
                    state[key] = merged;
                } else {
                    state[key] = *member;
                }
                if (key == u"color_temp")
                    state[QStringLiteral("color_mode")] = QStringLiteral("color_temp");
                else if (key == u"color")
                    state[QStringLiteral("color_mode")] = member->toObject().contains(QStringLiteral("hue"))
                                                              ? QStringLiteral("hs")
                                                              : QStringLiteral("xy");
            }
            if (m_muted[name])
                return;
        }
        publish(prefix + name.toStdString(), state);
    }

    Options m_options;
    MqttClient m_client;
    std::map<QString, Device> m_devices;
    std::vector<QString> m_order;
    std::map<QString, bool> m_unavailable;
    std::map<QString, bool> m_muted;
    bool m_online = true;
    QFile m_record;
    QTimer m_renameTimer;
    QByteArray m_renamedList;
    int m_rounds = 0;
    int m_round = 0;
};

// Nothing to go on, else the exit status.
std::optional<int> parseOptions(int argc, char** argv, Options& options)
{
    glowcast::ProgramCommandLine commandLine(QStringLiteral("glowcast-zigbee2mqtt-sim"),
                                             QString::fromUtf8(kDescription));
    QCommandLineParser& parser = commandLine.parser;
    const QCommandLineOption broker(QStringLiteral("broker"), QStringLiteral("The broker (default 127.0.0.1:1883)."),
                                    QStringLiteral("HOST:PORT"));
    const QCommandLineOption base(QStringLiteral("base"), QStringLiteral("The base topic (default zigbee2mqtt)."),
                                  QStringLiteral("TOPIC"));
    const QCommandLineOption lamps(QStringLiteral("lamps"),
                                   QStringLiteral("How many lamp devices, 1..5000 (default 5)."), QStringLiteral("N"));
    const QCommandLineOption record(QStringLiteral("record"),
                                    QStringLiteral("Append the messages it gets to FILE, not to standard output."),
                                    QStringLiteral("FILE"));
    parser.addOptions({broker, base, lamps, record});
    if (const std::optional<int> status = commandLine.parse(argc, argv))
        return status;
    const auto refuse = [&](const QCommandLineOption& option) {
        return commandLine.refuse(
            QStringLiteral("bad value for --%1: '%2'").arg(option.names().constFirst(), parser.value(option)));
    };
    options.broker.host = "127.0.0.1";
    if (parser.isSet(broker)) {
        const QString value = parser.value(broker);
        const qsizetype colon = value.lastIndexOf(u':');
        bool ok = false;
        options.broker.port = colon > 0 ? value.mid(colon + 1).toInt(&ok) : 0;
        if (!ok || options.broker.port < 1 || options.broker.port > 65535)
            return refuse(broker);
        options.broker.host = value.left(colon).remove(u'[').remove(u']').toStdString();
    }
    if (parser.isSet(base)) {
        options.base = parser.value(base).toStdString();
        if (options.base.empty() || options.base.find_first_of("+#") != std::string::npos)
            return refuse(base);
    }
    if (parser.isSet(lamps)) {
        bool ok = false;
        options.devices = parser.value(lamps).toInt(&ok);
        if (!ok || options.devices < 1 || options.devices > 5000)
            return refuse(lamps);
    }
    options.record = parser.value(record);
    options.broker.clientId = "glowcast-zigbee2mqtt-sim-" + std::to_string(::getpid());
    options.broker.will = {options.base + "/bridge/state", R"({"state":"offline"})"};
    options.broker.newestOnly = {options.base + "/bridge/devices"}; // its own, which it leaves alone
    return std::nullopt;
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    if (const std::optional<int> status = parseOptions(argc, argv, options))
        return *status;
    QCoreApplication application(argc, argv);
    glowcast::StderrLog log("glowcast-zigbee2mqtt-sim");
    StandIn standIn(options, log);
    if (!standIn.start())
        return 1;
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QByteArray pending;
    QObject::connect(&input, &QSocketNotifier::activated, &application, [&] {
        char buffer[4096];
        const ssize_t count = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (count <= 0) {
            input.setEnabled(false); // standard input closed: go on until stopped
            return;
        }
        pending.append(buffer, count);
        for (qsizetype end = pending.indexOf('\n'); end >= 0; end = pending.indexOf('\n')) {
            standIn.command(QString::fromUtf8(pending.left(end)).trimmed());
            pending.remove(0, end + 1);
        }
    });
    return QCoreApplication::exec();
}
