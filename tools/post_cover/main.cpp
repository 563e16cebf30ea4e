// glowcast-post-cover FILE: posts the cover-changed notification with FILE's bytes on the session
// bus, as the cover application does whenever the cover that is showing changes.

#include "adapters/dbus/dbus_notification_centre.h"
#include "adapters/files/regular_file.h"
#include "adapters/qt/program_command_line.h"

#include <QCoreApplication>
#include <QDBusConnection>

#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

namespace {

using glowcast::cover_notification::kCoverKey;
using glowcast::cover_notification::kName;
using glowcast::cover_notification::kObject;

int fail(const std::string& message)
{
    std::fprintf(stderr, "glowcast-post-cover: %s\n", message.c_str());
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    glowcast::ProgramCommandLine commandLine(
        QStringLiteral("glowcast-post-cover"),
        QStringLiteral("Posts the cover-changed notification (%1 from %2) on the session\n"
                       "bus with the bytes of FILE under \"%3\", as the cover application does when the cover\n"
                       "changes.")
            .arg(QLatin1String(kName), QLatin1String(kObject), QLatin1String(kCoverKey)));
    commandLine.parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("The cover image to post."));
    if (const std::optional<int> status = commandLine.parse(argc, argv, 1, 1))
        return *status;
    const std::string path = commandLine.words().front();

    const auto limit = glowcast::distributed_notifications::kMaximumUserInfoBytes - std::strlen(kCoverKey);
    glowcast::FileRead file = glowcast::readRegularFile(path, limit);
    if (file.failure == glowcast::FileReadFailure::TooLarge)
        return fail(path + ": " + file.reason + " (what the session bus carries in one notification)");
    if (!file.ok())
        return fail(path + ": " + file.reason);

    QCoreApplication application(argc, argv);
    glowcast::Notification notification;
    notification.name = kName;
    notification.object = kObject;
    notification.userInfo[kCoverKey] = std::move(file.bytes);

    const QDBusConnection bus = QDBusConnection::sessionBus();
    const glowcast::Outcome posted = glowcast::postNotification(bus, notification);
    if (!posted.ok())
        return fail(posted.message);
    std::printf("glowcast-post-cover: posted %s (%lld bytes) as %s from %s\n", path.c_str(),
                static_cast<long long>(notification.userInfo[kCoverKey].size()), kName, kObject);
    return 0;
}
