#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace glowcast {

// A notification posted by another program: its name, the object text it was posted with, and
// the byte-array members of its user information (other members are not carried).
struct Notification {
    std::string name;
    std::string object;
    std::map<std::string, std::vector<std::uint8_t>> userInfo;
    friend bool operator==(const Notification&, const Notification&) = default;
};

// The desktop-wide notification centre. An observer is called once per notification posted with
// exactly its name and object, as it arrives; a cover feed over it (see cover_feed.h) brings the
// covers into the one operation queue. Registrations are never removed and not merged: registering
// twice delivers twice.
class NotificationCentre {
public:
    virtual ~NotificationCentre() = default;
    virtual void addObserver(std::string name, std::string object,
                             std::function<void(const Notification&)> handler) = 0;
};

} // namespace glowcast
