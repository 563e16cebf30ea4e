#pragma once

#include "core/lamp_systems/lamp_system.h"
#include "core/ports/alert.h"
#include "core/ports/follower_view.h"
#include "core/ports/link_button_prompt.h"
#include "core/ports/views.h"

#include <string>

namespace glowcast {

class Application;

// What differs between the windowed program and the one without a window: how the user is asked
// for the link button and alerted, what shows the lamps and covers, and the way out of a set-up
// that found no bridge.
class FrontEnd {
public:
    virtual ~FrontEnd() = default;
    [[nodiscard]] virtual LinkButtonPrompt& linkButtonPrompt() = 0;
    [[nodiscard]] virtual Alert& alert() = 0;
    // Once every long-lived object exists: makes what shows them, and returns the views the
    // controller shows on (none without a window).
    virtual ControllerViews attach(Application& application) = 0;
    // Before the application's objects end: ends whatever attach made, which refers to them.
    virtual void detach() = 0;
    // What shows the media player followed, once attached; null when nothing does.
    [[nodiscard]] virtual FollowerView* followerView() = 0;
    virtual void show() = 0;
    // A set-up ended without the lamp list: offer a way to give the bridge's address.
    virtual void offerBridgeAddress(const std::string& reason) = 0;
    // The program ends now: the window may close.
    virtual void closing() = 0;
    // A picture of the window saved at path, for the documentation; false without one.
    [[nodiscard]] virtual bool savePicture(const std::string& path) = 0;
    // A lamp (of any system) was sent this state: its swatch shows it.
    virtual void lampSent(const std::string& /*id*/, const LampState& /*state*/) {}
    // A lamp system came, went, or changed its state or pace.
    virtual void systemsChanged() {}
};

} // namespace glowcast
