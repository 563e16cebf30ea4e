#pragma once

namespace glowcast {

class CoverImage;
struct Colour;

// The lamp table: asks its data source again for every row.
class LampTableView {
public:
    virtual ~LampTableView() = default;
    virtual void reloadData() = 0;
};

// A read-only colour swatch.
class ColourWell {
public:
    virtual ~ColourWell() = default;
    virtual void setColour(const Colour& colour) = 0;
};

// Shows the current cover; null clears it. The view copies what it needs before returning.
class ImageView {
public:
    virtual ~ImageView() = default;
    virtual void setImage(const CoverImage* image) = 0;
};

} // namespace glowcast
