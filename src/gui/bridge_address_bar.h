#pragma once

#include "core/text/outcome.h"

#include <QFrame>

#include <functional>
#include <string>

class QLabel;
class QLineEdit;
class QPushButton;

namespace glowcast {

// The way out of a set-up that found no bridge: a bar above the lamp table with a field for the
// bridge's address, one for an optional portal, and a button that hands both to onTryAgain. The bar
// says it waits until onTryAgain tells the outcome: a refusal shows in the bar, an accepted address
// hides it until the next offer.
class BridgeAddressBar final : public QFrame {
    Q_OBJECT
public:
    explicit BridgeAddressBar(QWidget* parent = nullptr);

    // Shows the bar with the reason, the fields filled with what is known.
    void offer(const QString& reason, const QString& address, const QString& portal);

    std::function<void(const std::string& address, const std::string& portal, Completion done)> onTryAgain;

    [[nodiscard]] QLineEdit& addressField() { return *m_address; }
    [[nodiscard]] QLineEdit& portalField() { return *m_portal; }
    [[nodiscard]] QPushButton& tryAgainButton() { return *m_tryAgain; }
    [[nodiscard]] QString message() const;

private:
    void tryAgain();

    QLabel* m_message = nullptr;
    QLineEdit* m_address = nullptr;
    QLineEdit* m_portal = nullptr;
    QPushButton* m_tryAgain = nullptr;
};

} // namespace glowcast
