#include "adapters/http/qt_art_fetcher.h"

#include "adapters/files/regular_file.h"
#include "core/http/http_url.h"

#include <QNetworkProxy>
#include <QSslSocket>
#include <QTcpSocket>

#include <utility>

namespace glowcast {

namespace {

// What the socket holds of the answer before it is read: the reader keeps the rest within its caps.
constexpr qint64 kReadBufferBytes = 256 * 1024;

ArtFetchResult failed(std::string reason)
{
    return {ArtFetchResult::Kind::Failed, {}, std::move(reason)};
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
    m_silence.setSingleShot(true);
    connect(&m_silence, &QTimer::timeout, this,
            [this] { end(failed("no byte within " + std::to_string(m_limits.silence.count()) + " ms")); });
    // Each read begins from the event loop, so that done never runs inside the call that asked.
    m_begin.setSingleShot(true);
    m_begin.setInterval(0);
    connect(&m_begin, &QTimer::timeout, this, [this] {
        if (m_downloading)
            start(m_url);
        else
            end(readCoverFile(m_path, m_limits.maximumBytes));
    });
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
    m_downloading = false;
    m_begin.start();
}

void QtArtFetcher::download(const std::string& url, std::function<void(ArtFetchResult)> done)
{
    cancel();
    m_done = std::move(done);
    m_url = url;
    m_downloading = true;
    m_redirects = 0;
    m_deadline.start(m_limits.total);
    m_begin.start();
}

void QtArtFetcher::start(const std::string& url)
{
    dropConnection();
    m_url = url;
    const HttpUrlReading reading = readHttpUrl(url);
    if (!reading.url) {
        end(failed(reading.refusal));
        return;
    }
    const HttpUrl& target = *reading.url;
    if (target.secure && !QSslSocket::supportsSsl()) {
        end(failed("https cannot be read: Qt finds no TLS library"));
        return;
    }
    m_socket = target.secure ? new QSslSocket(this) : new QTcpSocket(this);
    m_socket->setProxy(QNetworkProxy::NoProxy); // an environment's proxy is not for covers
    m_socket->setReadBufferSize(kReadBufferBytes);
    m_reader.emplace(
        HttpResponseLimits{m_limits.maximumHeaderBytes, m_limits.maximumHeaderLines, m_limits.maximumBytes});
    // Written once connected, over TLS once the handshake is done.
    const auto ask = [socket = m_socket, head = QByteArray::fromStdString(target.head)] { socket->write(head); };
    if (target.secure)
        connect(static_cast<QSslSocket*>(m_socket), &QSslSocket::encrypted, m_socket, ask);
    else
        connect(m_socket, &QAbstractSocket::connected, m_socket, ask);
    connect(m_socket, &QIODevice::readyRead, this, [this] { readAnswer(); });
    connect(m_socket, &QAbstractSocket::disconnected, this, [this] { connectionEnded({}); });
    connect(m_socket, &QAbstractSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
        // The server's close is an end like any other, what came before it decides; over TLS it may
        // come without a disconnected().
        connectionEnded(error == QAbstractSocket::RemoteHostClosedError ? QString() : m_socket->errorString());
    });
    m_silence.start(m_limits.silence);
    const QString host = QString::fromStdString(target.host);
    if (target.secure)
        static_cast<QSslSocket*>(m_socket)->connectToHostEncrypted(host, target.port); // checks the name too
    else
        m_socket->connectToHost(host, target.port);
}

void QtArtFetcher::cancel()
{
    m_begin.stop();
    m_deadline.stop();
    m_silence.stop();
    m_done = nullptr;
    dropConnection();
}

void QtArtFetcher::dropConnection()
{
    if (!m_socket)
        return;
    // A download given up on (a header section that never ends) costs nothing from then on. The
    // socket may be the one whose signal is running: it goes once that is over.
    m_socket->disconnect();
    m_socket->abort();
    m_socket->deleteLater();
    m_socket = nullptr;
    m_reader.reset();
}

void QtArtFetcher::readAnswer()
{
    if (!m_socket)
        return;
    m_silence.start(m_limits.silence);
    char buffer[16 * 1024];
    while (m_reader->state() == HttpResponseReader::State::Reading) {
        const qint64 count = m_socket->read(buffer, sizeof buffer);
        if (count <= 0)
            return;
        m_reader->take({buffer, static_cast<std::size_t>(count)});
    }
    answered();
}

void QtArtFetcher::connectionEnded(const QString& error)
{
    const QTcpSocket* socket = m_socket;
    readAnswer(); // what came before the end
    if (!m_socket || m_socket != socket)
        return; // that answer ended the download, or sent it elsewhere
    if (!error.isEmpty()) {
        end(failed(error.toStdString()));
        return;
    }
    m_reader->closed();
    answered();
}

void QtArtFetcher::answered()
{
    HttpResponseReader& reader = *m_reader;
    if (reader.state() == HttpResponseReader::State::Refused) {
        end(failed(reader.refusal()));
        return;
    }
    const int status = reader.status();
    if (status >= 300 && status < 400 && !reader.location().empty()) {
        // Each hop is judged here, so that https never leads to http.
        const RedirectStep step = redirectStep(m_url, reader.location());
        if (m_redirects == m_limits.maximumRedirects)
            end(failed("redirected more than " + std::to_string(m_limits.maximumRedirects) + " times"));
        else if (step.url.empty())
            end(failed(step.refusal));
        else {
            ++m_redirects;
            start(step.url);
        }
        return;
    }
    if (status >= 300) {
        end(failed("the server answered HTTP " + std::to_string(status)));
        return;
    }
    end({ArtFetchResult::Kind::Bytes, reader.takeBody(), {}});
}

void QtArtFetcher::end(ArtFetchResult result)
{
    // Everything is put away before done runs: it may start the next read.
    std::function<void(ArtFetchResult)> done = std::move(m_done);
    cancel();
    if (done)
        done(std::move(result));
}

} // namespace glowcast
