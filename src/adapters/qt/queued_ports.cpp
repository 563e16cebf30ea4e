#include "adapters/qt/queued_ports.h"

#include <QTimer>

#include <malloc.h>

#include <utility>

namespace glowcast {

namespace {

constexpr std::size_t kLargeCoverBytes = std::size_t{1} << 20;

} // namespace

void QtScheduler::schedule(std::chrono::milliseconds delay, std::function<void()> action)
{
    // Precise: a cover's delay is planned to the millisecond, and a coarse timer may miss it by 5 %.
    QTimer::singleShot(delay, Qt::PreciseTimer, &m_context,
                       [this, action = std::move(action)] { m_queue.run(action); });
}

void QueuedCoverFeed::follow(std::function<void(const CoverArrival&)> handler)
{
    Follower& follower = m_followers.emplace_back(Follower{std::move(handler), std::nullopt, false});
    m_feed.follow([this, &follower](const CoverArrival& cover) { hold(follower, cover); });
    if (m_unheard) {
        const CoverArrival waiting = std::move(*m_unheard);
        m_unheard.reset();
        hold(follower, waiting);
    }
}

void QueuedCoverFeed::post(const CoverArrival& cover)
{
    for (Follower& follower : m_followers)
        hold(follower, cover);
    if (m_followers.empty())
        m_unheard = cover;
}

void QueuedCoverFeed::hold(Follower& follower, const CoverArrival& cover)
{
    if (follower.waiting)
        m_log.write("covers: a newer cover from \"" + cover.source +
                    "\" arrived before the waiting one was handled; the waiting one is dropped");
    follower.waiting = cover;
    if (follower.handedOver)
        return;
    follower.handedOver = true;
    QTimer::singleShot(0, &m_context, [this, &follower] { m_queue.run([this, &follower] { deliver(follower); }); });
}

void QueuedCoverFeed::deliver(Follower& follower)
{
    follower.handedOver = false;
    if (!follower.waiting)
        return;
    std::size_t bytes = 0;
    {
        const CoverArrival cover = std::move(*follower.waiting);
        follower.waiting.reset();
        bytes = cover.bytes.size();
        follower.handler(cover);
    }
    // The allocator keeps what a large cover and its copies on the way (the bus's message, the
    // decoder's buffers) freed, for the next one; the program may idle for hours with it. Give it back.
    if (bytes >= kLargeCoverBytes)
        ::malloc_trim(0);
}

} // namespace glowcast
