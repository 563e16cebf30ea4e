#include "adapters/dbus/dbus_control_service.h"

#include "core/lamp_systems/system_kinds.h"

#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusMetaType>
#include <QDBusReply>
#include <QStringList>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <limits>
#include <utility>

namespace glowcast {

namespace {

// Queries one caller may have waiting for their answer; further ones are refused.
constexpr std::size_t kMostQueriesWaiting = 64;

QString fromLatin(const char* text)
{
    return QString::fromLatin1(text);
}

QDBusMessage answer(const QDBusMessage& call, const Outcome& outcome)
{
    if (outcome.ok())
        return call.createReply();
    const char* name = control_bus::kInvalidValue;
    switch (outcome.failure) {
    case Failure::UnknownLamp:
        name = control_bus::kUnknownLamp;
        break;
    case Failure::NoLampList:
        name = control_bus::kNoLampList;
        break;
    case Failure::UnknownSetting:
        name = control_bus::kUnknownSetting;
        break;
    case Failure::WrongKind:
        name = control_bus::kInvalidArgs;
        break;
    case Failure::NotSaved:
        name = control_bus::kNotSaved;
        break;
    case Failure::UnknownSystem:
        name = control_bus::kUnknownSystem;
        break;
    case Failure::None:
    case Failure::InvalidValue:
    case Failure::NotSent: // control calls send nothing
        break;
    }
    return call.createErrorReply(fromLatin(name), QString::fromStdString(outcome.message));
}

// Qt hands a method without arguments every call of its name, whatever the call brings: one that
// brings some is refused, as a call whose arguments do not match a typed method is.
DBusControlService::Handler withoutArguments(DBusControlService::Handler handler)
{
    return [handler = std::move(handler)](RemoteControl& control, const QDBusMessage& call) {
        if (!call.arguments().isEmpty())
            return call.createErrorReply(QDBusError::UnknownMethod, call.member() +
                                                                        QStringLiteral(" takes no arguments, not (") +
                                                                        call.signature() + u')');
        return handler(control, call);
    };
}

QString fromView(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QList<ControlSystemRecord> systemRecords(const std::vector<SystemStatus>& statuses)
{
    QList<ControlSystemRecord> records;
    for (const SystemStatus& status : statuses)
        records.append({QString::fromStdString(status.record.id), fromView(systemKindName(status.record.kind)),
                        QString::fromStdString(status.record.address), fromView(systemStateName(status.state)),
                        QString::fromStdString(status.detail), static_cast<uint>(status.lampCount),
                        static_cast<uint>(status.record.pace.value_or(defaultPace(status.record.kind)))});
    return records;
}

uint milliseconds(std::chrono::milliseconds duration)
{
    return static_cast<uint>(std::clamp<std::int64_t>(duration.count(), 0, std::numeric_limits<uint>::max()));
}

ControlLatencies latencies(const ControlStatus& status)
{
    ControlLatencies latencies;
    const auto insert = [&](const std::string& id, const std::optional<LatencyFigures>& figures) {
        if (figures)
            latencies.insert(QString::fromStdString(id), {milliseconds(figures->median), milliseconds(figures->p95)});
    };
    insert("", status.bridgeLatency);
    for (const SystemStatus& system : status.systems)
        insert(system.record.id, system.latency);
    return latencies;
}

} // namespace

QDBusArgument& operator<<(QDBusArgument& argument, const ControlLatency& latency)
{
    argument.beginStructure();
    argument << latency.median << latency.p95;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, ControlLatency& latency)
{
    argument.beginStructure();
    argument >> latency.median >> latency.p95;
    argument.endStructure();
    return argument;
}

QDBusArgument& operator<<(QDBusArgument& argument, const ControlSystemRecord& record)
{
    argument.beginStructure();
    argument << record.id << record.kind << record.address << record.state << record.detail << record.lampCount
             << record.pace;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, ControlSystemRecord& record)
{
    argument.beginStructure();
    argument >> record.id >> record.kind >> record.address >> record.state >> record.detail >> record.lampCount >>
        record.pace;
    argument.endStructure();
    return argument;
}

void registerControlTypes()
{
    qDBusRegisterMetaType<ControlLampRecord>();
    qDBusRegisterMetaType<QList<ControlLampRecord>>();
    qDBusRegisterMetaType<ControlSystemRecord>();
    qDBusRegisterMetaType<QList<ControlSystemRecord>>();
    qDBusRegisterMetaType<ControlLatency>();
    qDBusRegisterMetaType<ControlLatencies>();
}

QDBusArgument& operator<<(QDBusArgument& argument, const ControlLampRecord& record)
{
    argument.beginStructure();
    argument << record.id << record.name << record.enabled;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, ControlLampRecord& record)
{
    argument.beginStructure();
    argument >> record.id >> record.name >> record.enabled;
    argument.endStructure();
    return argument;
}

QVariantList paletteArguments(const std::optional<PaletteDocument>& document)
{
    if (!document)
        return {QStringList{}, QVariantMap{}};
    QStringList colours;
    for (const std::string& colour : document->colours)
        colours << QString::fromStdString(colour);
    const QVariantMap about{{QStringLiteral("source"), fromView(paletteSource(*document))},
                            {QStringLiteral("title"), QString::fromStdString(document->track.title)},
                            {QStringLiteral("artist"), QString::fromStdString(document->track.artist)},
                            {QStringLiteral("album"), QString::fromStdString(document->track.album)},
                            {QStringLiteral("palette"), fromView(paletteName(document->palette))},
                            {QStringLiteral("background"), QString::fromStdString(document->background)},
                            {QStringLiteral("foreground"), QString::fromStdString(document->foreground)},
                            {QStringLiteral("accent"), QString::fromStdString(document->accent)},
                            {QStringLiteral("pinned"), document->pinned}};
    return {colours, about};
}

std::optional<PaletteDocument> paletteFromArguments(const QVariantList& arguments)
{
    const QVariant about = arguments.value(1);
    const QVariantMap map = about.canConvert<QDBusArgument>() ? qdbus_cast<QVariantMap>(about) : about.toMap();
    if (map.isEmpty())
        return std::nullopt;
    const auto text = [&](const char* key) { return map.value(fromLatin(key)).toString().toStdString(); };
    PaletteDocument document;
    for (const QString& colour : arguments.value(0).toStringList())
        document.colours.push_back(colour.toStdString());
    document.background = text("background");
    document.foreground = text("foreground");
    document.accent = text("accent");
    document.pinned = map.value(QStringLiteral("pinned")).toBool();
    document.fromPlayer = text("source") == "player";
    document.track = {text("title"), text("artist"), text("album")};
    document.palette = paletteNamed(text("palette")).value_or(Palette::Classic);
    return document;
}

NameClaim claimServiceName(const QDBusConnection& bus)
{
    if (!bus.isConnected() || bus.interface() == nullptr)
        return NameClaim::NoBus;
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply =
        bus.interface()->registerService(fromLatin(control_bus::kService), QDBusConnectionInterface::DontQueueService,
                                         QDBusConnectionInterface::DontAllowReplacement);
    if (!reply.isValid())
        return NameClaim::NoBus;
    return reply.value() == QDBusConnectionInterface::ServiceRegistered ? NameClaim::Owned : NameClaim::Taken;
}

std::optional<SettingValue> settingFromVariant(const QVariant& value)
{
    if (value.metaType() == QMetaType::fromType<QString>())
        return SettingValue{value.toString().toStdString()};
    if (value.metaType() == QMetaType::fromType<bool>())
        return SettingValue{value.toBool()};
    // Whichever integer type the caller's library picks for a number: y, n, q, i, u, x (t up to 2^63).
    switch (value.metaType().id()) {
    case QMetaType::UChar:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
        return SettingValue{static_cast<std::int64_t>(value.toLongLong())};
    case QMetaType::ULongLong:
        if (value.toULongLong() <= static_cast<qulonglong>(std::numeric_limits<std::int64_t>::max()))
            return SettingValue{static_cast<std::int64_t>(value.toULongLong())};
        return std::nullopt;
    default:
        break;
    }
    QStringList texts;
    if (value.metaType() == QMetaType::fromType<QStringList>())
        texts = value.toStringList();
    else if (value.metaType() == QMetaType::fromType<QDBusArgument>() &&
             value.value<QDBusArgument>().currentSignature() == QStringLiteral("as"))
        texts = qdbus_cast<QStringList>(value.value<QDBusArgument>());
    else
        return std::nullopt;
    std::vector<std::string> list;
    list.reserve(static_cast<std::size_t>(texts.size()));
    for (const QString& text : texts)
        list.push_back(text.toStdString());
    return SettingValue{std::move(list)};
}

QVariant variantFromSetting(const SettingValue& value)
{
    if (const bool* flag = std::get_if<bool>(&value))
        return *flag;
    if (const std::int64_t* number = std::get_if<std::int64_t>(&value))
        return QVariant::fromValue(static_cast<qint64>(*number));
    if (const auto* list = std::get_if<std::vector<std::string>>(&value)) {
        QStringList texts;
        for (const std::string& text : *list)
            texts << QString::fromStdString(text);
        return texts;
    }
    return QString::fromStdString(std::get<std::string>(value));
}

DBusControlService::DBusControlService(RemoteControl& control, Runner run, Log& log, QDBusConnection bus)
    : m_control(control), m_run(std::move(run)), m_log(log), m_bus(std::move(bus))
{
    registerControlTypes();
    new ControlAdaptor(this);
    m_registered = m_bus.isConnected() && m_bus.registerObject(fromLatin(control_bus::kPath), this);
    if (!m_registered)
        m_log.write("control: the control interface is not on the session bus (" +
                    m_bus.lastError().message().toStdString() + "); glowcastctl will use the preferences file");
}

DBusControlService::~DBusControlService()
{
    if (m_registered)
        m_bus.unregisterObject(fromLatin(control_bus::kPath));
}

void DBusControlService::paletteChanged(const PaletteDocument& document)
{
    if (!m_registered)
        return;
    QDBusMessage signal = QDBusMessage::createSignal(fromLatin(control_bus::kPath), fromLatin(control_bus::kInterface),
                                                     QStringLiteral("PaletteChanged"));
    signal.setArguments(paletteArguments(document));
    m_bus.send(signal);
}

std::optional<bool> DBusControlService::callerIsOwner(const QDBusMessage& call)
{
    if (const auto known = m_callerIsOwner.constFind(call.service()); known != m_callerIsOwner.constEnd())
        return *known;
    const QDBusReply<uint> user = m_bus.interface()->serviceUid(call.service());
    if (!user.isValid())
        return std::nullopt;
    const bool owner = user.value() == ::getuid();
    if (m_callerIsOwner.size() >= 64)
        m_callerIsOwner.clear();
    m_callerIsOwner.insert(call.service(), owner);
    return owner;
}

void DBusControlService::serve(const QDBusMessage& call, Handler handler, Turn turn)
{
    if (const std::optional<bool> owner = callerIsOwner(call); owner != true) {
        m_log.write("control: refused " + call.member().toStdString() + " from " + call.service().toStdString() +
                    (owner ? ", which runs as another user"
                           : ": the bus could not say which user it runs as (it may have left)"));
        m_bus.send(call.createErrorReply(fromLatin(control_bus::kAccessDenied),
                                         QStringLiteral("Glowcast takes orders from its own user only")));
        return;
    }
    const std::string caller = call.service().toStdString();
    // A caller who asks far more than anyone waits for is refused at once, which costs little, so the
    // calls behind its flood are reached sooner and what waits stays small.
    if (turn == Turn::Query && m_queries.waiting(caller) >= kMostQueriesWaiting) {
        ++m_refusedQueries;
        m_bus.send(call.createErrorReply(fromLatin(control_bus::kLimitsExceeded),
                                         QString::number(kMostQueriesWaiting) +
                                             QStringLiteral(" queries of this caller wait for their answer already")));
        return;
    }
    call.setDelayedReply(true);
    auto answer = [this, call, handler = std::move(handler)] {
        const QDBusMessage reply = handler(m_control, call);
        if (reply.type() == QDBusMessage::ErrorMessage)
            m_log.write("control: " + call.member().toStdString() + " refused: " + reply.errorMessage().toStdString());
        m_bus.send(reply);
    };
    if (turn == Turn::InTurn) {
        m_run(std::move(answer));
        return;
    }
    // Answering is under way whenever a query waits, so only the first to wait starts it.
    const bool answering = !m_queries.empty();
    m_queries.push(caller, std::move(answer));
    if (!answering)
        answerQueriesLater();
}

void DBusControlService::answerQueriesLater()
{
    QMetaObject::invokeMethod(this, &DBusControlService::answerQueries, Qt::QueuedConnection);
}

void DBusControlService::answerQueries()
{
    // Few enough that a query arriving meanwhile waits about a millisecond for its turn to begin.
    constexpr int kAnswersAtATime = 32;
    for (int answered = 0; answered < kAnswersAtATime && m_queries.runNext(); ++answered) {
    }
    if (!m_queries.empty()) {
        answerQueriesLater();
    } else if (m_refusedQueries > 0) {
        m_log.write("control: refused " + std::to_string(m_refusedQueries) + " queries from callers who had " +
                    std::to_string(kMostQueriesWaiting) + " waiting for their answer");
        m_refusedQueries = 0;
    }
}

ControlAdaptor::ControlAdaptor(DBusControlService* service) : QDBusAbstractAdaptor(service), m_service(*service)
{
}

void ControlAdaptor::Lamps(const QDBusMessage& call)
{
    m_service.serve(
        call, withoutArguments([](RemoteControl& control, const QDBusMessage& message) {
            QList<ControlLampRecord> records;
            for (const LampEntry& lamp : control.lamps())
                records.append({QString::fromStdString(lamp.id), QString::fromStdString(lamp.name), lamp.enabled});
            return message.createReply(QVariant::fromValue(records));
        }),
        DBusControlService::Turn::Query);
}

void ControlAdaptor::Enable(const QString& id, const QDBusMessage& call)
{
    m_service.serve(call, [id = id.toStdString()](RemoteControl& control, const QDBusMessage& message) {
        return answer(message, control.enable(id));
    });
}

void ControlAdaptor::Disable(const QString& id, const QDBusMessage& call)
{
    m_service.serve(call, [id = id.toStdString()](RemoteControl& control, const QDBusMessage& message) {
        return answer(message, control.disable(id));
    });
}

void ControlAdaptor::Pause(const QDBusMessage& call)
{
    m_service.serve(call, withoutArguments([](RemoteControl& control, const QDBusMessage& message) {
                        control.pause();
                        return message.createReply();
                    }));
}

void ControlAdaptor::Resume(const QDBusMessage& call)
{
    m_service.serve(call, withoutArguments([](RemoteControl& control, const QDBusMessage& message) {
                        control.resume();
                        return message.createReply();
                    }));
}

void ControlAdaptor::Pin(const QDBusMessage& call)
{
    m_service.serve(call, withoutArguments([](RemoteControl& control, const QDBusMessage& message) {
                        return answer(message, control.setPinned(true));
                    }));
}

void ControlAdaptor::Unpin(const QDBusMessage& call)
{
    m_service.serve(call, withoutArguments([](RemoteControl& control, const QDBusMessage& message) {
                        return answer(message, control.setPinned(false));
                    }));
}

void ControlAdaptor::Status(const QDBusMessage& call)
{
    m_service.serve(call, withoutArguments([](RemoteControl& control, const QDBusMessage& message) {
                        const ControlStatus status = control.status();
                        QStringList colours;
                        for (const Colour& colour : status.lastColours)
                            colours << QString::fromStdString(hexColour(rgbBytes(colour)));
                        const QVariantMap map{
                            {QStringLiteral("listening"), status.listening},
                            {QStringLiteral("paired"), status.paired},
                            {QStringLiteral("bridge"), QString::fromStdString(status.bridgeAddress)},
                            {QStringLiteral("following"), status.following},
                            {QStringLiteral("pinned"), status.pinned},
                            {QStringLiteral("beat"), QString::fromStdString(status.beat)},
                            {QStringLiteral("sound"), QString::fromStdString(status.soundCapture)},
                            {QStringLiteral("player"), QString::fromStdString(status.followedPlayer)},
                            {QStringLiteral("colours"), colours},
                            {QStringLiteral("systems"), QVariant::fromValue(systemRecords(status.systems))},
                            {QStringLiteral("latency"), QVariant::fromValue(latencies(status))}};
                        return message.createReply(map);
                    }),
                    DBusControlService::Turn::Query);
}

void ControlAdaptor::Settings(const QDBusMessage& call)
{
    m_service.serve(call, withoutArguments([](RemoteControl& control, const QDBusMessage& message) {
                        QVariantMap map;
                        for (const SettingRow& row : settingRows())
                            map.insert(
                                QString::fromUtf8(row.key.data(), static_cast<qsizetype>(row.key.size())),
                                variantFromSetting(control.settings().value(row.key).value_or(row.defaultValue)));
                        return message.createReply(map);
                    }),
                    DBusControlService::Turn::Query);
}

void ControlAdaptor::SetSetting(const QString& key, const QDBusVariant& value, const QDBusMessage& call)
{
    const std::optional<SettingValue> setting = settingFromVariant(value.variant());
    m_service.serve(call, [key = key.toStdString(), setting](RemoteControl& control, const QDBusMessage& message) {
        if (!setting)
            return answer(message, {Failure::WrongKind, "\"" + key +
                                                            "\" takes a text (s), a flag (b), a list of "
                                                            "texts (as) or a whole number (x)"});
        return answer(message, control.setSetting(key, *setting));
    });
}

void ControlAdaptor::Systems(const QDBusMessage& call)
{
    m_service.serve(
        call,
        [](RemoteControl& control, const QDBusMessage& message) {
            return message.createReply(QVariant::fromValue(systemRecords(control.systems())));
        },
        DBusControlService::Turn::Query);
}

void ControlAdaptor::AddSystem(const QString& kind, const QString& address, const QVariantMap& options,
                               const QDBusMessage& call)
{
    SystemRecord record;
    record.address = address.toStdString();
    std::string stagedSecrets;
    std::optional<Outcome> refused;
    if (const std::optional<SystemKind> named = systemKindNamed(kind.toStdString()))
        record.kind = *named;
    else
        refused = Outcome{Failure::InvalidValue, noSuchKind(kind.toStdString())};
    for (auto option = options.begin(); option != options.end() && !refused; ++option) {
        const bool isText = option.value().metaType() == QMetaType::fromType<QString>();
        if (option.key() == QStringLiteral("user") && isText)
            record.user = option.value().toString().toStdString();
        else if (option.key() == QStringLiteral("id") && isText)
            record.id = option.value().toString().toStdString();
        else if (option.key() == QStringLiteral("secrets") && isText)
            stagedSecrets = option.value().toString().toStdString();
        else
            refused = Outcome{Failure::WrongKind,
                              "AddSystem takes the options \"user\", \"id\" and \"secrets\", each a text (s); a "
                              "password never travels over the bus: it waits in the system's password file"};
    }
    m_service.serve(call,
                    [record, stagedSecrets, refused](RemoteControl& control, const QDBusMessage& message) mutable {
                        if (refused)
                            return answer(message, *refused);
                        if (const Outcome outcome = control.addSystem(record, stagedSecrets); !outcome.ok())
                            return answer(message, outcome);
                        return message.createReply(QString::fromStdString(record.id));
                    });
}

void ControlAdaptor::SetSystemPace(const QString& id, uint pace, const QDBusMessage& call)
{
    m_service.serve(call, [id = id.toStdString(), pace](RemoteControl& control, const QDBusMessage& message) {
        // Beyond any pace a system takes, yet still a number the sentence can name.
        const int wanted = static_cast<int>(std::min<uint>(pace, 1'000'000));
        return answer(message, control.setSystemPace(id, pace == 0 ? std::nullopt : std::optional<int>{wanted}));
    });
}

void ControlAdaptor::SetSystemOffset(const QString& id, int offset, const QDBusMessage& call)
{
    m_service.serve(call, [id = id.toStdString(), offset](RemoteControl& control, const QDBusMessage& message) {
        return answer(message, control.setSystemOffset(id, std::chrono::milliseconds{offset}));
    });
}

void ControlAdaptor::SetSystemSyncPort(const QString& id, uint port, const QDBusMessage& call)
{
    m_service.serve(call, [id = id.toStdString(), port](RemoteControl& control, const QDBusMessage& message) {
        // Beyond any port, yet still a number the refusal can name.
        return answer(message, control.setSystemSyncPort(id, static_cast<int>(std::min<uint>(port, 1'000'000))));
    });
}

void ControlAdaptor::RemoveSystem(const QString& id, const QDBusMessage& call)
{
    m_service.serve(call, [id = id.toStdString()](RemoteControl& control, const QDBusMessage& message) {
        return answer(message, control.removeSystem(id));
    });
}

void ControlAdaptor::ReloadSystem(const QString& id, const QDBusMessage& call)
{
    m_service.serve(call, [id = id.toStdString()](RemoteControl& control, const QDBusMessage& message) {
        return answer(message, control.reloadSystem(id));
    });
}

void ControlAdaptor::Palette(const QDBusMessage& call)
{
    m_service.serve(call, withoutArguments([](RemoteControl& control, const QDBusMessage& message) {
                        return message.createReply(paletteArguments(control.palette()));
                    }),
                    DBusControlService::Turn::Query);
}

} // namespace glowcast
