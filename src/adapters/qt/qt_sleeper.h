#pragma once

#include "core/ports/sleeper.h"

namespace glowcast {

// Waits in a local event loop that leaves user input queued, so windows keep painting and the
// pairing indicator keeps spinning. Needs a QCoreApplication; main thread only.
class QtSleeper final : public Sleeper {
public:
    void sleep(std::chrono::milliseconds duration) override;
};

} // namespace glowcast
