#include "core/control/fair_queue.h"

#include <utility>

namespace glowcast {

void FairQueue::push(const std::string& caller, std::function<void()> work)
{
    std::deque<std::function<void()>>& waiting = m_waiting[caller];
    if (waiting.empty())
        m_turns.push_back(caller);
    waiting.push_back(std::move(work));
}

bool FairQueue::runNext()
{
    if (m_turns.empty())
        return false;
    std::string caller = std::move(m_turns.front());
    m_turns.pop_front();
    const auto waiting = m_waiting.find(caller);
    std::function<void()> work = std::move(waiting->second.front());
    waiting->second.pop_front();
    if (waiting->second.empty())
        m_waiting.erase(waiting);
    else
        m_turns.push_back(std::move(caller));
    work();
    return true;
}

std::size_t FairQueue::waiting(const std::string& caller) const
{
    const auto found = m_waiting.find(caller);
    return found == m_waiting.end() ? 0 : found->second.size();
}

} // namespace glowcast
