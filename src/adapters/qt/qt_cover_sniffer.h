#pragma once

#include "core/ports/cover_image.h"
#include "core/ports/scheduler.h"

#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>

namespace glowcast {

// Tells the kind of an image from its first bytes with Qt's image readers.
class QtCoverSniffer final : public CoverSniffer {
public:
    [[nodiscard]] std::optional<std::string> imageFormat(std::span<const std::uint8_t> bytes) override;
};

// A delayed call straight on the event loop, for work that does not start an operation of its own.
class QtTimerScheduler final : public Scheduler {
public:
    void schedule(std::chrono::milliseconds delay, std::function<void()> action) override
    {
        QTimer::singleShot(delay, &m_context, std::move(action));
    }

private:
    QObject m_context; // timers still pending when the scheduler goes are dropped with it
};

} // namespace glowcast
