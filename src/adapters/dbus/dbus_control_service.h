#pragma once

#include "core/control/fair_queue.h"
#include "core/control/remote_control.h"
#include "core/palette/palette_document.h"
#include "core/ports/log.h"

#include <QDBusAbstractAdaptor>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QHash>
#include <QList>
#include <QMap>
#include <QObject>
#include <QString>
#include <QVariantMap>

#include <functional>
#include <optional>

namespace glowcast {

// The running program's control interface on the session bus:
//
//   bus name     org.glowcast.Glowcast (owned by the one running program)
//   object path  /org/glowcast/Glowcast
//   interface    org.glowcast.Control1
//     Lamps() -> a(ssb)                 id, name, enabled, in the table's order
//     Enable(s id), Disable(s id)
//     Pause(), Resume()                 stop and start following cover changes
//     Pin(), Unpin()                    covers change nothing on the lamps; unpinned, the lamps take the
//                                       last cover's colours (the "pinned" setting)
//     Status() -> a{sv}                 listening b, paired b, bridge s, following b, pinned b, player s,
//                                       colours as ("#rrggbb" of the last cover, in order), beat s (the
//                                       setting), sound s (off, waiting, capturing or unavailable)
//     Settings() -> a{sv}               every settings key: a text s, a flag b, a list as or a
//                                       whole number x
//     SetSetting(s key, v value)        a whole number may come as any integer type
//     Systems() -> a(sssssuu)           the lamp systems beside the first bridge: id, kind, address,
//                                       state (one word), detail, lamp count, pace (lamp states a second)
//     AddSystem(s kind, s address, a{sv} options) -> s id
//                                       options: "user" s (a broker's user), "id" s (the id to take,
//                                       else the program picks the kind's first free one), "secrets" s
//                                       (the tag of the secrets the caller staged in the systems folder,
//                                       given to the system's id as it is stored); a password never
//                                       travels: it waits in a file
//     SetSystemPace(s id, u pace)       1..1000, or 0 for the kind's default
//     SetSystemOffset(s id, i offset)   ms added to the system's send time, -200..2000
//     SetSystemSyncPort(s id, u port)   a WLED system's sound sync port, 0 (none)..65535
//     RemoveSystem(s id)
//     ReloadSystem(s id)                the system started anew, its credential files read again
//     Palette() -> as, a{sv}            the last cover's palette as PaletteChanged gives it; nothing
//                                       in either before the first cover's colours were taken
//   signal PaletteChanged(as colours, a{sv} about)
//                                     once per cover whose colours were taken: "#rrggbb" in lamp
//                                     order; source s ("player" or "notification"), title s,
//                                     artist s, album s (empty for a notification's cover), palette s
//                                     ("classic" or "vivid"), background s, foreground s, accent s
//                                     (a pair of at least 4.5:1 and a third colour), pinned b
//
// Status also holds "systems", a(sssssuu) as Systems() gives it, and "latency", a{s(uu)}: for each
// system with an answered lamp state, its id (the first bridge's is empty) to the median and the 95th
// percentile, in ms, of the time its last states took to be answered.
// Refusals are D-Bus errors and change nothing: the errors named below, InvalidArgs for a value of
// the wrong type, AccessDenied for a caller running as another user, UnknownMethod for arguments
// of the wrong types or for any argument to a method that takes none, LimitsExceeded for a query
// from a caller who already has 64 waiting for their answer.
namespace control_bus {
inline constexpr const char* kService = "org.glowcast.Glowcast";
inline constexpr const char* kPath = "/org/glowcast/Glowcast";
inline constexpr const char* kInterface = "org.glowcast.Control1";
inline constexpr const char* kUnknownLamp = "org.glowcast.Control1.Error.UnknownLamp";
inline constexpr const char* kNoLampList = "org.glowcast.Control1.Error.NoLampList";
inline constexpr const char* kUnknownSetting = "org.glowcast.Control1.Error.UnknownSetting";
inline constexpr const char* kInvalidValue = "org.glowcast.Control1.Error.InvalidValue";
inline constexpr const char* kNotSaved = "org.glowcast.Control1.Error.NotSaved";
inline constexpr const char* kUnknownSystem = "org.glowcast.Control1.Error.UnknownSystem";
inline constexpr const char* kInvalidArgs = "org.freedesktop.DBus.Error.InvalidArgs";
inline constexpr const char* kAccessDenied = "org.freedesktop.DBus.Error.AccessDenied";
inline constexpr const char* kLimitsExceeded = "org.freedesktop.DBus.Error.LimitsExceeded";
} // namespace control_bus

// One row of Lamps().
struct ControlLampRecord {
    QString id;
    QString name;
    bool enabled = false;
};
QDBusArgument& operator<<(QDBusArgument& argument, const ControlLampRecord& record);
const QDBusArgument& operator>>(const QDBusArgument& argument, ControlLampRecord& record);

// One row of Systems().
struct ControlSystemRecord {
    QString id;
    QString kind;
    QString address;
    QString state;
    QString detail;
    uint lampCount = 0;
    uint pace = 0;
};
QDBusArgument& operator<<(QDBusArgument& argument, const ControlSystemRecord& record);
const QDBusArgument& operator>>(const QDBusArgument& argument, ControlSystemRecord& record);
// How long a system takes to answer a lamp state, in Status's "latency": system id (the first bridge's
// is empty, as its lamps' ids have no system) to the median and the 95th percentile in ms.
struct ControlLatency {
    uint median = 0;
    uint p95 = 0;
};
using ControlLatencies = QMap<QString, ControlLatency>;
QDBusArgument& operator<<(QDBusArgument& argument, const ControlLatency& latency);
const QDBusArgument& operator>>(const QDBusArgument& argument, ControlLatency& latency);
// Registers the row and latency types with Qt's D-Bus types; for a client before its first call.
void registerControlTypes();

// A palette as Palette() and PaletteChanged carry it, and back; a reply of other types gives an empty
// document.
[[nodiscard]] QVariantList paletteArguments(const std::optional<PaletteDocument>& document);
[[nodiscard]] std::optional<PaletteDocument> paletteFromArguments(const QVariantList& arguments);

// Whether this program may run: it owns the bus name now, another program does, or there is no
// session bus to ask.
enum class NameClaim { Owned, Taken, NoBus };
[[nodiscard]] NameClaim claimServiceName(const QDBusConnection& bus);

// A settings value as it travels in a variant: s, b, as or a whole number (x out, any integer type
// in); nothing for any other type.
[[nodiscard]] std::optional<SettingValue> settingFromVariant(const QVariant& value);
[[nodiscard]] QVariant variantFromSetting(const SettingValue& value);

// The object behind the interface. Each call is checked for the caller's user, then handed to run
// (the program's operation queue) and answered when it has run, so a call that arrives during a
// set-up or a cover change waits for it like any other operation.
class DBusControlService final : public QObject {
    Q_OBJECT
public:
    using Runner = std::function<void(std::function<void()> operation)>;

    DBusControlService(RemoteControl& control, Runner run, Log& log, QDBusConnection bus);
    ~DBusControlService() override;

    // The object is on the bus (the name is claimed separately, before anything else starts).
    [[nodiscard]] bool isRegistered() const { return m_registered; }

    // Sends PaletteChanged for a cover whose colours were taken.
    void paletteChanged(const PaletteDocument& document);

    // One call: the reply it gets (a method return or an error), made on the main thread in turn. A
    // query only reads, so it does not wait for operations: it waits only for other callers' queries,
    // answered one caller at a time in turn, so that a caller who sends thousands at once holds up
    // another's query by a few answers, not by all of its own.
    using Handler = std::function<QDBusMessage(RemoteControl& control, const QDBusMessage& call)>;
    enum class Turn { InTurn, Query };
    void serve(const QDBusMessage& call, Handler handler, Turn turn = Turn::InTurn);

private:
    // Nothing when the bus could not say (the caller left before its answer): not kept, and no other user.
    [[nodiscard]] std::optional<bool> callerIsOwner(const QDBusMessage& call);
    // Answers a few waiting queries, then lets the calls that arrived meanwhile join the turns.
    void answerQueriesLater();
    void answerQueries();

    RemoteControl& m_control;
    Runner m_run;
    Log& m_log;
    QDBusConnection m_bus;
    bool m_registered = false;
    // Whether each caller runs as our user, by its unique bus name: the bus never gives a unique name
    // twice, so the answer holds. Asking the bus costs a blocking round trip, which a flood of calls
    // would pay once each. Kept for a few callers only.
    QHash<QString, bool> m_callerIsOwner;
    FairQueue m_queries;
    int m_refusedQueries = 0; // since the queries last ran out
};

class ControlAdaptor final : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.glowcast.Control1")
    Q_CLASSINFO(
        "D-Bus Introspection",
        "  <interface name=\"org.glowcast.Control1\">\n"
        "    <method name=\"Lamps\"><arg name=\"lamps\" type=\"a(ssb)\" direction=\"out\"/></method>\n"
        "    <method name=\"Enable\"><arg name=\"id\" type=\"s\" direction=\"in\"/></method>\n"
        "    <method name=\"Disable\"><arg name=\"id\" type=\"s\" direction=\"in\"/></method>\n"
        "    <method name=\"Pause\"/>\n"
        "    <method name=\"Resume\"/>\n"
        "    <method name=\"Pin\"/>\n"
        "    <method name=\"Unpin\"/>\n"
        "    <method name=\"Status\"><arg name=\"status\" type=\"a{sv}\" direction=\"out\"/></method>\n"
        "    <method name=\"Settings\"><arg name=\"settings\" type=\"a{sv}\" direction=\"out\"/></method>\n"
        "    <method name=\"SetSetting\"><arg name=\"key\" type=\"s\" direction=\"in\"/>"
        "<arg name=\"value\" type=\"v\" direction=\"in\"/></method>\n"
        "    <method name=\"Systems\"><arg name=\"systems\" type=\"a(sssssuu)\" direction=\"out\"/></method>\n"
        "    <method name=\"AddSystem\"><arg name=\"kind\" type=\"s\" direction=\"in\"/>"
        "<arg name=\"address\" type=\"s\" direction=\"in\"/><arg name=\"options\" type=\"a{sv}\" direction=\"in\"/>"
        "<arg name=\"id\" type=\"s\" direction=\"out\"/></method>\n"
        "    <method name=\"SetSystemPace\"><arg name=\"id\" type=\"s\" direction=\"in\"/>"
        "<arg name=\"pace\" type=\"u\" direction=\"in\"/></method>\n"
        "    <method name=\"SetSystemOffset\"><arg name=\"id\" type=\"s\" direction=\"in\"/>"
        "<arg name=\"offset\" type=\"i\" direction=\"in\"/></method>\n"
        "    <method name=\"SetSystemSyncPort\"><arg name=\"id\" type=\"s\" direction=\"in\"/>"
        "<arg name=\"port\" type=\"u\" direction=\"in\"/></method>\n"
        "    <method name=\"RemoveSystem\"><arg name=\"id\" type=\"s\" direction=\"in\"/></method>\n"
        "    <method name=\"ReloadSystem\"><arg name=\"id\" type=\"s\" direction=\"in\"/></method>\n"
        "    <method name=\"Palette\"><arg name=\"colours\" type=\"as\" direction=\"out\"/>"
        "<arg name=\"about\" type=\"a{sv}\" direction=\"out\"/></method>\n"
        "    <signal name=\"PaletteChanged\"><arg name=\"colours\" type=\"as\"/>"
        "<arg name=\"about\" type=\"a{sv}\"/></signal>\n"
        "  </interface>\n")
public:
    explicit ControlAdaptor(DBusControlService* service);

public Q_SLOTS:
    void Lamps(const QDBusMessage& call);
    void Enable(const QString& id, const QDBusMessage& call);
    void Disable(const QString& id, const QDBusMessage& call);
    void Pause(const QDBusMessage& call);
    void Resume(const QDBusMessage& call);
    void Pin(const QDBusMessage& call);
    void Unpin(const QDBusMessage& call);
    void Status(const QDBusMessage& call);
    void Settings(const QDBusMessage& call);
    void SetSetting(const QString& key, const QDBusVariant& value, const QDBusMessage& call);
    void Systems(const QDBusMessage& call);
    void AddSystem(const QString& kind, const QString& address, const QVariantMap& options, const QDBusMessage& call);
    void SetSystemPace(const QString& id, uint pace, const QDBusMessage& call);
    void SetSystemOffset(const QString& id, int offset, const QDBusMessage& call);
    void SetSystemSyncPort(const QString& id, uint port, const QDBusMessage& call);
    void RemoveSystem(const QString& id, const QDBusMessage& call);
    void ReloadSystem(const QString& id, const QDBusMessage& call);
    void Palette(const QDBusMessage& call);

private:
    DBusControlService& m_service;
};

} // namespace glowcast

Q_DECLARE_METATYPE(glowcast::ControlLampRecord)
Q_DECLARE_METATYPE(glowcast::ControlSystemRecord)
Q_DECLARE_METATYPE(glowcast::ControlLatency)
