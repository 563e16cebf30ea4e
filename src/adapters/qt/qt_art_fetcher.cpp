#include "qt_art_fetcher.h"

#include <QBuffer>
#include <QImageReader>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace glowcast {

namespace {

ArtFetchResult failed(std::string reason)
{
    return {ArtFetchResult::Outcome::Failed, {}, std::move(reason)};
}

std::string tooLarge(long long bytes, std::size_t maximum)
{
    return "it holds " + std::to_string(bytes) + " bytes, more than the " + std::to_string(maximum) +
           " a cover may have";
}

std::string kindOf(mode_t mode)
{
    if (S_ISDIR(mode))
        return "it is a directory";
    if (S_ISFIFO(mode))
        return "it is a FIFO";
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return "it is a device";
    if (S_ISSOCK(mode))
        return "it is a socket";
    return "it is not a regular file";
}

} // namespace

ArtFetchResult readCoverFile(const std::string& path, std::size_t maximumBytes)
{
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return {ArtFetchResult::Outcome::Missing, {}, "there is no such file"};
        return failed(std::strerror(errno));
    }
    if (!S_ISREG(status.st_mode))
        return failed(kindOf(status.st_mode));
    // Non-blocking all the same: the name may have been swapped for a FIFO since.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return errno == ENOENT ? ArtFetchResult{ArtFetchResult::Outcome::Missing, {}, "there is no such file"}
                               : failed(std::strerror(errno));
    ArtFetchResult result{ArtFetchResult::Outcome::Bytes, {}, {}};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        result = failed(kindOf(status.st_mode));
    } else if (static_cast<std::size_t>(status.st_size) > maximumBytes) {
        result = failed(tooLarge(status.st_size, maximumBytes));
    } else {
        result.bytes.resize(static_cast<std::size_t>(status.st_size));
        std::size_t filled = 0;
        while (filled < result.bytes.size()) {
            const ssize_t got = ::read(fd, result.bytes.data() + filled, result.bytes.size() - filled);
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0) {
                result = failed(std::strerror(errno));
                break;
            }
            if (got == 0) // cut short while we read: what is there is what we have
                break;
            filled += static_cast<std::size_t>(got);
        }
        if (result.outcome == ArtFetchResult::Outcome::Bytes)
            result.bytes.resize(filled);
        if (result.outcome == ArtFetchResult::Outcome::Bytes && filled == 0)
            result = {ArtFetchResult::Outcome::Missing, {}, "the file is still empty"};
    }
    ::close(fd);
    return result;
}

QtArtFetcher::QtArtFetcher(ArtFetchLimits limits) : m_limits(limits)
{
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this,
            [this] { end(failed("no whole answer within " + std::to_string(m_limits.total.count()) + " ms")); });
    m_fileRead.setSingleShot(true);
    m_fileRead.setInterval(0);
    connect(&m_fileRead, &QTimer::timeout, this, [this] { end(readCoverFile(m_path, m_limits.maximumBytes)); });
}

QtArtFetcher::~QtArtFetcher()
{
    cancel();
}

void QtArtFetcher::readFile(const std::string& path, std::function<void(ArtFetchResult)> done)
{
    cancel();
    m_done = std::move(done);
    m_path = path;
    m_fileRead.start(); // read from the event loop, so that done never runs inside this call
}

void QtArtFetcher::download(const std::string& url, std::function<void(ArtFetchResult)> done)
{
    cancel();
    m_done = std::move(done);
    QNetworkRequest request(QUrl(QString::fromStdString(url), QUrl::StrictMode));
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(m_limits.maximumRedirects);
    request.setTransferTimeout(static_cast<int>(m_limits.silence.count()));
    request.setHeader(QNetworkRequest::UserAgentHeader, QStringLiteral("Glowcast"));
    m_body.clear();
    m_reply = m_network.get(request);
    connect(m_reply, &QNetworkReply::metaDataChanged, this, [this] {
        const QVariant length = m_reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && length.toLongLong() > static_cast<long long>(m_limits.maximumBytes))
            end(failed(tooLarge(length.toLongLong(), m_limits.maximumBytes)));
    });
    connect(m_reply, &QNetworkReply::readyRead, this, &QtArtFetcher::received);
    connect(m_reply, &QNetworkReply::finished, this, &QtArtFetcher::finished);
    m_deadline.start(m_limits.total);
}

void QtArtFetcher::cancel()
{
    m_fileRead.stop();
    m_deadline.stop();
    m_done = nullptr;
    if (m_reply) {
        QNetworkReply* reply = m_reply;
        m_reply = nullptr;
        reply->disconnect(this);
        const bool clean = reply->isFinished() && reply->error() == QNetworkReply::NoError;
        reply->abort();
        reply->deleteLater();
        // A server given up on may still be sending (a header section that never ends): aborting the
        // reply leaves its connection open and busy, reading on. Only dropping the cached connections
        // closes it, so that it costs nothing from now on and the next download from that host
        // starts afresh. A download that ended well keeps its connection for the next one.
        if (!clean)
            m_network.clearConnectionCache();
    }
    m_body.clear();
}

void QtArtFetcher::received()
{
    if (!m_reply)
        return;
    if (m_reply->isOpen())
        m_body += m_reply->readAll();
    if (static_cast<std::size_t>(m_body.size()) > m_limits.maximumBytes)
        end(failed(tooLarge(m_body.size(), m_limits.maximumBytes) + " (and more was coming)"));
}

void QtArtFetcher::finished()
{
    if (!m_reply)
        return;
    received();
    if (!m_reply)
        return;
    const int status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (m_reply->error() == QNetworkReply::TooManyRedirectsError) {
        end(failed("redirected more than " + std::to_string(m_limits.maximumRedirects) + " times"));
    } else if (m_reply->error() == QNetworkReply::OperationCanceledError) {
        end(failed("no byte within " + std::to_string(m_limits.silence.count()) + " ms"));
    } else if (status >= 300) {
        end(failed("the server answered HTTP " + std::to_string(status)));
    } else if (m_reply->error() != QNetworkReply::NoError) {
        end(failed(m_reply->errorString().toStdString()));
    } else {
        end({ArtFetchResult::Outcome::Bytes, std::vector<std::uint8_t>(m_body.begin(), m_body.end()), {}});
    }
}

void QtArtFetcher::end(ArtFetchResult result)
{
    // Everything is put away before done runs: it may start the next read.
    std::function<void(ArtFetchResult)> done = std::move(m_done);
    cancel();
    if (done)
        done(std::move(result));
}

std::optional<std::string> QtCoverSniffer::imageFormat(std::span<const std::uint8_t> bytes)
{
    const QByteArray data =
        QByteArray::fromRawData(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setDecideFormatFromContent(true);
    if (!reader.canRead())
        return std::nullopt;
    return reader.format().toStdString();
}

} // namespace glowcast
