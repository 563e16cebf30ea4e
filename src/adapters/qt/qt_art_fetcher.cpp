#include "qt_art_fetcher.h"

#include "adapters/files/regular_file.h"

#include <QBuffer>
#include <QImageReader>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

#include <utility>

namespace glowcast {

namespace {

ArtFetchResult failed(std::string reason)
{
    return {ArtFetchResult::Kind::Failed, {}, std::move(reason)};
}

std::string tooLarge(long long bytes, std::size_t maximum)
{
    return "it holds " + std::to_string(bytes) + " bytes, more than the " + std::to_string(maximum) + " bytes allowed";
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
        end({ArtFetchResult::Kind::Bytes, std::vector<std::uint8_t>(m_body.begin(), m_body.end()), {}});
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
