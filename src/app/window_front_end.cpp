#include "app/window_front_end.h"

#include "adapters/files/system_secrets.h"
#include "app/application.h"
#include "core/lamp_systems/shown_colour.h"
#include "core/lamp_systems/system_address.h"
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
    m_window->onLampSystemsRequested = [this] { openLampSystems(); };
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

namespace glowcast {

void WindowFrontEnd::lampSent(const std::string& id, const LampState& state)
{
    if (m_window)
        m_window->lampModel().showSent(id, shownColour(state));
}

void WindowFrontEnd::systemsChanged()
{
    if (m_systemsDialog != nullptr)
        m_systemsDialog->refresh();
}

void WindowFrontEnd::openLampSystems()
{
    Application& application = *m_application;
    LampSystemsDialog::Actions actions;
    actions.statuses = [&application] { return application.lampSystems().statuses(); };
    actions.add = [&application](const SystemAddition& addition, Completion done) {
        application.perform(
            [&application, addition] {
                const std::filesystem::path configDirectory = FilePreferences::defaultDirectory();
                SystemRecord record{{}, addition.kind, addition.address, {}, {}};
                if (!addition.user.empty())
                    record.user = addition.user;
                // The password waits in its file before the system is made, which reads it from there.
                if (!addition.passwordFile.empty()) {
                    const PasswordRead read = readPasswordFile(addition.passwordFile);
                    if (!read.password)
                        return Outcome{Failure::InvalidValue, read.error};
                    const std::vector<SystemRecord> records = application.lampSystems().records();
                    record.id = newSystemId(record.kind, records);
                    // Under the directory's lock, as glowcastctl writes it.
                    std::optional<std::string> error;
                    application.preferences().whileLocked(
                        [&] { error = storeSystemPassword(configDirectory, record.id, *read.password); });
                    if (error)
                        return Outcome{Failure::NotSaved, *error};
                }
                // Home Assistant's token likewise; it never leaves its file but in the header field.
                if (!addition.tokenFile.empty()) {
                    const PasswordRead read = readPasswordFile(addition.tokenFile);
                    if (!read.password)
                        return Outcome{Failure::InvalidValue, read.error};
                    record.id = newSystemId(record.kind, application.lampSystems().records());
                    if (const auto error = storeSystemToken(configDirectory, record.id, *read.password))
                        return Outcome{Failure::NotSaved, *error};
                }
                Outcome outcome = application.control().addSystem(record);
                if (!outcome.ok() && !(addition.passwordFile.empty() && addition.tokenFile.empty()))
                    forgetSystemPassword(configDirectory, record.id);
                return outcome;
            },
            std::move(done));
    };
    actions.remove = [&application](const std::string& id, Completion done) {
        application.perform([&application, id] { return application.control().removeSystem(id); }, std::move(done));
    };
    LampSystemsDialog dialog(std::move(actions), m_window.get());
    m_systemsDialog = &dialog;
    dialog.refresh();
    dialog.exec();
    m_systemsDialog = nullptr;
}

} // namespace glowcast
