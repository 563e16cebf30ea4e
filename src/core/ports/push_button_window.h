#pragma once

namespace glowcast {

// The window that asks the user to press the bridge's link button, with its busy indicator.
// None of the calls blocks.
class PushButtonWindow {
public:
    virtual ~PushButtonWindow() = default;
    // Centre the window, bring it to the front and start the indicator.
    virtual void show() = 0;
    virtual void bringToFront() = 0;
    // Hide the window and with it the indicator; harmless when already hidden.
    virtual void hide() = 0;
};

} // namespace glowcast
