#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace glowcast {

// What reading a cover gave: its bytes, or why there are none. Missing means the file is not there
// (yet): players often name a file before they have written it.
struct ArtFetchResult {
    enum class Kind { Bytes, Missing, Failed };
    Kind kind = Kind::Failed;
    std::vector<std::uint8_t> bytes;
    std::string reason; // for people, when there are no bytes
    friend bool operator==(const ArtFetchResult&, const ArtFetchResult&) = default;
};

// Reads the cover a player points at, without blocking: each call returns at once and done runs
// later on the main thread (never from inside the call), exactly once, unless cancel() comes first.
// At most one read runs at a time; starting another while one runs is the caller's mistake. Reads are
// bounded in size and time by the implementation.
class ArtFetcher {
public:
    virtual ~ArtFetcher() = default;
    // A local file: only a regular file is read, never a directory, a FIFO or a device.
    virtual void readFile(const std::string& path, std::function<void(ArtFetchResult)> done) = 0;
    // An http:// or https:// URL.
    virtual void download(const std::string& url, std::function<void(ArtFetchResult)> done) = 0;
    // Drops the running read, if any: its done is never called.
    virtual void cancel() = 0;
};

} // namespace glowcast
