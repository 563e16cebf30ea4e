#include "adapters/dbus/dbus_control_service.h"
#include "core/control/operation_queue.h"
#include "core/lamp_systems/system_kinds.h"
#include "gui/lamp_table_model.h"
#include "support/controller_rig.h"
#include "support/fake_lamp_systems.h"
#include "support/private_session_bus.h"
#include "support/processes.h"
#include "support/recording_log.h"
#include "support/waiting.h"

#include <QAbstractItemModelTester>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace glowcast {
namespace {

using testing::waitFor;

// The control interface on a private bus over a controller set up with Desk (enabled) and Hall, its
// table model connected as in the window, and lamp systems; the test calls it from a second connection.
class ControlServiceTest : public ::testing::Test, protected ControllerRig {
protected:
    testing::PrivateSessionBus bus;
    QDBusConnection serviceBus = QDBusConnection::connectToBus(bus.address(), QStringLiteral("service"));
    QDBusConnection client = QDBusConnection::connectToBus(bus.address(), QStringLiteral("client"));
    LampTableModel model{controller.lamps()};
    QAbstractItemModelTester tester{&model, QAbstractItemModelTester::FailureReportingMode::Fatal};
    Settings settings{prefs, log};
    RemoteControl control{controller, bridge, settings, scheduler, log, std::nullopt};
    FakeLampSystemFactory factory;
    FakeTimeline timeline;
    LampSystems systems{factory, timeline, timeline, log};
    OperationQueue queue;
    DBusControlService service{control, [this](std::function<void()> operation) { queue.run(std::move(operation)); },
                               log, serviceBus};

    void SetUp() override
    {
        ASSERT_TRUE(service.isRegistered());
        control.attachSystems(systems, prefs);
        prefs.savedLamps = std::vector<LampEntry>{{"1", "Desk", true}};
        controller.connectViews({&model, nullptr});
        ASSERT_TRUE(setUpPaired(R"({"1":{"name":"Desk"},"2":{"name":"Hall"}})"));
    }
    void TearDown() override
    {
        QDBusConnection::disconnectFromBus(QStringLiteral("client"));
        QDBusConnection::disconnectFromBus(QStringLiteral("service"));
    }
    QDBusPendingCall send(const char* method, const QVariantList& arguments = {})
    {
        QDBusMessage call =
            QDBusMessage::createMethodCall(serviceBus.baseService(), QLatin1String(control_bus::kPath),
                                           QLatin1String(control_bus::kInterface), QLatin1String(method));
        call.setArguments(arguments);
        return client.asyncCall(call);
    }
    QDBusMessage call(const char* method, const QVariantList& arguments = {})
    {
        QDBusPendingCall pending = send(method, arguments);
        EXPECT_TRUE(waitFor([&] { return pending.isFinished(); }));
        return pending.reply();
    }
    Qt::CheckState checkBox(int row) { return model.index(row, 0).data(Qt::CheckStateRole).value<Qt::CheckState>(); }
};

TEST_F(ControlServiceTest, ABusCallShowsAtOnceInTheTableAndSystemsTravelAsRows)
{
    QSignalSpy changes{&model, &QAbstractItemModel::dataChanged};
    EXPECT_EQ(call("Enable", {QStringLiteral("2")}).type(), QDBusMessage::ReplyMessage);
    EXPECT_EQ(changes.count(), 1);
    EXPECT_EQ(checkBox(1), Qt::Checked);
    EXPECT_EQ(call("Lamps").signature(), QStringLiteral("a(ssb)")); // its rows: glowcastctl lamps, end to end
    EXPECT_EQ(call("Pause").type(), QDBusMessage::ReplyMessage);
    EXPECT_EQ(call("Pin").type(), QDBusMessage::ReplyMessage);
    QVariantMap status = qdbus_cast<QVariantMap>(call("Status").arguments().at(0));
    EXPECT_FALSE(status[QStringLiteral("following")].toBool());
    EXPECT_TRUE(status[QStringLiteral("pinned")].toBool());
    EXPECT_EQ(call("Unpin").type(), QDBusMessage::ReplyMessage);
    EXPECT_FALSE(controller.pinned());
    EXPECT_EQ(status[QStringLiteral("bridge")].toString(), QStringLiteral("10.0.0.2"));

    // A system added with a user travels back as a row in Systems and in Status; that glowcastctl
    // shows each row's fields is the end-to-end tests' to show.
    const QVariantMap user{{QStringLiteral("user"), QStringLiteral("ann")}};
    EXPECT_EQ(call("AddSystem", {QStringLiteral("zigbee2mqtt"), QStringLiteral("mqtt://10.0.0.5/home"), user})
                  .arguments()
                  .value(0),
              QStringLiteral("z2m"));
    EXPECT_EQ(systems.records().at(0).user, "ann");
    EXPECT_EQ(call("SetSystemPace", {QStringLiteral("z2m"), 7u}).type(), QDBusMessage::ReplyMessage);
    EXPECT_EQ(systems.records().at(0).pace, 7);
    EXPECT_EQ(call("SetSystemPace", {QStringLiteral("z2m"), 0u}).type(), QDBusMessage::ReplyMessage);
    EXPECT_EQ(systems.records().at(0).pace, std::nullopt) << "0 is the kind's own pace";
    EXPECT_EQ(call("SetSystemOffset", {QStringLiteral("z2m"), -120}).type(), QDBusMessage::ReplyMessage);
    EXPECT_EQ(systems.records().at(0).offset, std::chrono::milliseconds{-120});
    const auto systemIds = [](const QVariant& list) {
        QStringList ids;
        for (const ControlSystemRecord& row : qdbus_cast<QList<ControlSystemRecord>>(list))
            ids << row.id + u'|' + row.address;
        return ids;
    };
    EXPECT_EQ(systemIds(call("Systems").arguments().value(0)), QStringList{QStringLiteral("z2m|mqtt://10.0.0.5/home")});

    // Status gives each system's latency under its id, the first bridge's under the empty id its lamps have.
    factory.made.at("z2m")->told().lampsRead(colourLamps(1));
    systems.send({{"z2m/k1", LampState{false, 10, {}, {}, {}}}});
    timeline.advance(std::chrono::milliseconds{40});
    factory.made.at("z2m")->answerAll(SendResult::Delivered);
    EXPECT_EQ(call("Resume").type(), QDBusMessage::ReplyMessage);
    http.replies.emplace_back("[]"); // Desk's state, accepted at once: lamp care's clock moves only as it sleeps
    postCover({{{192, 0, 0}, 100}});
    status = qdbus_cast<QVariantMap>(call("Status").arguments().at(0));
    EXPECT_EQ(systemIds(status[QStringLiteral("systems")]), QStringList{QStringLiteral("z2m|mqtt://10.0.0.5/home")});
    QStringList figures;
    for (const auto& [id, each] : qdbus_cast<ControlLatencies>(status[QStringLiteral("latency")]).asKeyValueRange())
        figures << QStringLiteral("%1 %2 %3").arg(id).arg(each.median).arg(each.p95);
    EXPECT_EQ(figures, (QStringList{QStringLiteral(" 0 0"), QStringLiteral("z2m 40 40")}));
}

// Each refusal's error name once (what is refused is the core's to decide), and every argument the
// adapter itself reads: the types, the kind of a system, and a password, which never travels.
TEST_F(ControlServiceTest, RefusedCallsAreErrorsAndChangeNothing)
{
    struct Case {
        const char* method;
        QVariantList arguments;
        const char* error;
        bool fullDisk = false;
    };
    const auto inVariant = [](const QVariant& value) { return QVariant::fromValue(QDBusVariant(value)); };
    const QVariantMap password{{QStringLiteral("password"), QStringLiteral("s3cret")}};
    const Case cases[] = {
        {"Enable", {QStringLiteral("9")}, control_bus::kUnknownLamp},
        {"Enable", {2}, "org.freedesktop.DBus.Error.UnknownMethod"},
        {"Status", {QStringLiteral("extra")}, "org.freedesktop.DBus.Error.UnknownMethod"},
        {"SetSetting", {QStringLiteral("followplayers"), inVariant(QStringLiteral("no"))}, control_bus::kInvalidArgs},
        {"SetSetting", {QStringLiteral("pace"), inVariant(2.5)}, control_bus::kInvalidArgs},
        {"SetSetting", {QStringLiteral("portal"), inVariant(QStringLiteral("a b"))}, control_bus::kInvalidValue},
        {"SetSetting", {QStringLiteral("theme"), inVariant(QStringLiteral("dark"))}, control_bus::kUnknownSetting},
        {"Disable", {QStringLiteral("1")}, control_bus::kNotSaved, true},
        {"SetSetting", {QStringLiteral("fade"), inVariant(12)}, control_bus::kNotSaved, true},
        {"AddSystem", {QStringLiteral("hue"), QStringLiteral("10.0.0.3"), QVariantMap{}}, control_bus::kInvalidValue},
        {"AddSystem", {QStringLiteral("zigbee2mqtt"), QStringLiteral("mqtt://x"), password}, control_bus::kInvalidArgs},
        {"SetSystemPace", {QStringLiteral("z3m"), 1u}, control_bus::kUnknownSystem},
    };
    const auto textsBefore = prefs.texts;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.method + std::string(" ") + c.error);
        prefs.failSaves = c.fullDisk;
        const QDBusMessage reply = call(c.method, c.arguments);
        EXPECT_EQ(reply.errorName(), QLatin1String(c.error)) << reply.errorMessage().toStdString();
    }
    EXPECT_EQ(checkBox(0), Qt::Checked);
    EXPECT_EQ(checkBox(1), Qt::Unchecked);
    EXPECT_EQ(prefs.texts, textsBefore);
    EXPECT_TRUE(prefs.others.empty());
    EXPECT_TRUE(systems.records().empty());
    EXPECT_FALSE(testing::logHas(log, "s3cret"));
}

// A caller that left before the bus told its user is refused, and logged as what it is: not as another user.
// dbus-send leaves without waiting for an answer, and the service reads the call only once it has gone.
TEST_F(ControlServiceTest, ACallerThatLeftIsNotTakenForAnotherUser)
{
    const QString method = QLatin1String(control_bus::kInterface) + QStringLiteral(".Status");
    ASSERT_EQ(testing::runProgram(QStringLiteral("dbus-send"),
                                  {QStringLiteral("--bus=") + bus.address(), QStringLiteral("--type=method_call"),
                                   QStringLiteral("--dest=") + serviceBus.baseService(),
                                   QLatin1String(control_bus::kPath), method})
                  .exitCode,
              0);
    EXPECT_TRUE(waitFor([&] { return testing::logHas(log, "control: refused Status from :"); }));
    EXPECT_TRUE(log.lines.back().ends_with(": the bus could not say which user it runs as (it may have left)"))
        << log.lines.back();
}

// The kinds the refusal lists are the table's, in its order.
TEST_F(ControlServiceTest, AnUnknownKindIsRefusedWithTheKindsOfTheTable)
{
    QStringList names;
    for (const SystemKindRow& row : systemKinds())
        names << QString::fromUtf8(row.name.data(), static_cast<qsizetype>(row.name.size()));
    EXPECT_EQ(call("AddSystem", {QStringLiteral("hue"), QStringLiteral("10.0.0.3"), QVariantMap{}}).errorMessage(),
              QStringLiteral("\"hue\" is no kind of lamp system (%1)").arg(names.join(QStringLiteral(", "))));
}

TEST_F(ControlServiceTest, DuringAnotherOperationQueriesAreAnsweredAtOnceAndChangesAfterIt)
{
    struct Case {
        const char* method;
        QVariantList arguments;
        bool atOnce;
    };
    const Case cases[] = {
        {"Status", {}, true}, {"Lamps", {}, true}, {"Settings", {}, true}, {"Disable", {QStringLiteral("1")}, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.method);
        std::optional<QDBusPendingCall> pending;
        queue.run([&] { // a cover change waiting for the bridge
            pending = send(c.method, c.arguments);
            if (c.atOnce) {
                EXPECT_TRUE(waitFor([&] { return pending->isFinished(); }));
            } else {
                EXPECT_TRUE(waitFor([&] { return queue.waiting() == 1; }));
                EXPECT_FALSE(pending->isFinished());
                EXPECT_EQ(checkBox(0), Qt::Checked);
            }
        });
        EXPECT_TRUE(waitFor([&] { return pending->isFinished(); }));
        EXPECT_FALSE(pending->isError()) << pending->error().message().toStdString();
    }
    EXPECT_EQ(checkBox(0), Qt::Unchecked);

    // A caller who sends a thousand queries at once: 64 wait for their answer and the rest are refused at
    // once, while another caller's query is answered. The bus answers a ping itself, after every call the
    // same connection sent before it: all of them wait in the service's queue before it answers any.
    QDBusConnection flooder = QDBusConnection::connectToBus(bus.address(), QStringLiteral("flooder"));
    const QDBusMessage ping =
        QDBusMessage::createMethodCall(serviceBus.baseService(), QStringLiteral("/"),
                                       QStringLiteral("org.freedesktop.DBus.Peer"), QStringLiteral("Ping"));
    QDBusMessage status =
        QDBusMessage::createMethodCall(serviceBus.baseService(), QLatin1String(control_bus::kPath),
                                       QLatin1String(control_bus::kInterface), QStringLiteral("Status"));
    std::vector<QDBusPendingCall> flood;
    for (int i = 0; i < 1000; ++i)
        flood.push_back(flooder.asyncCall(status));
    ASSERT_EQ(flooder.call(ping).type(), QDBusMessage::ReplyMessage);
    QDBusPendingCall mine = send("Status");
    ASSERT_EQ(client.call(ping).type(), QDBusMessage::ReplyMessage);
    EXPECT_TRUE(waitFor([&] {
        return mine.isFinished() &&
               std::ranges::all_of(flood, [](const QDBusPendingCall& c) { return c.isFinished(); });
    }));
    EXPECT_FALSE(mine.isError());
    EXPECT_EQ(std::ranges::count_if(flood,
                                    [](const QDBusPendingCall& c) {
                                        return c.error().name() == QLatin1String(control_bus::kLimitsExceeded);
                                    }),
              936);
    EXPECT_EQ(log.count("control: refused 936 queries from callers who had 64 waiting for their answer"), 1);
    QDBusConnection::disconnectFromBus(QStringLiteral("flooder"));
}

} // namespace
} // namespace glowcast
