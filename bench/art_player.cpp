// A media player for the whole-program scripts: on the session bus of $DBUS_SESSION_BUS_ADDRESS it owns
// org.mpris.MediaPlayer2.NAME and plays a track whose art is ART_URL, says "playing" on its output, and
// stays until it is ended.
//
// usage: art_player NAME ART_URL

#include "support/test_player.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    const char* bus = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (argc != 3 || bus == nullptr) {
        std::fprintf(stderr, "usage: art_player NAME ART_URL (on the bus of DBUS_SESSION_BUS_ADDRESS)\n");
        return 2;
    }
    glowcast::testing::TestPlayer player{
        QString::fromUtf8(bus),
        QString::fromUtf8(argv[1]),
        {{QStringLiteral("PlaybackStatus"), QStringLiteral("Playing")},
         {QStringLiteral("Metadata"), QVariantMap{{QStringLiteral("xesam:title"), QStringLiteral("Art")},
                                                  {QStringLiteral("mpris:artUrl"), QString::fromUtf8(argv[2])}}}}};
    if (!player.connection().isConnected()) {
        std::fprintf(stderr, "art_player: no session bus at %s\n", bus);
        return 1;
    }
    std::printf("playing\n");
    std::fflush(stdout);
    std::signal(SIGTERM, [](int) { std::_Exit(0); });
    return QCoreApplication::exec();
}
