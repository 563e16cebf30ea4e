#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace glowcast {

enum class FileReadFailure {
    None,
    Missing,    // the name, or a folder on its way, is not there
    NotRegular, // a directory, a FIFO, a device, a socket
    TooLarge,   // more bytes than the caller allows, before or while reading
    Unreadable, // refused by the system (a permission, a name too long, an input error)
};

// A whole file's bytes, or why there are none.
struct FileRead {
    FileReadFailure failure = FileReadFailure::None;
    std::vector<std::uint8_t> bytes;
    std::string reason;    // for people: "there is no such file", "it is a FIFO, not a regular file", ...
    struct stat status {}; // of the file read, when it was read

    [[nodiscard]] bool ok() const { return failure == FileReadFailure::None; }
};

// An open file descriptor, closed when its holder goes; -1 when there is none.
class FileDescriptor {
public:
    FileDescriptor() = default;
    explicit FileDescriptor(int descriptor) : m_descriptor(descriptor) {}
    FileDescriptor(FileDescriptor&& other) noexcept : m_descriptor(std::exchange(other.m_descriptor, -1)) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept
    {
        std::swap(m_descriptor, other.m_descriptor);
        return *this;
    }
    ~FileDescriptor();
    [[nodiscard]] int get() const { return m_descriptor; }

private:
    int m_descriptor = -1;
};

// A regular file opened for reading, or why it is not.
struct OpenedFile {
    FileReadFailure failure = FileReadFailure::None;
    FileDescriptor descriptor;
    std::string reason;    // as FileRead's
    struct stat status {}; // of the file opened

    [[nodiscard]] bool ok() const { return failure == FileReadFailure::None; }
};

// Opens a regular file for reading without ever waiting, as readRegularFile does before it reads:
// the same checks and refusals, a file of more than maximumBytes included.
[[nodiscard]] OpenedFile openRegularFile(const std::filesystem::path& path, std::size_t maximumBytes);

// Reads a regular file whole without ever waiting. The name's status is looked at before opening
// (opening a device may already do something), and the opened file's again, since the name may have
// been swapped for a FIFO meanwhile; the open itself does not wait for a FIFO's writer. A file of more
// than maximumBytes is refused unread, as is one that grows past it while it is read.
[[nodiscard]] FileRead readRegularFile(const std::filesystem::path& path, std::size_t maximumBytes);

// Writes the file atomically in a folder that is there: the bytes go to "<file>.new", mode 0600 from its
// first byte and never through a link left at that name, are flushed to disk and renamed over the file.
// Nothing when it was written, else why not (the file as it was).
[[nodiscard]] std::optional<std::string> writeFileAtomically(const std::filesystem::path& file, std::string_view bytes);

} // namespace glowcast
