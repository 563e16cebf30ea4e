#include "adapters/qt/qt_sleeper.h"

#include <QEventLoop>
#include <QTimer>

#include <utility>

namespace glowcast {

void QtSleeper::sleep(std::chrono::milliseconds duration)
{
    if (duration <= std::chrono::milliseconds::zero() || m_cutShort)
        return;
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    timer.start(duration);
    QEventLoop* const outer = std::exchange(m_loop, &loop);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    m_loop = outer;
}

void QtSleeper::cutShort()
{
    m_cutShort = true;
    if (m_loop != nullptr)
        m_loop->quit();
}

} // namespace glowcast
