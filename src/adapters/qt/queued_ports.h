#pragma once

#include "core/operation_queue.h"
#include "core/ports/log.h"
#include "core/ports/notification_centre.h"
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

// A notification centre whose observers are called through the operation queue, so a cover that
// arrives during a set-up or another cover change is handled after it. At most one notification
// waits per observer: one that arrives while an older one still waits supersedes it, and the older
// one is dropped with a log line. A burst of covers thus ends with the newest, soon after the
// current operation, and holds the memory of one waiting cover at most. An observer is never called
// inside the centre's own delivery, but from the event loop: the queue is the only place a
// notification waits.
class QueuedNotificationCentre final : public NotificationCentre {
public:
    QueuedNotificationCentre(NotificationCentre& centre, OperationQueue& queue, Log& log)
        : m_centre(centre), m_queue(queue), m_log(log)
    {
    }
    void addObserver(std::string name, std::string object, std::function<void(const Notification&)> handler) override;
    // Hands a notification of this program's own (a cover from a media player) to the observers of
    // its name and object the way the bus's notifications reach them, without a trip through the bus.
    // One posted before any such observer registers waits for the first (only the newest waits).
    void postLocally(const Notification& notification);

private:
    struct Observer {
        std::string name;
        std::string object;
        std::function<void(const Notification&)> handler;
        std::optional<Notification> waiting;
        bool handedOver = false; // a run for this observer is in the queue or on its way there
    };

    void hold(Observer& observer, const Notification& notification);
    void deliver(Observer& observer);

    NotificationCentre& m_centre;
    OperationQueue& m_queue;
    Log& m_log;
    std::deque<Observer> m_observers; // never shrinks, so references to its elements stay valid
    std::optional<Notification> m_unheard;
    QObject m_context; // runs still on their way when the centre goes are dropped with it
};

} // namespace glowcast
