#pragma once

#include "core/control/operation_queue.h"
#include "core/ports/cover_feed.h"
#include "core/ports/log.h"
#include "core/ports/scheduler.h"

#include <QObject>

#include <deque>
#include <optional>
#include <string>

namespace glowcast {

// The delayed call: a single-shot timer whose action joins the operation queue when it fires.
class QtScheduler final : public Scheduler {
public:
    explicit QtScheduler(OperationQueue& queue) : m_queue(queue) {}
    void schedule(std::chrono::milliseconds delay, std::function<void()> action) override;

private:
    OperationQueue& m_queue;
    QObject m_context; // timers still pending when the scheduler goes are dropped with it
};

// A cover feed whose followers are called through the operation queue, so a cover that arrives
// during a set-up or another cover change is handled after it. At most one cover waits per follower:
// one that arrives while an older one still waits supersedes it, and the older one is dropped with a
// log line. A burst of covers thus ends with the newest, soon after the current operation, and holds
// the memory of one waiting cover at most. A follower is never called inside the feed's own delivery,
// but from the event loop: the queue is the only place a cover waits.
class QueuedCoverFeed final : public CoverFeed {
public:
    QueuedCoverFeed(CoverFeed& feed, OperationQueue& queue, Log& log) : m_feed(feed), m_queue(queue), m_log(log) {}
    void follow(std::function<void(const CoverArrival&)> handler) override;
    // Hands a cover of this program's own (from a media player) to the followers the way the feed's
    // covers reach them. One posted before anyone follows waits for the first (only the newest waits).
    void post(const CoverArrival& cover);

private:
    struct Follower {
        std::function<void(const CoverArrival&)> handler;
        std::optional<CoverArrival> waiting;
        bool handedOver = false; // a run for this follower is in the queue or on its way there
    };

    void hold(Follower& follower, const CoverArrival& cover);
    void deliver(Follower& follower);

    CoverFeed& m_feed;
    OperationQueue& m_queue;
    Log& m_log;
    std::deque<Follower> m_followers; // never shrinks, so references to its elements stay valid
    std::optional<CoverArrival> m_unheard;
    QObject m_context; // runs still on their way when the feed goes are dropped with it
};

} // namespace glowcast
