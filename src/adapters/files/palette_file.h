#pragma once

#include "core/palette/palette_document.h"
#include "core/ports/log.h"

#include <filesystem>
#include <optional>

namespace glowcast {

// The last cover's palette for other programs, as "glowcast/palette.json" in the user's runtime
// directory (XDG_RUNTIME_DIR): its JSON and a newline, written atomically (see writeFileAtomically) in a
// folder of mode 0700. A runtime directory that is not set, not there, not a directory or not the
// user's gets no file; neither does a folder "glowcast" there that is no directory of the user's. Each
// way of failing is logged once, and again only after a write went well.
class PaletteFile final {
public:
    // Nothing: XDG_RUNTIME_DIR is not set, or empty.
    PaletteFile(Log& log, std::optional<std::filesystem::path> runtimeDirectory);

    // XDG_RUNTIME_DIR, when set and not empty.
    [[nodiscard]] static std::optional<std::filesystem::path> runtimeDirectoryFromEnvironment();

    void write(const PaletteDocument& document);

private:
    // The folder to write in, made when missing; nothing, with the reason logged once, when there is none.
    [[nodiscard]] std::optional<std::filesystem::path> folder();
    void refuse(const std::string& why);

    Log& m_log;
    std::optional<std::filesystem::path> m_runtimeDirectory;
    bool m_told = false;
};

} // namespace glowcast
