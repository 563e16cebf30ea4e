#include "adapters/curl/curl_art_fetcher.h"

#include "adapters/files/regular_file.h"

#include <string_view>
#include <utility>

namespace glowcast {

namespace {

// The library is set up once per process, before any transfer; the process's end cleans up.
void initialiseLibraryOnce()
{
    static const bool initialised = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    (void)initialised;
}

ArtFetchResult failed(std::string reason)
{
    return {ArtFetchResult::Kind::Failed, {}, std::move(reason)};
}

std::string tooLarge(long long bytes, std::size_t maximum)
{
    return "it holds " + std::to_string(bytes) + " bytes, more than the " + std::to_string(maximum) + " bytes allowed";
}

std::string_view schemeOf(std::string_view url)
{
    return url.substr(0, url.find("://"));
}

} // namespace

ArtFetchResult readCoverFile(const std::string& path, std::size_t maximumBytes)
{
    FileRead read = readRegularFile(path, maximumBytes);
    // A player may name a file before it has written it: only then is it worth looking again.
    if (read.failure == FileReadFailure::Missing)
        return {ArtFetchResult::Kind::Missing, {}, std::move(read.reason)};
    if (!read.ok())
        return failed(std::move(read.reason));
    if (read.bytes.empty())
        return {ArtFetchResult::Kind::Missing, {}, "the file is still empty"};
    return {ArtFetchResult::Kind::Bytes, std::move(read.bytes), {}};
}

CurlArtFetcher::CurlArtFetcher(ArtFetchLimits limits) : m_limits(limits)
{
    initialiseLibraryOnce();
    m_multi = curl_multi_init();
    curl_multi_setopt(m_multi, CURLMOPT_SOCKETFUNCTION, &CurlArtFetcher::onSocket);
    curl_multi_setopt(m_multi, CURLMOPT_SOCKETDATA, this);
    curl_multi_setopt(m_multi, CURLMOPT_TIMERFUNCTION, &CurlArtFetcher::onTimer);
    curl_multi_setopt(m_multi, CURLMOPT_TIMERDATA, this);
    m_curlTimer.setSingleShot(true);
    connect(&m_curlTimer, &QTimer::timeout, this, [this] { act(CURL_SOCKET_TIMEOUT, 0); });
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this,
            [this] { end(failed("no whole answer within " + std::to_string(m_limits.total.count()) + " ms")); });
    m_silence.setSingleShot(true);
    connect(&m_silence, &QTimer::timeout, this,
            [this] { end(failed("no byte within " + std::to_string(m_limits.silence.count()) + " ms")); });
    m_fileRead.setSingleShot(true);
    m_fileRead.setInterval(0);
    connect(&m_fileRead, &QTimer::timeout, this, [this] { end(readCoverFile(m_path, m_limits.maximumBytes)); });
}

CurlArtFetcher::~CurlArtFetcher()
{
    cancel();
    curl_multi_cleanup(m_multi); // closes the kept connections, telling onSocket
    for (auto& [socket, watch] : m_sockets) {
        delete watch.read;
        delete watch.write;
    }
}

void CurlArtFetcher::readFile(const std::string& path, std::function<void(ArtFetchResult)> done)
{
    cancel();
    m_done = std::move(done);
    m_path = path;
    m_fileRead.start(); // read from the event loop, so that done never runs inside this call
}

void CurlArtFetcher::download(const std::string& url, std::function<void(ArtFetchResult)> done)
{
    cancel();
    m_done = std::move(done);
    m_redirects = 0;
    m_deadline.start(m_limits.total);
    start(url);
}

void CurlArtFetcher::start(const std::string& url)
{
    dropTransfer();
    m_url = url;
    m_body.clear();
    m_headerBytes = 0;
    m_headerLines = 0;
    m_refusal.reset();
    m_error[0] = '\0';
    m_easy = curl_easy_init();
    curl_easy_setopt(m_easy, CURLOPT_URL, m_url.c_str());
    curl_easy_setopt(m_easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(m_easy, CURLOPT_PROXY, ""); // an environment's proxy is not for covers
    curl_easy_setopt(m_easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(m_easy, CURLOPT_USERAGENT, "Glowcast");
    curl_easy_setopt(m_easy, CURLOPT_ERRORBUFFER, m_error);
    curl_easy_setopt(m_easy, CURLOPT_HEADERFUNCTION, &CurlArtFetcher::onHeader);
    curl_easy_setopt(m_easy, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(m_easy, CURLOPT_WRITEFUNCTION, &CurlArtFetcher::onBody);
    curl_easy_setopt(m_easy, CURLOPT_WRITEDATA, this);
    m_silence.start(m_limits.silence);
    curl_multi_add_handle(m_multi, m_easy); // asks onTimer to start the transfer from the event loop
}

void CurlArtFetcher::cancel()
{
    m_fileRead.stop();
    m_deadline.stop();
    m_silence.stop();
    m_done = nullptr;
    dropTransfer();
    m_body.clear();
}

void CurlArtFetcher::dropTransfer()
{
    if (!m_easy)
        return;
    // A transfer taken away unfinished closes its connection: a server given up on (a header section
    // that never ends) costs nothing from then on, and the next download from it starts afresh.
    curl_multi_remove_handle(m_multi, m_easy);
    curl_easy_cleanup(m_easy);
    m_easy = nullptr;
}

int CurlArtFetcher::onSocket(CURL* /*easy*/, curl_socket_t socket, int what, void* self, void* /*socketData*/)
{
    auto* me = static_cast<CurlArtFetcher*>(self);
    if (what == CURL_POLL_REMOVE)
        me->unwatch(socket);
    else
        me->watch(socket, what);
    return 0;
}

int CurlArtFetcher::onTimer(CURLM* /*multi*/, long milliseconds, void* self)
{
    auto* me = static_cast<CurlArtFetcher*>(self);
    if (milliseconds < 0)
        me->m_curlTimer.stop();
    else
        me->m_curlTimer.start(static_cast<int>(milliseconds));
    return 0;
}

void CurlArtFetcher::watch(curl_socket_t socket, int what)
{
    Watch& watch = m_sockets[socket];
    const auto notifier = [&](QSocketNotifier*& slot, QSocketNotifier::Type type, int events) {
        if (!slot) {
            slot = new QSocketNotifier(socket, type, this);
            connect(slot, &QSocketNotifier::activated, this, [this, socket, events] { act(socket, events); });
        }
        return slot;
    };
    notifier(watch.read, QSocketNotifier::Read, CURL_CSELECT_IN)->setEnabled((what & CURL_POLL_IN) != 0);
    notifier(watch.write, QSocketNotifier::Write, CURL_CSELECT_OUT)->setEnabled((what & CURL_POLL_OUT) != 0);
}

void CurlArtFetcher::unwatch(curl_socket_t socket)
{
    const auto found = m_sockets.find(socket);
    if (found == m_sockets.end())
        return;
    // curl may close the socket from inside a notifier's own signal: the notifier goes afterwards.
    for (QSocketNotifier* notifier : {found->second.read, found->second.write}) {
        notifier->setEnabled(false);
        notifier->deleteLater();
    }
    m_sockets.erase(found);
}

void CurlArtFetcher::act(curl_socket_t socket, int events)
{
    int running = 0;
    curl_multi_socket_action(m_multi, socket, events, &running);
    int left = 0;
    while (const CURLMsg* message = curl_multi_info_read(m_multi, &left)) {
        if (message->msg == CURLMSG_DONE && message->easy_handle == m_easy) {
            // What ends it may start the next download, which must not meet this loop.
            transferEnded(message->data.result);
            return;
        }
    }
}

std::size_t CurlArtFetcher::onHeader(char* data, std::size_t size, std::size_t count, void* self)
{
    auto* me = static_cast<CurlArtFetcher*>(self);
    const std::size_t bytes = size * count;
    me->m_silence.start(me->m_limits.silence);
    me->m_headerBytes += bytes;
    ++me->m_headerLines;
    if (me->m_headerBytes > me->m_limits.maximumHeaderBytes) {
        me->m_refusal =
            "its header section is longer than " + std::to_string(me->m_limits.maximumHeaderBytes) + " bytes";
        return 0;
    }
    if (me->m_headerLines > me->m_limits.maximumHeaderLines) {
        me->m_refusal =
            "its header section has more than " + std::to_string(me->m_limits.maximumHeaderLines) + " lines";
        return 0;
    }
    const bool sectionEnds = bytes <= 2 && (bytes == 0 || data[0] == '\r' || data[0] == '\n');
    if (!sectionEnds)
        return bytes;
    long status = 0;
    curl_off_t length = -1;
    curl_easy_getinfo(me->m_easy, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_getinfo(me->m_easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
    if (status >= 200 && status < 300 && length > static_cast<curl_off_t>(me->m_limits.maximumBytes)) {
        me->m_refusal = tooLarge(length, me->m_limits.maximumBytes);
        return 0;
    }
    return bytes;
}

std::size_t CurlArtFetcher::onBody(char* data, std::size_t size, std::size_t count, void* self)
{
    auto* me = static_cast<CurlArtFetcher*>(self);
    const std::size_t bytes = size * count;
    me->m_silence.start(me->m_limits.silence);
    me->m_body.insert(me->m_body.end(), data, data + bytes);
    if (me->m_body.size() > me->m_limits.maximumBytes) {
        me->m_refusal =
            tooLarge(static_cast<long long>(me->m_body.size()), me->m_limits.maximumBytes) + " (and more was coming)";
        return 0;
    }
    return bytes;
}

void CurlArtFetcher::transferEnded(CURLcode code)
{
    if (m_refusal) {
        end(failed(*m_refusal));
        return;
    }
    if (code != CURLE_OK) {
        end(failed(m_error[0] != '\0' ? m_error : curl_easy_strerror(code)));
        return;
    }
    long status = 0;
    const char* location = nullptr;
    curl_easy_getinfo(m_easy, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_getinfo(m_easy, CURLINFO_REDIRECT_URL, &location);
    if (status >= 300 && status < 400 && location) {
        // Redirects are followed here rather than by curl, so that https never leads to http.
        const std::string next = location;
        const std::string_view scheme = schemeOf(next);
        if (m_redirects == m_limits.maximumRedirects)
            end(failed("redirected more than " + std::to_string(m_limits.maximumRedirects) + " times"));
        else if (scheme != "https" && (scheme != "http" || schemeOf(m_url) == "https"))
            end(failed("redirected from " + std::string(schemeOf(m_url)) + " to " + std::string(scheme) +
                       ", which is not followed"));
        else {
            ++m_redirects;
            start(next);
        }
        return;
    }
    if (status >= 300) {
        end(failed("the server answered HTTP " + std::to_string(status)));
        return;
    }
    end({ArtFetchResult::Kind::Bytes, std::move(m_body), {}});
}

void CurlArtFetcher::end(ArtFetchResult result)
{
    // Everything is put away before done runs: it may start the next read.
    std::function<void(ArtFetchResult)> done = std::move(m_done);
    cancel();
    if (done)
        done(std::move(result));
}

} // namespace glowcast
