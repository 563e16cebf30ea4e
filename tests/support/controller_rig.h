#pragma once

#include "core/bridge/bridge_bridge.h"
#include "core/bridge/bridge_lamp_bridge.h"
#include "core/bridge/lamp_care.h"
#include "core/control/glowcast_controller.h"
#include "support/fake_cover.h"
#include "support/fake_http_transport.h"
#include "support/fake_lamp_bridge.h"
#include "support/fake_platform.h"
#include "support/fake_preferences.h"
#include "support/recording_log.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace glowcast {

// A controller, its lamp care and its bridge client wired to fakes of every port, as the composition
// root wires the real ones. The bridge client has no portal: it goes straight to "lastusedbridgeIP".
struct ControllerRig {
    FakeHttpTransport http;
    FakePreferences prefs;
    ManualSleeper sleeper;
    RecordingLog log;
    FakeLinkButtonPrompt linkButtonPrompt;
    FakeAlert alert;
    BridgeBridge bridge{http, prefs, sleeper, log, linkButtonPrompt, alert, std::nullopt};
    FakeCoverFeed covers;
    ManualScheduler scheduler;
    FakeCoverDecoder decoder;
    SleptTime clock; // lamp care's time: it passes only as lamp care sleeps
    BridgeLampBridge lampBridge{bridge};
    LampCare lampCare{lampBridge, clock, clock.sleeper, log};
    GlowcastController controller{bridge, lampCare, prefs, covers, scheduler, decoder, clock, log};

    // Pairs the bridge client as "alice" with the bridge at 10.0.0.2, starts the controller and runs
    // the delayed set-up against the lights reply. False when no set-up was scheduled.
    [[nodiscard]] bool setUpPaired(std::string lightsReply)
    {
        prefs.texts["username"] = "alice";
        prefs.texts["lastusedbridgeIP"] = "10.0.0.2";
        http.replies.emplace_back(std::move(lightsReply));
        controller.start();
        return scheduler.fireNext();
    }

    // A new cover of the given patches, its file's bytes as given.
    void postCover(const std::vector<PatchCover::Patch>& patches, std::vector<std::uint8_t> bytes = {0xff, 0xd8, 0xff})
    {
        decoder.covers.push_back(std::make_unique<PatchCover>(patches));
        covers.post({std::move(bytes), "Coverdeck"});
    }
};

} // namespace glowcast
