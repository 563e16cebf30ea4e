#pragma once

#include "core/ports/alert.h"
#include "core/ports/link_button_prompt.h"

#include <cstdio>

namespace glowcast {

// The link-button prompt of a command-line program: a line asking for the link button when pairing
// begins, a dot for every attempt, and an end of line when it ends.
class ConsoleLinkButtonPrompt final : public LinkButtonPrompt {
public:
    explicit ConsoleLinkButtonPrompt(std::FILE* out = stderr) : m_out(out) {}
    void begin(const std::string& bridge) override;
    void attempt() override;
    void end() override;

private:
    std::FILE* m_out;
    bool m_visible = false;
};

// The modal alert of a command-line program: its title and text on the terminal. There is no one
// to dismiss it, so it returns at once.
class ConsoleAlert final : public Alert {
public:
    explicit ConsoleAlert(std::FILE* out = stderr) : m_out(out) {}
    void show(const AlertText& text) override;

private:
    std::FILE* m_out;
};

} // namespace glowcast
