#include "adapters/mqtt/mqtt_guard.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace glowcast {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint8_t kPublish = 3;
// The most a topic of ours is long: a longer one is not read from a PUBLISH left out.
constexpr std::size_t kLongestTopic = 1'024;
// What waits in either direction before the guard stops reading that side.
constexpr std::size_t kBufferBytes = std::size_t{64} << 10;
constexpr auto kConnectTimeout = std::chrono::seconds(30);
constexpr auto kStopGrace = std::chrono::seconds(1);

std::string errnoText(int error)
{
    return std::strerror(error);
}

void closeQuietly(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

// One connection of the library's and the broker's end of it.
struct Relay {
    explicit Relay(std::size_t limit) : frames(limit) {}
    ~Relay()
    {
        closeQuietly(library);
        closeQuietly(broker);
    }
    Relay(const Relay&) = delete;
    Relay& operator=(const Relay&) = delete;
    int library = -1;
    int broker = -1;
    bool connecting = true;
    bool libraryGone = false;
    Clock::time_point connectBy;
    std::string up;   // from the library, not yet written to the broker
    std::string down; // passed from the broker, not yet written to the library
    MqttFrames frames;
};

// Writes what it can of the text without waiting and drops that from it; false on an error.
bool writeSome(int fd, std::string& text)
{
    const ssize_t written = ::send(fd, text.data(), text.size(), MSG_NOSIGNAL);
    if (written < 0)
        return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    text.erase(0, static_cast<std::size_t>(written));
    return true;
}

// Connects without waiting to the numeric address; the socket, or nothing with errno set.
std::optional<int> connectTo(const std::string& address, int port)
{
    sockaddr_storage storage{};
    socklen_t size = 0;
    auto* v4 = reinterpret_cast<sockaddr_in*>(&storage);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&storage);
    if (::inet_pton(AF_INET, address.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(static_cast<std::uint16_t>(port));
        size = sizeof(sockaddr_in);
    } else if (::inet_pton(AF_INET6, address.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(static_cast<std::uint16_t>(port));
        size = sizeof(sockaddr_in6);
    } else {
        errno = EINVAL;
        return std::nullopt;
    }
    const int fd = ::socket(storage.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return std::nullopt;
    const int on = 1;
    (void)::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&storage), size) != 0 && errno != EINPROGRESS) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return std::nullopt;
    }
    return fd;
}

} // namespace

bool MqttFrames::take(std::span<const char> bytes, std::string& out, const std::function<void(Dropped)>& dropped)
{
    if (!m_why.empty())
        return false;
    for (std::size_t at = 0; at < bytes.size();) {
        if (m_part == Part::Header) {
            const char byte = bytes[at++];
            m_header[m_headerSize++] = byte;
            if (m_headerSize == 1 || (byte & 0x80) != 0) {
                if (m_headerSize == sizeof m_header) {
                    m_why = "the broker sent a packet whose length has more than four bytes";
                    return false;
                }
                continue;
            }
            std::size_t length = 0;
            for (std::size_t i = m_headerSize - 1; i >= 1; --i)
                length = length * 128 + (static_cast<unsigned char>(m_header[i]) & 0x7f);
            m_left = length;
            if (length <= m_limit) {
                out.append(m_header, m_headerSize);
                m_part = Part::Passing;
            } else if (static_cast<unsigned char>(m_header[0]) >> 4 == kPublish) {
                m_dropping = {{}, length};
                m_topicBytes.clear();
                m_part = Part::Dropping;
            } else {
                m_why = "the broker sent a packet of " + std::to_string(length) + " bytes, over the cap of " +
                        std::to_string(m_limit);
                return false;
            }
        } else {
            const std::size_t count = std::min(m_left, bytes.size() - at);
            if (m_part == Part::Passing)
                out.append(bytes.data() + at, count);
            else if (m_topicBytes.size() < 2 + kLongestTopic)
                m_topicBytes.append(bytes.data() + at, std::min(count, 2 + kLongestTopic - m_topicBytes.size()));
            at += count;
            m_left -= count;
        }
        if (m_part != Part::Header && m_left == 0) {
            if (m_part == Part::Dropping) {
                const std::size_t topicSize = m_topicBytes.size() < 2
                                                  ? 0
                                                  : static_cast<unsigned char>(m_topicBytes[0]) * 256u +
                                                        static_cast<unsigned char>(m_topicBytes[1]);
                if (topicSize + 2 <= m_topicBytes.size())
                    m_dropping.topic = m_topicBytes.substr(2, topicSize);
                dropped(std::move(m_dropping));
            }
            m_part = Part::Header;
            m_headerSize = 0;
        }
    }
    return true;
}

MqttGuard::MqttGuard(std::size_t limit, std::function<void(std::string)> failed,
                     std::function<void(MqttFrames::Dropped)> dropped)
    : m_limit(limit), m_failed(std::move(failed)), m_dropped(std::move(dropped))
{
}

MqttGuard::~MqttGuard()
{
    stop();
}

std::optional<std::string> MqttGuard::start()
{
    if (m_thread.joinable())
        return std::nullopt;
    // A folder of this user's alone holds the socket: no other user can reach it.
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    std::string folder = std::string(runtime && *runtime ? runtime : "/tmp") + "/glowcast-mqtt-XXXXXX";
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (folder.size() + 8 > sizeof address.sun_path)
        folder = "/tmp/glowcast-mqtt-XXXXXX";
    if (::mkdtemp(folder.data()) == nullptr)
        return "cannot make a folder for the connection to the broker: " + errnoText(errno);
    m_folder = folder;
    m_path = m_folder + "/broker";
    std::memcpy(address.sun_path, m_path.c_str(), m_path.size() + 1);
    m_listening = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    m_wake = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (m_listening < 0 || m_wake < 0 ||
        ::bind(m_listening, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(m_listening, 4) != 0) {
        const std::string why = "cannot listen for the connection to the broker: " + errnoText(errno);
        stop();
        return why;
    }
    m_thread = std::thread([this] { run(); });
    return std::nullopt;
}

void MqttGuard::relayTo(const std::string& address, int port)
{
    std::lock_guard lock(m_targetLock);
    m_address = address;
    m_port = port;
}

void MqttGuard::stop()
{
    if (m_thread.joinable()) {
        const std::uint64_t one = 1;
        (void)!::write(m_wake, &one, sizeof one);
        m_thread.join();
    }
    closeQuietly(m_listening);
    closeQuietly(m_wake);
    if (!m_path.empty())
        ::unlink(m_path.c_str());
    if (!m_folder.empty())
        ::rmdir(m_folder.c_str());
    m_path.clear();
    m_folder.clear();
}

void MqttGuard::run()
{
    std::unique_ptr<Relay> relay;
    std::optional<Clock::time_point> stopBy;
    std::array<char, kBufferBytes> chunk{};
    // Ends the relay; the reason, if any, is told before the library sees the end.
    const auto end = [&](const std::string& why) {
        if (!why.empty())
            m_failed(why);
        relay.reset();
    };
    for (;;) {
        std::array<pollfd, 4> fds{};
        fds[0] = {m_wake, POLLIN, 0};
        fds[1] = {stopBy ? -1 : m_listening, POLLIN, 0};
        fds[2] = {-1, 0, 0};
        fds[3] = {-1, 0, 0};
        Clock::time_point wakeBy = stopBy.value_or(Clock::time_point::max());
        if (relay) {
            fds[2] = {relay->library,
                      static_cast<short>((!relay->libraryGone && relay->up.size() < kBufferBytes ? POLLIN : 0) |
                                         (!relay->down.empty() ? POLLOUT : 0)),
                      0};
            fds[3] = {relay->broker,
                      static_cast<short>((relay->connecting || !relay->up.empty() ? POLLOUT : 0) |
                                         (!relay->connecting && relay->down.size() < kBufferBytes ? POLLIN : 0)),
                      0};
            if (relay->connecting)
                wakeBy = std::min(wakeBy, relay->connectBy);
        }
        const auto wait = wakeBy == Clock::time_point::max()
                              ? -1
                              : static_cast<int>(std::max<std::int64_t>(
                                    0, std::chrono::ceil<std::chrono::milliseconds>(wakeBy - Clock::now()).count()));
        if (::poll(fds.data(), fds.size(), wait) < 0 && errno != EINTR)
            break;
        if ((fds[0].revents & POLLIN) != 0) {
            std::uint64_t count = 0;
            (void)!::read(m_wake, &count, sizeof count);
            stopBy = Clock::now() + kStopGrace;
        }
        if (stopBy && (!relay || (relay->libraryGone && relay->up.empty()) || Clock::now() >= *stopBy))
            break;
        if ((fds[1].revents & POLLIN) != 0) {
            int library = ::accept4(m_listening, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            ucred peer{};
            socklen_t size = sizeof peer;
            if (library >= 0 &&
                (::getsockopt(library, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || peer.pid != ::getpid())) {
                closeQuietly(library);
            } else if (library >= 0) {
                // The library connects again only after its last connection ended: an old one is stale.
                relay.reset();
                std::string address;
                int port = 0;
                {
                    std::lock_guard lock(m_targetLock);
                    address = m_address;
                    port = m_port;
                }
                relay = std::make_unique<Relay>(m_limit);
                relay->library = library;
                relay->connectBy = Clock::now() + kConnectTimeout;
                if (const std::optional<int> broker = connectTo(address, port))
                    relay->broker = *broker;
                else
                    end(errnoText(errno));
            }
            continue; // the new relay's descriptors are polled next time round
        }
        if (!relay)
            continue;
        const short library = fds[2].revents;
        const short broker = fds[3].revents;
        if (relay->connecting && (broker & (POLLOUT | POLLERR | POLLHUP)) != 0) {
            int error = 0;
            socklen_t size = sizeof error;
            if (::getsockopt(relay->broker, SOL_SOCKET, SO_ERROR, &error, &size) != 0)
                error = errno;
            if (error != 0) {
                end(errnoText(error));
                continue;
            }
            relay->connecting = false;
        } else if (relay->connecting && Clock::now() >= relay->connectBy) {
            end("no answer within " + std::to_string(kConnectTimeout.count()) + " s");
            continue;
        }
        if ((library & POLLOUT) != 0 && !writeSome(relay->library, relay->down)) {
            end({});
            continue;
        }
        if ((library & (POLLIN | POLLHUP | POLLERR)) != 0 && !relay->libraryGone) {
            const std::size_t room = kBufferBytes - relay->up.size();
            const ssize_t count = ::recv(relay->library, chunk.data(), room, 0);
            if (count > 0)
                relay->up.append(chunk.data(), static_cast<std::size_t>(count));
            else if (count == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
                relay->libraryGone = true;
        }
        if (!relay->connecting && !relay->up.empty() && (broker & POLLOUT) != 0 &&
            !writeSome(relay->broker, relay->up)) {
            end(errnoText(errno));
            continue;
        }
        if (relay->libraryGone && (relay->up.empty() || relay->connecting)) {
            end({});
            continue;
        }
        if (!relay->connecting && (broker & (POLLIN | POLLHUP | POLLERR)) != 0) {
            const ssize_t count = ::recv(relay->broker, chunk.data(), chunk.size(), 0);
            if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
                continue;
            if (count <= 0) {
                // What came before the end (a refusal, the broker's reason to disconnect) still reaches the
                // library, as far as it goes without waiting.
                const std::string why = count < 0 ? errnoText(errno) : std::string();
                (void)writeSome(relay->library, relay->down);
                end(why);
                continue;
            }
            if (!relay->frames.take(std::span<const char>(chunk.data(), static_cast<std::size_t>(count)), relay->down,
                                    m_dropped)) {
                end(relay->frames.why());
                continue;
            }
        }
    }
    relay.reset();
}

} // namespace glowcast
