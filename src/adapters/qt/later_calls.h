#pragma once

#include <QObject>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <utility>

namespace glowcast {

// Calls run from the event loop once the current one has returned, so that an answer never comes
// from inside the call that asked for it. The context's end drops those still waiting, and so does
// dropWaiting() (a stop or a new start makes them stale). Declare it after its context.
class LaterCalls {
public:
    explicit LaterCalls(QObject& context) : m_context(context) {}

    void post(std::function<void()> action)
    {
        QTimer::singleShot(0, &m_context, [this, generation = m_generation, action = std::move(action)] {
            if (generation == m_generation)
                action();
        });
    }
    void dropWaiting() { ++m_generation; }

private:
    QObject& m_context;
    std::uint64_t m_generation = 0;
};

} // namespace glowcast
