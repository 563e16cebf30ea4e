#pragma once

#include "app/front_end.h"
#include "gui/lamp_systems_dialog.h"
#include "gui/main_window.h"
#include "gui/push_button_widget.h"

#include <memory>

namespace glowcast {

// The windowed program: the main window with its lamp table, cover and swatches, the push-button
// window, message boxes, the preferences dialog and the bar that asks for the bridge's address.
class WindowFrontEnd final : public FrontEnd {
public:
    LinkButtonPrompt& linkButtonPrompt() override { return m_pushButton; }
    Alert& alert() override { return m_alert; }
    ControllerViews attach(Application& application) override;
    void detach() override;
    FollowerView* followerView() override { return &m_window->followedPlayer(); }
    void show() override;
    void offerBridgeAddress(const std::string& reason) override;
    void closing() override { m_window->allowClose(); }
    bool savePicture(const std::string& path) override;
    void lampSent(const std::string& id, const LampState& state) override;
    void systemsChanged() override;

private:
    void openPreferences();
    void openLampSystems();

    PushButtonWidget m_pushButton;
    MessageBoxAlert m_alert;
    std::unique_ptr<MainWindow> m_window;
    Application* m_application = nullptr;
    LampSystemsDialog* m_systemsDialog = nullptr; // while it is open
};

} // namespace glowcast
