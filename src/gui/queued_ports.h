#pragma once

#include "core/ports/notification_centre.h"
#include "core/ports/scheduler.h"
#include "operation_queue.h"

#include <QObject>

#include <optional>
#include <vector>

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
// arrives during a set-up or another cover change is handled after it.
class QueuedNotificationCentre final : public NotificationCentre {
public:
    QueuedNotificationCentre(NotificationCentre& centre, OperationQueue& queue) : m_centre(centre), m_queue(queue) {}
    void addObserver(std::string name, std::string object, std::function<void(const Notification&)> handler) override;
    // Hands a notification of this program's own (a cover from a media player) to the observers of
    // its name and object the way the bus's notifications reach them, without a trip through the bus.
    // One posted before any such observer registers waits for the first (only the newest waits).
    void postLocally(const Notification& notification);

private:
    struct Observer {
        std::string name;
        std::string object;
        std::function<void(const Notification&)> deliver;
    };

    NotificationCentre& m_centre;
    OperationQueue& m_queue;
    std::vector<Observer> m_observers;
    std::optional<Notification> m_unheard;
};

} // namespace glowcast
