#pragma once

#include "core/bridge_bridge.h"
#include "core/glowcast_controller.h"
#include "core/lamp_care/bridge_lamp_bridge.h"
#include "support/fake_cover.h"
#include "support/fake_http_transport.h"
#include "support/fake_lamp_bridge.h"
#include "support/fake_platform.h"
#include "support/fake_preferences.h"
#include "support/recording_log.h"

#include <optional>

namespace glowcast {

// A controller, its lamp care and its bridge client wired to fakes of every port, as the composition
// root wires the real ones. The bridge client has no portal: it goes straight to "lastusedbridgeIP".
struct ControllerRig {
    FakeHttpTransport http;
    FakePreferences prefs;
    ManualSleeper sleeper;
    RecordingLog log;
    FakePushButtonWindow pushButtonWindow;
    FakeAlert alert;
    BridgeBridge bridge{http, prefs, sleeper, log, pushButtonWindow, alert, std::nullopt};
    FakeNotificationCentre centre;
    ManualScheduler scheduler;
    FakeCoverDecoder decoder;
    SleptTime clock; // lamp care's time: it passes only as lamp care sleeps
    BridgeLampBridge lampBridge{bridge};
    LampCare lampCare{lampBridge, clock, clock.sleeper, log};
    GlowcastController controller{bridge, lampCare, prefs, centre, scheduler, decoder, clock, log};
};

} // namespace glowcast
