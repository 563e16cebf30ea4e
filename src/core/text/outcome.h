#pragma once

#include <functional>
#include <string>

namespace glowcast {

// Why an operation failed: a request from the user (a control call, a settings change, a typed
// address) refused, or a message that did not go out.
enum class Failure {
    None,
    UnknownLamp,    // no lamp with that id in the collection
    NoLampList,     // the bridge's lamp list has not been read yet
    UnknownSetting, // no such settings key
    WrongKind,      // a value of another kind than the key holds (a text for a flag, ...)
    InvalidValue,   // the right kind, but not a value the key accepts
    NotSent,        // a message did not leave: no bus, too large for it, or not confirmed
    NotSaved,       // the preferences file could not be written (a full disk, a read-only directory)
    UnknownSystem,  // no lamp system with that id
};

// The result of such an operation: nothing failed, or the failure with a sentence for the user.
struct Outcome {
    Failure failure = Failure::None;
    std::string message;

    [[nodiscard]] bool ok() const { return failure == Failure::None; }
    friend bool operator==(const Outcome&, const Outcome&) = default;
};

// Told the outcome of an operation that may have to wait for its turn.
using Completion = std::function<void(const Outcome&)>;

} // namespace glowcast
