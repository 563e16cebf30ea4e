#pragma once

#include "core/colour/colour.h"
#include "core/lamps/lamp_entry.h"

#include <ostream>

namespace glowcast {

// How GoogleTest shows a colour and a lamp in a failure message.
inline void PrintTo(const Colour& colour, std::ostream* os)
{
    *os << "(" << colour.red << ", " << colour.green << ", " << colour.blue << ", " << colour.alpha << ")";
}

inline void PrintTo(const LampEntry& entry, std::ostream* out)
{
    *out << "{" << entry.id << ", " << entry.name << ", " << (entry.enabled ? "enabled" : "disabled") << "}";
}

} // namespace glowcast
