#pragma once

#include "core/covers/art_url.h"
#include "core/ports/art_fetcher.h"

#include <curl/curl.h>

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace glowcast {

struct ArtFetchLimits {
    std::size_t maximumBytes = kMaximumCoverBytes;
    // No byte for this long, from the request on, ends a download; so does its whole time.
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

// Reads covers from files and over HTTP(S) with libcurl, within ArtFetchLimits: at most that many
// bytes (a larger Content-Length is refused before its body), a capped header section, a few
// redirects, only to http and https and never from https to http. No proxy from the environment and
// no content coding: the bytes are the server's own. The transfer runs on the event loop (curl's
// sockets watched by socket notifiers), so nothing blocks. A download that fails or is cancelled
// closes its connection. Results arrive through the event loop, never from inside a call.
class CurlArtFetcher final : public QObject, public ArtFetcher {
public:
    explicit CurlArtFetcher(ArtFetchLimits limits = {});
    ~CurlArtFetcher() override;
    CurlArtFetcher(const CurlArtFetcher&) = delete;
    CurlArtFetcher& operator=(const CurlArtFetcher&) = delete;

    void readFile(const std::string& path, std::function<void(ArtFetchResult)> done) override;
    void download(const std::string& url, std::function<void(ArtFetchResult)> done) override;
    void cancel() override;

private:
    struct Watch {
        QSocketNotifier* read = nullptr;
        QSocketNotifier* write = nullptr;
    };
    static int onSocket(CURL* easy, curl_socket_t socket, int what, void* self, void* socketData);
    static int onTimer(CURLM* multi, long milliseconds, void* self);
    static std::size_t onHeader(char* data, std::size_t size, std::size_t count, void* self);
    static std::size_t onBody(char* data, std::size_t size, std::size_t count, void* self);
    void watch(curl_socket_t socket, int what);
    void unwatch(curl_socket_t socket);
    void act(curl_socket_t socket, int events);
    void start(const std::string& url);
    void dropTransfer(); // the transfer under way, if any, taken away with its connection
    void transferEnded(CURLcode code);
    void end(ArtFetchResult result);

    ArtFetchLimits m_limits;
    CURLM* m_multi = nullptr;
    CURL* m_easy = nullptr;
    std::map<curl_socket_t, Watch> m_sockets;
    QTimer m_curlTimer; // when curl asks to be called again
    QTimer m_silence;
    QTimer m_deadline;
    QTimer m_fileRead;
    std::string m_path;
    std::string m_url;
    std::vector<std::uint8_t> m_body;
    std::size_t m_headerBytes = 0;
    int m_headerLines = 0;
    int m_redirects = 0;
    std::optional<std::string> m_refusal; // why a callback stopped the transfer
    std::function<void(ArtFetchResult)> m_done;
    char m_error[CURL_ERROR_SIZE] = {};
};

} // namespace glowcast
