#include "qt_sleeper.h"

#include <QEventLoop>
#include <QTimer>

namespace glowcast {

void QtSleeper::sleep(std::chrono::milliseconds duration)
{
    if (duration <= std::chrono::milliseconds::zero())
        return;
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    timer.start(duration);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}

} // namespace glowcast
