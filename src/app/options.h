#pragma once

#include <optional>
#include <string>

namespace glowcast {

// glowcast's command line.
struct CommandLine {
    bool headless = false;                    // --headless: no window, no display
    std::optional<std::string> windowPicture; // --window-picture FILE (development aid)
};

// Reads glowcast's command line into line. Nothing when the program goes on; otherwise the exit
// status to end with at once: 0 after --help or --version, 2 after a one-line complaint about a
// command line glowcast does not take. Needs no application object, so it runs before any display
// or bus is opened; the toolkit's own options (-platform, -session, ...) are let through.
[[nodiscard]] std::optional<int> parseCommandLine(int argc, char** argv, CommandLine& line);

} // namespace glowcast
