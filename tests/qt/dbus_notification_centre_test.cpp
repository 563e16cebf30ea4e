#include "adapters/dbus_notification_centre.h"
#include "fakes/recording_log.h"
#include "qt/private_session_bus.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QVariantMap>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

namespace glowcast {
namespace {

using Bytes = std::vector<std::uint8_t>;

const Bytes kCover{0x89, 'P', 'N', 'G', 0x00, 0xff, 0x0d, 0x0a, 0x00, 0x7f};

Notification coverChanged(Bytes cover)
{
    return {"CoverdeckAlbumCoverChanged", "Coverdeck", {{"cover", std::move(cover)}}};
}

bool logHas(const RecordingLog& log, std::string_view part)
{
    return std::any_of(log.lines.begin(), log.lines.end(),
                       [&](const std::string& line) { return line.find(part) != std::string::npos; });
}

// Runs the event loop until done() or ten seconds have passed; false when it timed out.
template <typename Done> bool processEventsUntil(Done done)
{
    const QDeadlineTimer deadline(10'000);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    return done();
}

// A second subscriber on a connection: tells when a Posted signal with three arguments came in.
class Watcher : public QObject {
    Q_OBJECT
public:
    bool seen = false;
public Q_SLOTS:
    void posted(const QDBusMessage& message)
    {
        if (message.arguments().size() == 3)
            seen = true;
    }
};

class DBusNotificationCentreTest : public ::testing::Test {
protected:
    testing::PrivateSessionBus bus;
    QDBusConnection listener{QString()};
    QDBusConnection poster{QString()};
    RecordingLog log;
    std::vector<Notification> received;

    void SetUp() override
    {
        ASSERT_FALSE(bus.address().isEmpty()) << "dbus-daemon did not start";
        // Types that only the faulty posters below send.
        qDBusRegisterMetaType<QMap<QString, QString>>();
        qDBusRegisterMetaType<QByteArrayList>();
        listener = QDBusConnection::connectToBus(bus.address(), QStringLiteral("listener"));
        poster = QDBusConnection::connectToBus(bus.address(), QStringLiteral("poster"));
        ASSERT_TRUE(listener.isConnected());
        ASSERT_TRUE(poster.isConnected());
    }
    void TearDown() override
    {
        QDBusConnection::disconnectFromBus(QStringLiteral("listener"));
        QDBusConnection::disconnectFromBus(QStringLiteral("poster"));
    }

    void post(const Notification& notification)
    {
        const PostResult result = postNotification(poster, notification);
        ASSERT_TRUE(result.posted) << result.error;
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
    bool waitForReceived(std::size_t count)
    {
        return processEventsUntil([&] { return received.size() >= count; });
    }
    auto recorder()
    {
        return [this](const Notification& notification) { received.push_back(notification); };
    }
};

TEST_F(DBusNotificationCentreTest, DeliversTheCoverBytesExactly)
{
    DBusNotificationCentre centre{log, listener};
    centre.addObserver("CoverdeckAlbumCoverChanged", "Coverdeck", recorder());
    ASSERT_TRUE(centre.isListening());

    Bytes large(3 * 1024 * 1024);
    for (std::size_t index = 0; index < large.size(); ++index)
        large[index] = static_cast<std::uint8_t>(index * 7919 % 251);
    post(coverChanged(kCover));
    post(coverChanged(large));
    ASSERT_TRUE(waitForReceived(2));
    EXPECT_EQ(received[0], coverChanged(kCover));
    EXPECT_EQ(received[1], coverChanged(large));
}

TEST_F(DBusNotificationCentreTest, OnlyTheExactNameAndObjectAreDelivered)
{
    DBusNotificationCentre centre{log, listener};
    centre.addObserver("CoverdeckAlbumCoverChanged", "Coverdeck", recorder());
    post({"CoverdeckAlbumCoverChangedX", "Coverdeck", {{"cover", {1}}}});
    post({"coverdeckalbumcoverchanged", "Coverdeck", {{"cover", {2}}}});
    post({"CoverdeckAlbumCoverChanged", "coverdeck", {{"cover", {3}}}});
    post({"CoverdeckAlbumCoverChanged", "Coverdeck ", {{"cover", {4}}}});
    post({"CoverdeckAlbumCoverChanged", "", {{"cover", {5}}}});
    post({"CoverdeckAlbumCoverChanged", "Coverdeck", {{"cover", {6}}}});
    // Signals from one sender arrive in order, so the last one coming means the others were seen.
    ASSERT_TRUE(waitForReceived(1));
    QCoreApplication::processEvents();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].userInfo.at("cover"), Bytes{6});
}

TEST_F(DBusNotificationCentreTest, EachRegistrationIsCalledInTheOrderItWasMade)
{
    DBusNotificationCentre centre{log, listener};
    std::vector<std::string> calls;
    centre.addObserver("CoverdeckAlbumCoverChanged", "Coverdeck", [&](const Notification&) { calls.push_back("a"); });
    centre.addObserver("Other", "Coverdeck", [&](const Notification&) { calls.push_back("other"); });
    centre.addObserver("CoverdeckAlbumCoverChanged", "Coverdeck", [&](const Notification&) { calls.push_back("b"); });
    centre.addObserver("CoverdeckAlbumCoverChanged", "Coverdeck", recorder());
    post(coverChanged(kCover));
    ASSERT_TRUE(waitForReceived(1));
    EXPECT_EQ(calls, (std::vector<std::string>{"a", "b"}));
}

TEST_F(DBusNotificationCentreTest, NothingIsHeardBeforeTheFirstRegistration)
{
    DBusNotificationCentre centre{log, listener};
    post(coverChanged({1}));
    QCoreApplication::processEvents();
    centre.addObserver("CoverdeckAlbumCoverChanged", "Coverdeck", recorder());
    post(coverChanged({2}));
    ASSERT_TRUE(waitForReceived(1));
    QCoreApplication::processEvents();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].userInfo.at("cover"), Bytes{2});
}

TEST_F(DBusNotificationCentreTest, SignalsWithTheWrongArgumentsAreLoggedAndIgnored)
{
    DBusNotificationCentre centre{log, listener};
    centre.addObserver("CoverdeckAlbumCoverChanged", "Coverdeck", recorder());
    const QString name = QStringLiteral("CoverdeckAlbumCoverChanged");
    const QString object = QStringLiteral("Coverdeck");
    sendRaw({name, object});
    sendRaw({name, object, QStringLiteral("cover")});
    sendRaw(
        {name, object, QVariant::fromValue(QMap<QString, QString>{{QStringLiteral("cover"), QStringLiteral("x")}})});
    sendRaw({name, object, QVariantMap{}, 7});
    sendRaw({});
    post(coverChanged({9}));
    ASSERT_TRUE(waitForReceived(1));
    QCoreApplication::processEvents();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0], coverChanged({9}));
    EXPECT_TRUE(logHas(log, "notifications: ignored a Posted signal whose arguments are (ss), not (ssa{sv})"));
    EXPECT_TRUE(logHas(log, "notifications: ignored a Posted signal whose arguments are (sss), not (ssa{sv})"));
    EXPECT_TRUE(logHas(log, "notifications: ignored a Posted signal whose arguments are (ssa{ss}), not (ssa{sv})"));
    EXPECT_TRUE(logHas(log, "notifications: ignored a Posted signal whose arguments are (ssa{sv}i), not (ssa{sv})"));
    EXPECT_TRUE(logHas(log, "notifications: ignored a Posted signal whose arguments are (), not (ssa{sv})"));
}

TEST_F(DBusNotificationCentreTest, MembersThatAreNotByteArraysAreDroppedAndTheRestDelivered)
{
    DBusNotificationCentre centre{log, listener};
    centre.addObserver("CoverdeckAlbumCoverChanged", "Coverdeck", recorder());
    const QVariantMap userInfo{
        {QStringLiteral("cover"), QStringLiteral("/home/alice/cover.png")},
        {QStringLiteral("count"), 3},
        {QStringLiteral("nested"), QVariant::fromValue(QDBusVariant(QByteArray("x")))},
        {QStringLiteral("list"), QVariant::fromValue(QByteArrayList{QByteArray("a")})},
        {QStringLiteral("thumbnail"), QByteArray("\x01\x00\x02", 3)},
        {QStringLiteral("empty"), QByteArray()},
    };
    sendRaw({QStringLiteral("CoverdeckAlbumCoverChanged"), QStringLiteral("Coverdeck"), userInfo});
    ASSERT_TRUE(waitForReceived(1));
    const Notification expected{"CoverdeckAlbumCoverChanged", "Coverdeck", {{"thumbnail", {1, 0, 2}}, {"empty", {}}}};
    EXPECT_EQ(received[0], expected);
    EXPECT_TRUE(logHas(log, "notifications: \"CoverdeckAlbumCoverChanged\" from \"Coverdeck\": member \"cover\" is not "
                            "a byte array (its type is s); dropped"));
    EXPECT_TRUE(logHas(log, "member \"count\" is not a byte array (its type is i); dropped"));
    EXPECT_TRUE(logHas(log, "member \"nested\" is not a byte array (its type is v); dropped"));
    EXPECT_TRUE(logHas(log, "member \"list\" is not a byte array (its type is aay); dropped"));
}

TEST_F(DBusNotificationCentreTest, ANotificationArrivingWhileAnObserverWaitsIsDeliveredAfterIt)
{
    DBusNotificationCentre centre{log, listener};
    std::vector<std::string> events;
    centre.addObserver("CoverdeckAlbumCoverChanged", "Coverdeck", [&](const Notification& notification) {
        const int number = notification.userInfo.at("cover").front();
        events.push_back("start " + std::to_string(number));
        if (number == 1) {
            Watcher watcher;
            ASSERT_TRUE(listener.connect(QString(), QStringLiteral("/org/glowcast/Notifications"),
                                         QStringLiteral("org.glowcast.DistributedNotifications"),
                                         QStringLiteral("Posted"), &watcher, SLOT(posted(QDBusMessage))));
            post(coverChanged({2}));
            // Waits the way the HTTP adapter does: a local event loop that lets bus traffic in.
            processEventsUntil([&] { return watcher.seen; });
            for (int round = 0; round < 20; ++round)
                QCoreApplication::processEvents();
            listener.disconnect(QString(), QStringLiteral("/org/glowcast/Notifications"),
                                QStringLiteral("org.glowcast.DistributedNotifications"), QStringLiteral("Posted"),
                                &watcher, SLOT(posted(QDBusMessage)));
        }
        events.push_back("end " + std::to_string(number));
        received.push_back(notification);
    });
    post(coverChanged({1}));
    ASSERT_TRUE(waitForReceived(2));
    EXPECT_EQ(events, (std::vector<std::string>{"start 1", "end 1", "start 2", "end 2"}));
}

TEST_F(DBusNotificationCentreTest, WithoutABusTheFirstRegistrationSaysSo)
{
    const QDBusConnection nowhere =
        QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/glowcast-bus"), QStringLiteral("nowhere"));
    {
        DBusNotificationCentre centre{log, nowhere};
        centre.addObserver("CoverdeckAlbumCoverChanged", "Coverdeck", recorder());
        EXPECT_FALSE(centre.isListening());
    }
    EXPECT_TRUE(logHas(log, "notifications: not connected to the session bus"));
    EXPECT_FALSE(postNotification(nowhere, coverChanged(kCover)).posted);
    QDBusConnection::disconnectFromBus(QStringLiteral("nowhere"));
}

TEST_F(DBusNotificationCentreTest, UserInformationOverTheBusLimitIsNotSent)
{
    DBusNotificationCentre centre{log, listener};
    centre.addObserver("CoverdeckAlbumCoverChanged", "Coverdeck", recorder());
    const Bytes tooLarge(distributed_notifications::kMaximumUserInfoBytes, 0x11);
    const PostResult result = postNotification(poster, coverChanged(tooLarge));
    EXPECT_FALSE(result.posted);
    EXPECT_NE(result.error.find("the session bus carries at most 62914560"), std::string::npos) << result.error;

    // The limit itself goes through.
    const Bytes atLimit(distributed_notifications::kMaximumUserInfoBytes - std::string("cover").size(), 0x22);
    post(coverChanged(atLimit));
    ASSERT_TRUE(waitForReceived(1));
    EXPECT_EQ(received[0].userInfo.at("cover").size(), atLimit.size());
    EXPECT_EQ(received.size(), 1u);
}

// The tool and the shell command that the README gives, as separate processes on the private bus.
class PostingProgramsTest : public DBusNotificationCentreTest {
protected:
    QTemporaryDir directory;

    QProcess* run(const QString& program, const QStringList& arguments)
    {
        auto* process = new QProcess;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus.address());
        process->setProcessEnvironment(environment);
        process->start(program, arguments);
        return process;
    }
    // Waits for the process while the bus traffic is handled; its exit status, or -1.
    int finish(QProcess* process)
    {
        processEventsUntil([&] { return process->state() == QProcess::NotRunning; });
        const int status = process->state() == QProcess::NotRunning && process->exitStatus() == QProcess::NormalExit
                               ? process->exitCode()
                               : -1;
        if (process->state() != QProcess::NotRunning) {
            process->kill();
            process->waitForFinished(5'000);
        }
        m_output = process->readAllStandardOutput() + process->readAllStandardError();
        delete process;
        return status;
    }
    [[nodiscard]] std::string output() const { return m_output.toStdString(); }
    QString writeFile(const char* name, const Bytes& bytes)
    {
        const QString path = directory.filePath(QString::fromLatin1(name));
        std::ofstream(path.toStdString(), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return path;
    }

private:
    QByteArray m_output;
};

TEST_F(PostingProgramsTest, ThePosterSendsTheFileAsTheCover)
{
    DBusNotificationCentre centre{log, listener};
    centre.addObserver("CoverdeckAlbumCoverChanged", "Coverdeck", recorder());
    const QString path = writeFile("cover.png", kCover);
    EXPECT_EQ(finish(run(QStringLiteral(GLOWCAST_POST_COVER), {path})), 0) << output();
    ASSERT_TRUE(waitForReceived(1));
    EXPECT_EQ(received[0], coverChanged(kCover));
}

TEST_F(PostingProgramsTest, ThePosterRefusesWhatItCannotSend)
{
    DBusNotificationCentre centre{log, listener};
    centre.addObserver("CoverdeckAlbumCoverChanged", "Coverdeck", recorder());

    EXPECT_EQ(finish(run(QStringLiteral(GLOWCAST_POST_COVER), {directory.filePath(QStringLiteral("missing.png"))})), 1);
    EXPECT_NE(output().find("missing.png: No such file or directory"), std::string::npos) << output();

    // A sparse file: the size is refused before anything is read.
    const QString large = directory.filePath(QStringLiteral("large.bin"));
    {
        QFile file(large);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_TRUE(file.resize(qint64{distributed_notifications::kMaximumUserInfoBytes}));
    }
    EXPECT_EQ(finish(run(QStringLiteral(GLOWCAST_POST_COVER), {large})), 1);
    EXPECT_NE(output().find("bytes is more than the session bus carries in one notification (at most 62914555 bytes)"),
              std::string::npos)
        << output();

    EXPECT_EQ(finish(run(QStringLiteral(GLOWCAST_POST_COVER), {directory.path()})), 1);
    EXPECT_NE(output().find("not a regular file"), std::string::npos) << output();
    EXPECT_EQ(finish(run(QStringLiteral(GLOWCAST_POST_COVER), {})), 2);

    // Nothing was posted by any of them.
    post(coverChanged({1}));
    ASSERT_TRUE(waitForReceived(1));
    QCoreApplication::processEvents();
    EXPECT_EQ(received.size(), 1u);
}

TEST_F(PostingProgramsTest, TheDocumentedGdbusCommandPostsACover)
{
    DBusNotificationCentre centre{log, listener};
    centre.addObserver("CoverdeckAlbumCoverChanged", "Coverdeck", recorder());
    // A 1 × 1 red PNG, written out byte by byte as the README shows.
    const Bytes redPixel{0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x48,
                         0x44, 0x52, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x08, 0x02, 0x00, 0x00,
                         0x00, 0x90, 0x77, 0x53, 0xde, 0x00, 0x00, 0x00, 0x0c, 0x49, 0x44, 0x41, 0x54, 0x78,
                         0xda, 0x63, 0xf8, 0xcf, 0xc0, 0x00, 0x00, 0x03, 0x01, 0x01, 0x00, 0xf7, 0x03, 0x41,
                         0x43, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4e, 0x44, 0xae, 0x42, 0x60, 0x82};
    const QString command = QStringLiteral(
        "gdbus emit --session --object-path /org/glowcast/Notifications "
        "--signal org.glowcast.DistributedNotifications.Posted "
        "\"'CoverdeckAlbumCoverChanged'\" \"'Coverdeck'\" "
        "\"{'cover': <[byte 0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x48, "
        "0x44, 0x52, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x08, 0x02, 0x00, 0x00, 0x00, 0x90, 0x77, 0x53, "
        "0xde, 0x00, 0x00, 0x00, 0x0c, 0x49, 0x44, 0x41, 0x54, 0x78, 0xda, 0x63, 0xf8, 0xcf, 0xc0, 0x00, 0x00, 0x03, "
        "0x01, 0x01, 0x00, 0xf7, 0x03, 0x41, 0x43, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4e, 0x44, 0xae, 0x42, 0x60, "
        "0x82]>}\"");
    EXPECT_EQ(finish(run(QStringLiteral("sh"), {QStringLiteral("-c"), command})), 0) << output();

    // The general form, for any small file.
    const QString path = writeFile("small.bin", kCover);
    const QString fromFile = QStringLiteral(
        "gdbus emit --session --object-path /org/glowcast/Notifications "
        "--signal org.glowcast.DistributedNotifications.Posted "
        "\"'CoverdeckAlbumCoverChanged'\" \"'Coverdeck'\" "
        "\"{'cover': <[byte $(od -An -v -tx1 \"$1\" | tr -s ' \\n' ' ' | sed 's/^ //;s/ $//;s/ /, 0x/g;s/^/0x/')]>}\"");
    EXPECT_EQ(finish(run(QStringLiteral("sh"), {QStringLiteral("-c"), fromFile, QStringLiteral("sh"), path})), 0)
        << output();

    ASSERT_TRUE(waitForReceived(2));
    EXPECT_EQ(received[0], coverChanged(redPixel));
    EXPECT_EQ(received[1], coverChanged(kCover));
}

} // namespace
} // namespace glowcast

#include "dbus_notification_centre_test.moc"
