#pragma once

#include "core/ports/alert.h"
#include "core/ports/link_button_prompt.h"

#include <QProgressBar>
#include <QWidget>

namespace glowcast {

// Asks the user to press the link button on the bridge, its address in the title, with a busy bar that
// keeps moving while the pairing waits (the waits spin a local event loop, so the bar is animated
// throughout).
class PushButtonWidget final : public QWidget, public LinkButtonPrompt {
    Q_OBJECT
public:
    explicit PushButtonWidget(QWidget* parent = nullptr);

    void begin(const std::string& bridge) override;
    void attempt() override;
    void end() override;

    [[nodiscard]] const QProgressBar& busyBar() const { return *m_busy; }

private:
    QProgressBar* m_busy = nullptr;
};

// The window's alert: a message box with the title, the text and a single button, which blocks until
// the user dismisses it.
class MessageBoxAlert final : public Alert {
public:
    void show(const AlertText& text) override;
};

} // namespace glowcast
