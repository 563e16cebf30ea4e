#include "adapters/qt/qt_timers.h"

#include <utility>

namespace glowcast {

QtTimer::QtTimer()
{
    m_timer.setSingleShot(true);
    // A sender's pace is a few milliseconds apart at most; a coarse timer would stretch it by 5 %.
    m_timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_timer, &QTimer::timeout, [this] {
        // Taken out first: the action may start the timer again with its next one.
        std::function<void()> action = std::exchange(m_action, nullptr);
        if (action)
            action();
    });
}

void QtTimer::start(std::chrono::milliseconds delay, std::function<void()> action)
{
    m_action = std::move(action);
    m_timer.start(delay);
}

void QtTimer::cancel()
{
    m_timer.stop();
    m_action = nullptr;
}

} // namespace glowcast
