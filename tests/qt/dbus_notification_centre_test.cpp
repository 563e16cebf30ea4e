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

namespace glowcast {
namespace {

using testing::waitFor;
using Bytes = std::vector<std::uint8_t>;

Notification coverChanged(Bytes cover)
{
    return {"CoverdeckAlbumCoverChanged", "Coverdeck", {{"cover", std::move(cover)}}};
}

// One centre on a private bus, heard through the cover feed and a plain observer. A cover posted before the
// first registration is heard by no one, not even by the feed made: each scenario's exact expectation of
// what arrived shows it.
class DBusNotificationCentreTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        qDBusRegisterMetaType<QMap<QString, QString>>(); // types only the faulty posters send
        qDBusRegisterMetaType<QByteArrayList>();
        post(coverChanged({1}));
        // Each cover is stamped when heard; one without its time is kept as none.
        feed.follow(
            [this](CoverArrival got) { arrived.push_back(got.heard ? (got.heard.reset(), got) : CoverArrival{}); });
        centre.addObserver("Other", "Coverdeck", [this](const Notification& other) { received.push_back(other); });
        centre.addObserver("CoverdeckAlbumCoverChanged", "Coverdeck",
                           [this](const Notification& notification) { received.push_back(notification); });
        ASSERT_TRUE(centre.isListening()) << "dbus-daemon did not start";
    }
    void TearDown() override
    {
        QDBusConnection::disconnectFromBus(QStringLiteral("listener"));
        QDBusConnection::disconnectFromBus(QStringLiteral("poster"));
    }

    void post(const Notification& notification)
    {
        const Outcome posted = postNotification(poster, notification);
        EXPECT_TRUE(posted.ok()) << posted.message;
    }
    // Signals from one sender arrive in order: once the last one posted is in, so are the others.
    void expectReceived(const std::vector<Notification>& expected)
    {
        EXPECT_TRUE(waitFor([&] { return received.size() >= expected.size(); }));
        QCoreApplication::processEvents();
        EXPECT_EQ(received, expected);
        received.clear();
    }

    testing::PrivateSessionBus bus;
    QDBusConnection listener = QDBusConnection::connectToBus(bus.address(), QStringLiteral("listener"));
    QDBusConnection poster = QDBusConnection::connectToBus(bus.address(), QStringLiteral("poster"));
    RecordingLog log;
    DBusNotificationCentre centre{log, listener};
    NotifiedCoverFeed feed{centre};
    std::vector<Notification> received;
    std::vector<CoverArrival> arrived;
};

TEST_F(DBusNotificationCentreTest, DeliversOnlyExactMatchesOfNameAndObjectInOrderToObserversAndTheFeed)
{
    Bytes large(3 * 1024 * 1024);
    for (std::size_t index = 0; index < large.size(); ++index)
        large[index] = static_cast<std::uint8_t>(index * 7919 % 251);
    for (const char* name : {"CoverdeckAlbumCoverChangedX", "coverdeckalbumcoverchanged"})
        post({name, "Coverdeck", {{"cover", {2}}}});
    for (const char* object : {"coverdeck", "Coverdeck ", ""})
        post({"CoverdeckAlbumCoverChanged", object, {{"cover", {3}}}});
    const Notification noCover{"CoverdeckAlbumCoverChanged", "Coverdeck", {{"artwork", {4}}}};
    const Bytes cover{0x89, 'P', 'N', 'G', 0x00, 0xff, 0x0d, 0x0a, 0x00, 0x7f};
    for (const Notification& notification : {coverChanged(cover), coverChanged(large), noCover})
        post(notification);
    expectReceived({coverChanged(cover), coverChanged(large), noCover});
    EXPECT_EQ(arrived, (std::vector<CoverArrival>{{cover, "Coverdeck"}, {large, "Coverdeck"}, {{}, "Coverdeck"}}));
}

// Faulty signals are logged; of a dictionary, the byte arrays are delivered and the rest dropped.
TEST_F(DBusNotificationCentreTest, LogsFaultySignalsAndDeliversOnlyTheByteArraysOfADictionary)
{
    const QString name = QStringLiteral("CoverdeckAlbumCoverChanged");
    const QString object = QStringLiteral("Coverdeck");
    const std::vector<std::pair<QList<QVariant>, std::string>> wrong{
        {{name, object}, "(ss)"},
        {{name, object, QStringLiteral("cover")}, "(sss)"},
        {{name, object, QVariant::fromValue(QMap<QString, QString>{{QStringLiteral("cover"), QStringLiteral("x")}})},
         "(ssa{ss})"},
        {{name, object, QVariantMap{}, 7}, "(ssa{sv}i)"},
        {{}, "()"}};
    const auto sendRaw = [&](const QList<QVariant>& arguments) {
        QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/org/glowcast/Notifications"),
                                                         QStringLiteral("org.glowcast.DistributedNotifications"),
                                                         QStringLiteral("Posted"));
        signal.setArguments(arguments);
        EXPECT_TRUE(poster.send(signal));
    };
    for (const auto& [arguments, signature] : wrong)
        sendRaw(arguments);
    sendRaw({name, object,
             QVariantMap{{QStringLiteral("cover"), QStringLiteral("/home/alice/cover.png")},
                         {QStringLiteral("count"), 3},
                         {QStringLiteral("nested"), QVariant::fromValue(QDBusVariant(QByteArray("x")))},
                         {QStringLiteral("list"), QVariant::fromValue(QByteArrayList{QByteArray("a")})},
                         {QStringLiteral("thumbnail"), QByteArray("\x01\x00\x02", 3)},
                         {QStringLiteral("empty"), QByteArray()}}});
    expectReceived({{"CoverdeckAlbumCoverChanged", "Coverdeck", {{"thumbnail", {1, 0, 2}}, {"empty", {}}}}});
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

TEST_F(DBusNotificationCentreTest, UserInformationOverTheBusLimitIsNotSentAndTheLimitIs)
{
    const Outcome over =
        postNotification(poster, coverChanged(Bytes(distributed_notifications::kMaximumUserInfoBytes, 0x11)));
    EXPECT_EQ(over.failure, Failure::NotSent);
    EXPECT_NE(over.message.find("the session bus carries at most 62914560"), std::string::npos) << over.message;
    const Bytes atLimit(distributed_notifications::kMaximumUserInfoBytes - std::string("cover").size(), 0x22);
    post(coverChanged(atLimit));
    expectReceived({coverChanged(atLimit)});
}

// The cover poster as a separate process refuses what it cannot send: a sparse file's size is refused
// before anything is read. That what it posts arrives is the end-to-end tests' to show.
TEST_F(DBusNotificationCentreTest, TheCoverPosterRefusesWhatItCannotSend)
{
    QTemporaryDir directory;
    QFile sparse(directory.filePath(QStringLiteral("large.bin")));
    ASSERT_TRUE(sparse.open(QIODevice::WriteOnly) &&
                sparse.resize(qint64{distributed_notifications::kMaximumUserInfoBytes}));
    const std::pair<QStringList, std::string> refusals[] = {
        {{directory.filePath(QStringLiteral("missing.png"))}, "missing.png: there is no such file\n"},
        {{sparse.fileName()},
         "large.bin: it holds 62914560 bytes, more than the 62914555 bytes allowed (what the "
         "session bus carries in one notification)\n"},
        {{}, ""}};
    for (const auto& [arguments, message] : refusals) {
        const testing::CommandRun refused =
            testing::runProgram(QStringLiteral(GLOWCAST_POST_COVER), arguments,
                                testing::programEnvironment(bus.address(), directory.path()));
        EXPECT_EQ(refused.exitCode, arguments.isEmpty() ? 2 : 1) << message;
        EXPECT_TRUE((refused.out + refused.err).ends_with(message)) << refused.err;
    }
    post(coverChanged({1})); // nothing was posted by any of them
    expectReceived({coverChanged({1})});
}

TEST_F(DBusNotificationCentreTest, WithoutABusTheFirstRegistrationSaysSo)
{
    RecordingLog said;
    const QDBusConnection nowhere =
        QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/glowcast-bus"), QStringLiteral("nowhere"));
    {
        DBusNotificationCentre offline{said, nowhere};
        offline.addObserver("CoverdeckAlbumCoverChanged", "Coverdeck", [](const Notification&) {});
        EXPECT_FALSE(offline.isListening());
    }
    EXPECT_EQ(said.lines, std::vector<std::string>{"notifications: not connected to the session bus (Failed to connect "
                                                   "to socket /nonexistent/glowcast-bus: No such file or directory); "
                                                   "no notification will arrive"});
    EXPECT_EQ(postNotification(nowhere, coverChanged({1})).failure, Failure::NotSent);
    QDBusConnection::disconnectFromBus(QStringLiteral("nowhere"));
}

} // namespace
} // namespace glowcast
