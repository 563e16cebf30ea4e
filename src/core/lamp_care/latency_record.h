#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <optional>

namespace glowcast {

struct LatencyFigures {
    std::chrono::milliseconds median{0};
    std::chrono::milliseconds p95{0};
    std::size_t samples = 0;
    friend bool operator==(const LatencyFigures&, const LatencyFigures&) = default;
};

// How long a system takes to answer a lamp state, over its last 50 answers. Both figures are nearest-rank
// percentiles of those samples: the p-th is the smallest sample that at least p % of them do not exceed
// (the ceil(p/100 * n)-th smallest), so each is a time that was measured, and the median of an even
// count is the lower of the two middle ones.
class LatencyRecord {
public:
    static constexpr std::size_t kKept = 50;

    void add(std::chrono::milliseconds taken);
    // Nothing before the first sample.
    [[nodiscard]] std::optional<LatencyFigures> figures() const;

private:
    std::array<std::chrono::milliseconds, kKept> m_samples{};
    std::size_t m_next = 0;
    std::size_t m_count = 0;
};

} // namespace glowcast
