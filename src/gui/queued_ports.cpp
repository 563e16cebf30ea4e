#include "queued_ports.h"

#include <QTimer>

#include <utility>

namespace glowcast {

void QtScheduler::schedule(std::chrono::milliseconds delay, std::function<void()> action)
{
    QTimer::singleShot(delay, &m_context, [this, action = std::move(action)] { m_queue.run(action); });
}

void QueuedNotificationCentre::addObserver(std::string name, std::string object,
                                           std::function<void(const Notification&)> handler)
{
    auto deliver = [this, handler = std::move(handler)](const Notification& notification) {
        m_queue.run([handler, notification] { handler(notification); });
    };
    m_observers.push_back({name, object, deliver});
    m_centre.addObserver(std::move(name), std::move(object), std::move(deliver));
    if (m_unheard && m_unheard->name == m_observers.back().name && m_unheard->object == m_observers.back().object) {
        const Notification waiting = std::move(*m_unheard);
        m_unheard.reset();
        postLocally(waiting);
    }
}

void QueuedNotificationCentre::postLocally(const Notification& notification)
{
    bool heard = false;
    // By index: an observer may register another while it runs.
    for (std::size_t index = 0; index < m_observers.size(); ++index)
        if (m_observers[index].name == notification.name && m_observers[index].object == notification.object) {
            heard = true;
            const auto deliver = m_observers[index].deliver;
            deliver(notification);
        }
    if (!heard)
        m_unheard = notification;
}

} // namespace glowcast
