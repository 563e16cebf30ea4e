#pragma once

#include <string>

namespace glowcast {

struct AlertText {
    std::string title;
    std::string button;
    std::string informativeText;
    friend bool operator==(const AlertText&, const AlertText&) = default;
};

// A message for the user with one button. It may block until the user dismisses it (a message box),
// or return at once with the message still showing (a desktop notification, a line on a terminal):
// the caller goes on the same way after either.
class Alert {
public:
    virtual ~Alert() = default;
    virtual void show(const AlertText& text) = 0;
};

} // namespace glowcast
