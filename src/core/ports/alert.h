#pragma once

#include <string>

namespace glowcast {

struct AlertText {
    std::string title;
    std::string button;
    std::string informativeText;
    friend bool operator==(const AlertText&, const AlertText&) = default;
};

// A modal alert with one button. Blocks until the user dismisses it.
class Alert {
public:
    virtual ~Alert() = default;
    virtual void runModal(const AlertText& text) = 0;
};

} // namespace glowcast
