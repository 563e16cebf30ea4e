#pragma once

#include "core/ports/alert.h"
#include "core/ports/push_button_window.h"

#include <cstdio>

namespace glowcast {

// The push-button window of a command-line program: a line asking for the link button when it is
// shown, a dot for every pairing attempt, and an end of line when it is hidden.
class ConsolePushButtonWindow final : public PushButtonWindow {
public:
    explicit ConsolePushButtonWindow(std::FILE* out = stderr) : m_out(out) {}
    void show() override;
    void bringToFront() override;
    void hide() override;

private:
    std::FILE* m_out;
    bool m_visible = false;
};

// The modal alert of a command-line program: its title and text on the terminal. There is no one
// to dismiss it, so it returns at once.
class ConsoleAlert final : public Alert {
public:
    explicit ConsoleAlert(std::FILE* out = stderr) : m_out(out) {}
    void runModal(const AlertText& text) override;

private:
    std::FILE* m_out;
};

} // namespace glowcast
