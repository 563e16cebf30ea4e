#include "adapters/dbus/dbus_notification_centre.h"
#include "support/private_session_bus.h"
#include "support/processes.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusVariant>
#include <QTemporaryDir>
#include <QVariantMap>

#include <gtest/gtest.h>

#include <functional>

namespace glowcast {
namespace {

using testing::waitFor;
using Bytes = std::vector<std::uint8_t>;

const Bytes kCover{0x89, 'P', 'N', 'G', 0x00, 0xff, 0x0d, 0x0a, 0x00, 0x7f};

Notification coverChanged(Bytes cover)
{
    return {"CoverdeckAlbumCoverChanged", "Coverdeck", {{"cover", std::move(cover)}}};
}

class DBusNotificationCentreTest : public ::testing::Test {
protected:
    testing::PrivateSessionBus bus;
    QDBusConnection listener = QDBusConnection::connectToBus(bus.address(), QStringLiteral("listener"));
    QDBusConnection poster = QDBusConnection::connectToBus(bus.address(), QStringLiteral("poster"));
    RecordingLog log;
    std::vector<Notification> received;
    DBusNotificationCentre centre{log, listener};

    void SetUp() override
    {
        ASSERT_FALSE(bus.address().isEmpty()) << "dbus-daemon did not start";
        qDBusRegisterMetaType<QMap<QString, QString>>(); // types only the faulty posters send
        qDBusRegisterMetaType<QByteArrayList>();
        ASSERT_TRUE(listener.isConnected() && poster.isConnected());
    }
    void TearDown() override
    {
        QDBusConnection::disconnectFromBus(QStringLiteral("listener"));
        QDBusConnection::disconnectFromBus(QStringLiteral("poster"));
    }
    void observe() { centre.addObserver("CoverdeckAlbumCoverChanged", "Coverdeck", recorder()); }
    std::function<void(const Notification&)> recorder()
    {
        return [this](const Notification& notification) { received.push_back(notification); };
    }
    void post(const Notification& notification)
    {
        const Outcome posted = postNotification(poster, notification);
        ASSERT_TRUE(posted.ok()) << posted.message;
    }
    // Sends a Posted signal with whatever arguments, as a faulty program might.
    void sendRaw(const QList<QVariant>& arguments)
    {
        QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/org/glowcast/Notifications"),
                                                         QStringLiteral("org.glowcast.DistributedNotifications"),
                                                         QStringLiteral("Posted"));
        signal.setArguments(arguments);
        ASSERT_TRUE(poster.send(signal));
    }
    // Signals from one sender arrive in order: once the last one posted is in, so are the others.
    void expectReceivedLast(std::size_t count)
    {
        ASSERT_TRUE(waitFor([&] { return received.size() >= count; }));
        QCoreApplication::processEvents();
        EXPECT_EQ(received.size(), count);
    }
};

TEST_F(DBusNotificationCentreTest, DeliversExactlyTheRegisteredNameAndObjectToEachObserverInOrder)
{
    post(coverChanged({1})); // before the first registration: not heard
    std::vector<std::string> calls;
    centre.addObserver("CoverdeckAlbumCoverChanged", "Coverdeck", [&](const Notification&) { calls.push_back("a"); });
    centre.addObserver("Other", "Coverdeck", [&](const Notification&) { calls.push_back("other"); });
    observe();
    ASSERT_TRUE(centre.isListening());

    Bytes large(3 * 1024 * 1024);
    for (std::size_t index = 0; index < large.size(); ++index)
        large[index] = static_cast<std::uint8_t>(index * 7919 % 251);
    for (const char* name : {"CoverdeckAlbumCoverChangedX", "coverdeckalbumcoverchanged"})
        post({name, "Coverdeck", {{"cover", {2}}}});
    for (const char* object : {"coverdeck", "Coverdeck ", ""})
        post({"CoverdeckAlbumCoverChanged", object, {{"cover", {3}}}});
    post(coverChanged(kCover));
    post(coverChanged(large));
    expectReceivedLast(2);
    EXPECT_EQ(received, (std::vector<Notification>{coverChanged(kCover), coverChanged(large)}));
    EXPECT_EQ(calls, (std::vector<std::string>{"a", "a"}));
}

TEST_F(DBusNotificationCentreTest, FaultySignalsAreLoggedAndTheSoundMembersDelivered)
{
    observe();
    const QString name = QStringLiteral("CoverdeckAlbumCoverChanged");
    const QString object = QStringLiteral("Coverdeck");
    const std::vector<std::pair<QList<QVariant>, std::string>> wrong{
        {{name, object}, "(ss)"},
        {{name, object, QStringLiteral("cover")}, "(sss)"},
        {{name, object, QVariant::fromValue(QMap<QString, QString>{{QStringLiteral("cover"), QStringLiteral("x")}})},
         "(ssa{ss})"},
        {{name, object, QVariantMap{}, 7}, "(ssa{sv}i)"},
        {{}, "()"}};
    for (const auto& [arguments, signature] : wrong)
        sendRaw(arguments);
    sendRaw({name, object,
             QVariantMap{{QStringLiteral("cover"), QStringLiteral("/home/alice/cover.png")},
                         {QStringLiteral("count"), 3},
                         {QStringLiteral("nested"), QVariant::fromValue(QDBusVariant(QByteArray("x")))},
                         {QStringLiteral("list"), QVariant::fromValue(QByteArrayList{QByteArray("a")})},
                         {QStringLiteral("thumbnail"), QByteArray("\x01\x00\x02", 3)},
                         {QStringLiteral("empty"), QByteArray()}}});
    expectReceivedLast(1);
    EXPECT_EQ(received[0],
              (Notification{name.toStdString(), object.toStdString(), {{"thumbnail", {1, 0, 2}}, {"empty", {}}}}));
    for (const auto& [arguments, signature] : wrong)
        EXPECT_EQ(
            log.count("notifications: ignored a Posted signal whose arguments are " + signature + ", not (ssa{sv})"),
            1);
    for (const char* member :
         {"\"cover\" is not a byte array (its type is s)", "\"count\" is not a byte array (its type is i)",
          "\"nested\" is not a byte array (its type is v)", "\"list\" is not a byte array (its type is aay)"})
        EXPECT_EQ(log.count(std::string("notifications: \"CoverdeckAlbumCoverChanged\" from \"Coverdeck\": member ") +
                            member + "; dropped"),
                  1);
}

TEST_F(DBusNotificationCentreTest, WithoutABusTheFirstRegistrationSaysSo)
{
    const QDBusConnection nowhere =
        QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/glowcast-bus"), QStringLiteral("nowhere"));
    {
        DBusNotificationCentre offline{log, nowhere};
        offline.addObserver("CoverdeckAlbumCoverChanged", "Coverdeck", recorder());
        EXPECT_FALSE(offline.isListening());
    }
    EXPECT_EQ(log.lines, std::vector<std::string>{"notifications: not connected to the session bus (Failed to connect "
                                                  "to socket /nonexistent/glowcast-bus: No such file or directory); "
                                                  "no notification will arrive"});
    EXPECT_EQ(postNotification(nowhere, coverChanged(kCover)).failure, Failure::NotSent);
    QDBusConnection::disconnectFromBus(QStringLiteral("nowhere"));
}

TEST_F(DBusNotificationCentreTest, UserInformationOverTheBusLimitIsNotSentAndTheLimitIs)
{
    observe();
    const Outcome result =
        postNotification(poster, coverChanged(Bytes(distributed_notifications::kMaximumUserInfoBytes, 0x11)));
    EXPECT_EQ(result.failure, Failure::NotSent);
    EXPECT_NE(result.message.find("the session bus carries at most 62914560"), std::string::npos) << result.message;
    const Bytes atLimit(distributed_notifications::kMaximumUserInfoBytes - std::string("cover").size(), 0x22);
    post(coverChanged(atLimit));
    expectReceivedLast(1);
    EXPECT_EQ(received[0].userInfo.at("cover").size(), atLimit.size());
}

// Delivers posted notifications to matching observers, as the desktop's centre would.
class FakeNotificationCentre final : public NotificationCentre {
public:
    struct Observer {
        std::string name;
        std::string object;
        std::function<void(const Notification&)> handler;
    };
    std::vector<Observer> observers;
    void addObserver(std::string name, std::string object, std::function<void(const Notification&)> handler) override
    {
        observers.push_back({std::move(name), std::move(object), std::move(handler)});
    }
    void post(const Notification& notification)
    {
        const auto snapshot = observers;
        for (const Observer& observer : snapshot)
            if (observer.name == notification.name && observer.object == notification.object)
                observer.handler(notification);
    }
};

// The cover application's notification, matched exactly, is a cover from its object; without the
// cover's member it is a cover of no bytes. Nothing is heard before the feed is followed.
TEST(NotifiedCoverFeedTest, EachCoverNotificationIsACoverFromItsObject)
{
    FakeNotificationCentre centre;
    NotifiedCoverFeed feed{centre};
    centre.post(coverChanged({1}));
    std::vector<CoverArrival> arrived;
    feed.follow([&](const CoverArrival& cover) { arrived.push_back(cover); });
    centre.post(coverChanged({2, 3}));
    centre.post({"CoverdeckAlbumCoverChanged", "Coverdeck", {{"artwork", {4}}}});
    centre.post({"CoverdeckAlbumCoverChanged", "Other", {{"cover", {5}}}});
    centre.post({"Other", "Coverdeck", {{"cover", {6}}}});
    EXPECT_EQ(arrived, (std::vector<CoverArrival>{{{2, 3}, "Coverdeck"}, {{}, "Coverdeck"}}));
}

// The cover poster as a separate process on the private bus; that what it posts arrives is the
// end-to-end tests' to show.
TEST_F(DBusNotificationCentreTest, ThePosterRefusesWhatItCannotSend)
{
    observe();
    QTemporaryDir directory;
    const auto run = [&](const QStringList& arguments) {
        return testing::runProgram(QStringLiteral(GLOWCAST_POST_COVER), arguments,
                                   testing::programEnvironment(bus.address(), directory.path()));
    };
    // A sparse file: the size is refused before anything is read.
    QFile large(directory.filePath(QStringLiteral("large.bin")));
    ASSERT_TRUE(large.open(QIODevice::WriteOnly) &&
                large.resize(qint64{distributed_notifications::kMaximumUserInfoBytes}));
    for (const auto& [path, message] : std::vector<std::pair<QString, std::string>>{
             {directory.filePath(QStringLiteral("missing.png")), "missing.png: there is no such file\n"},
             {large.fileName(), "large.bin: it holds 62914560 bytes, more than the 62914555 bytes allowed (what the "
                                "session bus carries in one notification)\n"}}) {
        const testing::CommandRun refused = run({path});
        EXPECT_EQ(refused.exitCode, 1) << message;
        EXPECT_TRUE((refused.out + refused.err).ends_with(message)) << refused.err;
    }
    EXPECT_EQ(run({}).exitCode, 2);
    post(coverChanged({1})); // nothing was posted by any of them
    expectReceivedLast(1);
}

} // namespace
} // namespace glowcast
