#include "adapters/files/regular_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace glowcast {

namespace {

// A FileRead or an OpenedFile that failed.
template <typename Result = FileRead> Result failed(FileReadFailure failure, std::string reason)
{
    return {failure, {}, std::move(reason), {}};
}

template <typename Result = FileRead> Result fromErrno(int error)
{
    if (error == ENOENT || error == ENOTDIR)
        return failed<Result>(FileReadFailure::Missing, "there is no such file");
    return failed<Result>(FileReadFailure::Unreadable, std::strerror(error));
}

// One wording for every kind that is not read.
std::string kindOf(mode_t mode)
{
    const char* kind = S_ISDIR(mode)                    ? "a directory"
                       : S_ISFIFO(mode)                 ? "a FIFO"
                       : S_ISCHR(mode) || S_ISBLK(mode) ? "a device"
                       : S_ISSOCK(mode)                 ? "a socket"
                                                        : "something else";
    return std::string("it is ") + kind + ", not a regular file";
}

std::string tooLarge(std::size_t maximumBytes)
{
    return "more than the " + std::to_string(maximumBytes) + " bytes allowed";
}

// Fresh memory comes a page at a time, and on a virtual machine each first touch of a 4 KiB page
// is dear: reading a 10 MB cover cost some 2,500 faults and more time than decoding it at 1/8 scale.
// The whole 2 MiB pages inside a large buffer are asked for as huge pages before it is first
// touched; where the system gives none, nothing changes.
void askForHugePages(void* buffer, std::size_t bytes)
{
    constexpr std::uintptr_t kHugePage = std::uintptr_t{2} << 20;
    const auto start = reinterpret_cast<std::uintptr_t>(buffer);
    const std::uintptr_t first = (start + kHugePage - 1) & ~(kHugePage - 1);
    const std::uintptr_t end = (start + bytes) & ~(kHugePage - 1);
    if (end > first)
        ::madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
}

} // namespace

FileDescriptor::~FileDescriptor()
{
    if (m_descriptor >= 0)
        ::close(m_descriptor);
}

OpenedFile openRegularFile(const std::filesystem::path& path, std::size_t maximumBytes)
{
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0)
        return fromErrno<OpenedFile>(errno);
    if (!S_ISREG(status.st_mode))
        return failed<OpenedFile>(FileReadFailure::NotRegular, kindOf(status.st_mode));
    OpenedFile opened{FileReadFailure::None,
                      FileDescriptor(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY)),
                      {},
                      {}};
    if (opened.descriptor.get() < 0 || ::fstat(opened.descriptor.get(), &opened.status) != 0)
        return fromErrno<OpenedFile>(errno);
    if (!S_ISREG(opened.status.st_mode))
        return failed<OpenedFile>(FileReadFailure::NotRegular, kindOf(opened.status.st_mode));
    const auto size = static_cast<std::size_t>(opened.status.st_size);
    if (size > maximumBytes)
        return failed<OpenedFile>(FileReadFailure::TooLarge,
                                  "it holds " + std::to_string(size) + " bytes, " + tooLarge(maximumBytes));
    return opened;
}

FileRead readRegularFile(const std::filesystem::path& path, std::size_t maximumBytes)
{
    OpenedFile opened = openRegularFile(path, maximumBytes);
    if (!opened.ok())
        return failed(opened.failure, std::move(opened.reason));
    FileRead result;
    result.status = opened.status;
    const auto size = static_cast<std::size_t>(result.status.st_size);
    // One byte more than the size it had: a file that grows meanwhile is noticed.
    result.bytes.reserve(size + 1);
    askForHugePages(result.bytes.data(), result.bytes.capacity());
    result.bytes.resize(size + 1);
    std::size_t filled = 0;
    for (;;) {
        const ssize_t got = ::read(opened.descriptor.get(), result.bytes.data() + filled, result.bytes.size() - filled);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return fromErrno(errno);
        if (got == 0)
            break;
        filled += static_cast<std::size_t>(got);
        if (filled > maximumBytes)
            return failed(FileReadFailure::TooLarge, "it grew to " + tooLarge(maximumBytes));
        if (filled == result.bytes.size())
            result.bytes.resize(std::min(maximumBytes + 1, filled * 2));
    }
    result.bytes.resize(filled);
    return result;
}

std::optional<std::string> writeFileAtomically(const std::filesystem::path& file, std::string_view bytes)
{
    const std::filesystem::path temporary = file.string() + ".new";
    ::unlink(temporary.c_str());
    // O_EXCL: never through a link someone left at the temporary name.
    const int descriptor = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (descriptor < 0)
        return "cannot write " + temporary.string() + ": " + std::strerror(errno);
    std::optional<std::string> error;
    if (::fchmod(descriptor, S_IRUSR | S_IWUSR) != 0 ||
        ::write(descriptor, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()) ||
        ::fsync(descriptor) != 0)
        error = "cannot write " + temporary.string() + ": " + std::strerror(errno);
    ::close(descriptor);
    if (!error && ::rename(temporary.c_str(), file.c_str()) != 0)
        error = "cannot store " + file.string() + ": " + std::strerror(errno);
    if (error)
        ::unlink(temporary.c_str());
    return error;
}

} // namespace glowcast
