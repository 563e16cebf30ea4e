#pragma once

#include <optional>
#include <string>

namespace glowcast {

// glowcast's command line.
struct CommandLine {
    bool headless = false;                    // --headless: no window, no display
    std::optional<std::string> windowPicture; // --window-picture FILE (development aid)
};

// Nothing, after a line on standard error, when the command line is not one glowcast takes.
[[nodiscard]] std::optional<CommandLine> parseCommandLine(int argc, char** argv);

} // namespace glowcast
