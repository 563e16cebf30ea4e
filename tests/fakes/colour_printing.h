#pragma once

#include "core/colour.h"

#include <ostream>

namespace glowcast {

// How GoogleTest shows a colour in a failure message.
inline void PrintTo(const Colour& colour, std::ostream* os)
{
    *os << "(" << colour.red << ", " << colour.green << ", " << colour.blue << ", " << colour.alpha << ")";
}

} // namespace glowcast
