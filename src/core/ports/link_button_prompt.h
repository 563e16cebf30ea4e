#pragma once

#include <string>

namespace glowcast {

// Asks the user to press the link button of the bridge being paired with, for as long as the pairing
// tries: begin names the bridge (its address), attempt comes before every pairing request, end when
// the pairing is over. The bridge client also ends it before each lamp list request, so end is
// harmless when nothing began. None of the calls blocks.
class LinkButtonPrompt {
public:
    virtual ~LinkButtonPrompt() = default;
    virtual void begin(const std::string& bridge) = 0;
    virtual void attempt() = 0;
    virtual void end() = 0;
};

} // namespace glowcast
