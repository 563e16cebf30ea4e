#include "core/control/operation_queue.h"

#include <utility>

namespace glowcast {

void OperationQueue::run(std::function<void()> operation)
{
    if (m_closed)
        return;
    m_waiting.push_back(std::move(operation));
    if (m_running)
        return;
    m_running = true;
    while (!m_waiting.empty() && !m_closed) {
        std::function<void()> next = std::move(m_waiting.front());
        m_waiting.pop_front();
        next();
    }
    m_waiting.clear();
    m_running = false;
}

void OperationQueue::close()
{
    m_closed = true;
    m_waiting.clear();
}

} // namespace glowcast
