#include "core/lamp_care/sent_lamps.h"

namespace glowcast {

std::string passOverLine(PassOver why, std::string_view lampId, std::string_view shown)
{
    const std::string lamp = "lamp " + std::string{lampId};
    switch (why) {
    case PassOver::StillFadingToIt:
        return lamp + " is still fading to " + std::string{shown} + ", not sent again";
    case PassOver::StillFadingSameCover:
        return lamp + " is still fading and the cover is the same, " + std::string{shown} + " not sent";
    case PassOver::AlreadyShows:
        return lamp + " already shows " + std::string{shown} + ", not sent again";
    case PassOver::No:
        break;
    }
    return {};
}

} // namespace glowcast
