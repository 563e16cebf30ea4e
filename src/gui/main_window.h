#pragma once

#include "bridge_address_bar.h"
#include "core/glowcast_controller.h"
#include "core/ports/follower_view.h"
#include "core/ports/views.h"
#include "lamp_table_model.h"

#include <QFrame>
#include <QLabel>
#include <QMainWindow>
#include <QTableView>

#include <array>
#include <functional>

namespace glowcast {

// A read-only colour swatch.
class SwatchWell final : public QFrame, public ColourWell {
    Q_OBJECT
public:
    explicit SwatchWell(QWidget* parent = nullptr);
    void setColour(const Colour& colour) override;
    [[nodiscard]] QColor colour() const { return m_colour; }

private:
    QColor m_colour;
};

// Shows the current cover, drawn into the whole view; null clears it.
class CoverView final : public QLabel, public ImageView {
    Q_OBJECT
public:
    static constexpr int kSide = 240; // the cover's width and height on screen

    explicit CoverView(QWidget* parent = nullptr);
    void setImage(const CoverImage* image) override;
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
class MainWindow final : public QMainWindow, public AppWindow {
    Q_OBJECT
public:
    explicit MainWindow(GlowcastController& controller, QWidget* parent = nullptr);

    // The outlets the controller draws on.
    [[nodiscard]] ControllerOutlets outlets();

    // Called each time the window becomes the active window.
    std::function<void()> onBecameKey;
    // Called for a close from the window manager and for the Quit menu item; the window stays open
    // until allowClose().
    std::function<void()> onQuitRequested;
    void allowClose() { m_closeAllowed = true; }
    // Called for Edit > Preferences.
    std::function<void()> onPreferencesRequested;

    // The bar that asks for the bridge's address after a set-up that found none.
    [[nodiscard]] BridgeAddressBar& bridgeAddressBar() { return *m_bridgeBar; }

    [[nodiscard]] LampTableModel& lampModel() { return m_model; }
    [[nodiscard]] QTableView& lampTable() { return *m_table; }
    [[nodiscard]] CoverView& coverView() { return *m_cover; }
    [[nodiscard]] SwatchWell& well(std::size_t k) { return *m_wells.at(k); }
    [[nodiscard]] FollowedPlayerLine& followedPlayer() { return *m_followed; }

protected:
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void requestQuit();

    LampTableModel m_model;
    QTableView* m_table = nullptr;
    CoverView* m_cover = nullptr;
    std::array<SwatchWell*, 5> m_wells{};
    FollowedPlayerLine* m_followed = nullptr;
    BridgeAddressBar* m_bridgeBar = nullptr;
    bool m_closeAllowed = false;
};

} // namespace glowcast
