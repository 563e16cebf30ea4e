#include "app/window_front_end.h"

#include "adapters/files/system_secrets.h"
#include "app/application.h"
#include "core/lamp_systems/system_address.h"
#include "gui/lamp_swatch.h"
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
    m_window->onPinRequested = [&application](bool pinned) {
        // A pin that cannot be stored changes nothing; the preferences have logged why.
        application.perform([&application, pinned] { return application.control().setPinned(pinned); },
                            [](const Outcome&) {});
    };
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
        m_window.get(), QString::fromStdString(application.control().status().soundCapture));
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
                // The password and Home Assistant's token wait in files of their own, which the system
                // is given as it is added and reads from there; they never leave them but in its wire.
                SystemSecretFiles secrets;
                for (const auto& [file, secret] : {std::pair{&addition.passwordFile, &secrets.password},
                                                   std::pair{&addition.tokenFile, &secrets.token}}) {
                    if (file->empty())
                        continue;
                    PasswordRead read = readPasswordFile(*file);
                    if (!read.password)
                        return Outcome{Failure::InvalidValue, read.error};
                    *secret = std::move(read.password);
                }
                std::string tag;
                if (secrets.password || secrets.token) {
                    StagedSecrets staged = stageSystemSecrets(configDirectory, secrets);
                    if (staged.error)
                        return Outcome{Failure::NotSaved, *staged.error};
                    tag = staged.tag;
                }
                Outcome outcome = application.control().addSystem(record, tag);
                discardStagedSecrets(configDirectory, tag);
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
