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
    m_centre.addObserver(std::move(name), std::move(object),
                         [this, handler = std::move(handler)](const Notification& notification) {
                             m_queue.run([handler, notification] { handler(notification); });
                         });
}

} // namespace glowcast
