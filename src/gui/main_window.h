#pragma once

#include "core/ports/follower_view.h"
#include "core/ports/views.h"
#include "gui/bridge_address_bar.h"
#include "gui/lamp_table_model.h"

#include <QFrame>
#include <QLabel>
#include <QMainWindow>
#include <QTableView>

#include <array>
#include <functional>
#include <span>

namespace glowcast {

class GlowcastController;

// A read-only colour swatch.
class ColourSwatch final : public QFrame {
    Q_OBJECT
public:
    explicit ColourSwatch(QWidget* parent = nullptr);
    void setColour(const QColor& colour);
    [[nodiscard]] QColor colour() const { return m_colour; }

private:
    QColor m_colour;
};

// The current cover, drawn into the whole square, and a row of five swatches under it: the cover's
// first colours, white where it has fewer.
class CoverPane final : public QWidget, public CoverDisplay {
    Q_OBJECT
public:
    static constexpr int kSide = 240; // the cover's width and height on screen

    explicit CoverPane(QWidget* parent = nullptr);
    void showCover(const CoverImage* cover, std::span<const Colour> colours) override;

    [[nodiscard]] QLabel& picture() { return *m_picture; }
    [[nodiscard]] ColourSwatch& swatch(std::size_t k) { return *m_swatches.at(k); }

private:
    QLabel* m_picture = nullptr;
    std::array<ColourSwatch*, 5> m_swatches{};
};

// One line on the media player followed and its track; the bus name and the art URL in its tool tip.
class FollowedPlayerLine final : public QLabel, public FollowerView {
    Q_OBJECT
public:
    explicit FollowedPlayerLine(QWidget* parent = nullptr);
    void showFollowed(const FollowerStatus& status) override;
};

// The main window: the lamp table, the cover and five swatches. Activation and every request to
// close are handed to whoever the composition root names.
class MainWindow final : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(GlowcastController& controller, QWidget* parent = nullptr);

    // What the controller shows on.
    [[nodiscard]] ControllerViews views() { return {&m_model, m_cover}; }

    // Called each time the window becomes the active window.
    std::function<void()> onActivated;
    // Called for a close from the window manager and for the Quit menu item; the window stays open
    // until allowClose().
    std::function<void()> onQuitRequested;
    void allowClose() { m_closeAllowed = true; }
    // Called for Edit > Preferences.
    std::function<void()> onPreferencesRequested;
    // Called for Edit > Lamp systems.
    std::function<void()> onLampSystemsRequested;
    // Called for Edit > Pin the colours, with the check it now shows; the menu shows the controller's
    // pin each time it opens.
    std::function<void(bool pinned)> onPinRequested;

    // The bar that asks for the bridge's address after a set-up that found none.
    [[nodiscard]] BridgeAddressBar& bridgeAddressBar() { return *m_bridgeBar; }

    [[nodiscard]] LampTableModel& lampModel() { return m_model; }
    [[nodiscard]] QTableView& lampTable() { return *m_table; }
    [[nodiscard]] CoverPane& coverPane() { return *m_cover; }
    [[nodiscard]] FollowedPlayerLine& followedPlayer() { return *m_followed; }
    [[nodiscard]] QAction& pinAction() { return *m_pin; }

protected:
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void requestQuit();

    const GlowcastController& m_controller;
    LampTableModel m_model;
    QTableView* m_table = nullptr;
    CoverPane* m_cover = nullptr;
    FollowedPlayerLine* m_followed = nullptr;
    BridgeAddressBar* m_bridgeBar = nullptr;
    QAction* m_pin = nullptr;
    bool m_closeAllowed = false;
};

} // namespace glowcast
