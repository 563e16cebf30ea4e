#include "queued_ports.h"

#include <QTimer>

#include <malloc.h>

#include <utility>

namespace glowcast {

namespace {

constexpr std::size_t kLargeNotificationBytes = std::size_t{1} << 20;

} // namespace

void QtScheduler::schedule(std::chrono::milliseconds delay, std::function<void()> action)
{
    QTimer::singleShot(delay, &m_context, [this, action = std::move(action)] { m_queue.run(action); });
}

void QueuedNotificationCentre::addObserver(std::string name, std::string object,
                                           std::function<void(const Notification&)> handler)
{
    Observer& observer = m_observers.emplace_back(Observer{name, object, std::move(handler), std::nullopt, false});
    m_centre.addObserver(std::move(name), std::move(object),
                         [this, &observer](const Notification& notification) { hold(observer, notification); });
    if (m_unheard && m_unheard->name == observer.name && m_unheard->object == observer.object) {
        const Notification waiting = std::move(*m_unheard);
        m_unheard.reset();
        hold(observer, waiting);
    }
}

void QueuedNotificationCentre::postLocally(const Notification& notification)
{
    bool heard = false;
    for (Observer& observer : m_observers)
        if (observer.name == notification.name && observer.object == notification.object) {
            heard = true;
            hold(observer, notification);
        }
    if (!heard)
        m_unheard = notification;
}

void QueuedNotificationCentre::hold(Observer& observer, const Notification& notification)
{
    if (observer.waiting)
        m_log.write("notifications: a newer \"" + notification.name + "\" from \"" + notification.object +
                    "\" arrived before the waiting one was handled; the waiting one is dropped");
    observer.waiting = notification;
    if (observer.handedOver)
        return;
    observer.handedOver = true;
    QTimer::singleShot(0, &m_context, [this, &observer] { m_queue.run([this, &observer] { deliver(observer); }); });
}

void QueuedNotificationCentre::deliver(Observer& observer)
{
    observer.handedOver = false;
    if (!observer.waiting)
        return;
    std::size_t bytes = 0;
    {
        const Notification notification = std::move(*observer.waiting);
        observer.waiting.reset();
        for (const auto& [key, value] : notification.userInfo)
            bytes += value.size();
        observer.handler(notification);
    }
    // The allocator keeps what a large cover and its copies on the way (the bus's message, the
    // decoder's buffers) freed, for the next one; the program may idle for hours with it. Give it back.
    if (bytes >= kLargeNotificationBytes)
        ::malloc_trim(0);
}

} // namespace glowcast
