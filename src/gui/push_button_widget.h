#pragma once

#include "core/ports/alert.h"
#include "core/ports/push_button_window.h"

#include <QProgressBar>
#include <QWidget>

namespace glowcast {

// Asks the user to press the link button on the bridge, with a busy bar that keeps moving while
// the pairing waits (the waits spin a local event loop, so the bar is animated throughout).
class PushButtonWidget final : public QWidget, public PushButtonWindow {
    Q_OBJECT
public:
    explicit PushButtonWidget(QWidget* parent = nullptr);

    void show() override;
    void bringToFront() override;
    void hide() override;

    [[nodiscard]] const QProgressBar& busyBar() const { return *m_busy; }

private:
    QProgressBar* m_busy = nullptr;
};

// The one modal alert: a message box with the title, the text and a single button.
class MessageBoxAlert final : public Alert {
public:
    void runModal(const AlertText& text) override;
};

} // namespace glowcast
