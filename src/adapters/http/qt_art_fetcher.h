#pragma once

#include "core/covers/art_url.h"
#include "core/http/http_response_reader.h"
#include "core/ports/art_fetcher.h"

#include <QObject>
#include <QTimer>

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>

class QTcpSocket;

namespace glowcast {

struct ArtFetchLimits {
    std::size_t maximumBytes = kMaximumCoverBytes;
    // No byte for this long, from the request on (the connection and a TLS handshake included), ends
    // a download; so does its whole time.
    std::chrono::milliseconds silence{5'000};
    std::chrono::milliseconds total{15'000};
    int maximumRedirects = 5;
    // A header section past either ends a download: a server may send one that never ends.
    std::size_t maximumHeaderBytes = 64 * 1024;
    int maximumHeaderLines = 100;
};

// A cover file, read whole with readRegularFile. A file that is not there, or still empty, is
// Missing: a player may be writing it.
[[nodiscard]] ArtFetchResult readCoverFile(const std::string& path, std::size_t maximumBytes);

// Reads covers from files and over HTTP(S) on Qt's sockets, within ArtFetchLimits: the answer is read
// by HttpResponseReader as its bytes arrive, so at most that many bytes (a larger Content-Length is
// refused before its body), a capped header section; a few redirects, only to http and https and
// never from https to http. https checks the server's certificate against the system's CAs and its
// name; Qt loads its TLS library only then. No proxy from the environment and no content coding: the
// bytes are the server's own. Nothing blocks; a download that fails or is cancelled closes its
// connection. Results arrive through the event loop, never from inside a call.
class QtArtFetcher final : public QObject, public ArtFetcher {
public:
    explicit QtArtFetcher(ArtFetchLimits limits = {});
    ~QtArtFetcher() override;
    QtArtFetcher(const QtArtFetcher&) = delete;
    QtArtFetcher& operator=(const QtArtFetcher&) = delete;

    void readFile(const std::string& path, std::function<void(ArtFetchResult)> done) override;
    void download(const std::string& url, std::function<void(ArtFetchResult)> done) override;
    void cancel() override;

private:
    void start(const std::string& url);
    void dropConnection(); // the connection under way, if any, closed and forgotten
    void readAnswer();
    void connectionEnded(const QString& error);
    void answered();
    void end(ArtFetchResult result);

    ArtFetchLimits m_limits;
    QTcpSocket* m_socket = nullptr;
    std::optional<HttpResponseReader> m_reader;
    QTimer m_silence;
    QTimer m_deadline;
    QTimer m_begin;
    std::string m_path;
    std::string m_url;
    bool m_downloading = false;
    int m_redirects = 0;
    std::function<void(ArtFetchResult)> m_done;
};

} // namespace glowcast
