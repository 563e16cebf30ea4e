#pragma once

#include "core/covers/art_url.h"
#include "core/ports/art_fetcher.h"
#include "core/ports/cover_image.h"
#include "core/ports/scheduler.h"

#include <QByteArray>
#include <QNetworkAccessManager>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>

class QNetworkReply;

namespace glowcast {

struct ArtFetchLimits {
    std::size_t maximumBytes = kMaximumCoverBytes;
    // No byte for this long, from the connection on, ends a download; so does its whole time.
    std::chrono::milliseconds silence{5'000};
    std::chrono::milliseconds total{15'000};
    int maximumRedirects = 5;
};

// A cover file, read whole with readRegularFile. A file that is not there, or still empty, is
// Missing: a player may be writing it.
[[nodiscard]] ArtFetchResult readCoverFile(const std::string& path, std::size_t maximumBytes);

// Reads covers from files and over HTTP(S) with QNetworkAccessManager, within ArtFetchLimits: at most
// that many bytes (a larger Content-Length is refused before its body), a few redirects, never to a
// less safe scheme. A download that fails or is cancelled closes its connection for good. Results
// arrive through the event loop, never from inside a call.
class QtArtFetcher final : public QObject, public ArtFetcher {
    Q_OBJECT
public:
    explicit QtArtFetcher(ArtFetchLimits limits = {});
    ~QtArtFetcher() override;

    void readFile(const std::string& path, std::function<void(ArtFetchResult)> done) override;
    void download(const std::string& url, std::function<void(ArtFetchResult)> done) override;
    void cancel() override;

private:
    void received();
    void finished();
    void end(ArtFetchResult result);

    ArtFetchLimits m_limits;
    QNetworkAccessManager m_network;
    QPointer<QNetworkReply> m_reply;
    QByteArray m_body;
    QTimer m_deadline;
    QTimer m_fileRead;
    std::string m_path;
    std::function<void(ArtFetchResult)> m_done;
};

// Tells the kind of an image from its first bytes with Qt's image readers.
class QtCoverSniffer final : public CoverSniffer {
public:
    [[nodiscard]] std::optional<std::string> imageFormat(std::span<const std::uint8_t> bytes) override;
};

// A delayed call straight on the event loop, for work that does not start an operation of its own.
class QtTimerScheduler final : public Scheduler {
public:
    void schedule(std::chrono::milliseconds delay, std::function<void()> action) override
    {
        QTimer::singleShot(delay, &m_context, std::move(action));
    }

private:
    QObject m_context; // timers still pending when the scheduler goes are dropped with it
};

} // namespace glowcast
