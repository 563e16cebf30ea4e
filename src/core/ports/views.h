#pragma once

#include <cstddef>
#include <functional>
#include <span>

namespace glowcast {

class CoverImage;
struct Colour;

// What shows the lamp collection row for row (the window's lamp table). A change of rows comes with
// the change itself: the view runs it between telling its own users before and after. None of the
// calls blocks.
class LampListView {
public:
    virtual ~LampListView() = default;
    // Every row may change: a set-up read the lamp list again.
    virtual void refill(const std::function<void()>& change) = 0;
    // count rows appear at first, or go from it.
    virtual void insertLamps(std::size_t first, std::size_t count, const std::function<void()>& change) = 0;
    virtual void removeLamps(std::size_t first, std::size_t count, const std::function<void()>& change) = 0;
    // The lamp of the row was switched on or off; nothing else of it changed.
    virtual void lampSwitched(std::size_t row) = 0;
};

// Shows the cover being handled and its colours, most dominant first (empty for none). A null cover
// clears the picture. The display copies what it needs before returning and shows as many colours as
// it has room for. Never blocks.
class CoverDisplay {
public:
    virtual ~CoverDisplay() = default;
    virtual void showCover(const CoverImage* cover, std::span<const Colour> colours) = 0;
};

// What the controller shows on: the lamp table and the cover with its colours. Either may be missing.
struct ControllerViews {
    LampListView* lamps = nullptr;
    CoverDisplay* cover = nullptr;
};

} // namespace glowcast
