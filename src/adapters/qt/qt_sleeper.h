#pragma once

#include "core/ports/sleeper.h"

class QEventLoop;

namespace glowcast {

// Waits in a local event loop that leaves user input queued, so windows keep painting and the
// pairing indicator keeps spinning. Needs a QCoreApplication; main thread only.
class QtSleeper final : public Sleeper {
public:
    void sleep(std::chrono::milliseconds duration) override;
    // The program is quitting: the sleep under way ends now, and every later one at once.
    void cutShort();

private:
    QEventLoop* m_loop = nullptr;
    bool m_cutShort = false;
};

} // namespace glowcast
