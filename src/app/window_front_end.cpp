#include "window_front_end.h"

#include "application.h"
#include "gui/settings_dialog.h"

#include <QPixmap>

namespace glowcast {

static_assert(CoverPane::kSide == Application::kCoverSide, "covers are decoded at the size the window shows");

ControllerViews WindowFrontEnd::attach(Application& application)
{
    m_application = &application;
    m_window = std::make_unique<MainWindow>(application.controller());
    m_window->onQuitRequested = [&application] { application.requestQuit(); };
    m_window->onActivated = [&application] { application.windowActivated(); };
    m_window->onPreferencesRequested = [this] { openPreferences(); };
    m_window->bridgeAddressBar().onTryAgain = [&application](const std::string& address, const std::string& portal,
                                                             Completion done) {
        application.perform(
            [&application, address, portal] { return application.control().setBridge(address, portal); },
            std::move(done));
    };
    return m_window->views();
}

void WindowFrontEnd::detach()
{
    m_window.reset();
    m_application = nullptr;
}

void WindowFrontEnd::show()
{
    m_window->show();
}

void WindowFrontEnd::offerBridgeAddress(const std::string& reason)
{
    const Settings& settings = m_application->settings();
    m_window->bridgeAddressBar().offer(QString::fromStdString(reason),
                                       QString::fromStdString(settings.text("lastusedbridgeIP")),
                                       QString::fromStdString(settings.text("portal")));
}

bool WindowFrontEnd::savePicture(const std::string& path)
{
    return m_window->grab().save(QString::fromStdString(path));
}

void WindowFrontEnd::openPreferences()
{
    Application& application = *m_application;
    SettingsDialog dialog(
        application.settings(),
        [&application](std::string_view key, const SettingValue& value, Completion done) {
            application.perform(
                [&application, key = std::string{key}, value] { return application.control().setSetting(key, value); },
                std::move(done));
        },
        m_window.get());
    dialog.exec();
}

} // namespace glowcast
