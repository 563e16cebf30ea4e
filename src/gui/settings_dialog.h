#pragma once

#include "core/outcome.h"
#include "core/settings.h"

#include <QDialog>

#include <functional>
#include <string_view>
#include <vector>

class QCheckBox;
class QLabel;
class QLineEdit;

namespace glowcast {

// Edit ▸ Preferences: one field per settings key, filled with its current value. OK checks every
// field first; a bad one shows its reason under the fields and the dialog stays open with nothing
// changed. Otherwise each changed value goes to apply, and the dialog closes.
class SettingsDialog final : public QDialog {
    Q_OBJECT
public:
    using Apply = std::function<Outcome(std::string_view key, const SettingValue& value)>;

    SettingsDialog(const Settings& settings, Apply apply, QWidget* parent = nullptr);

    void accept() override;

    // The field of a key: a QLineEdit for texts, lists and whole numbers, a QCheckBox for flags; null
    // for others.
    [[nodiscard]] QWidget* field(std::string_view key) const;
    [[nodiscard]] QString error() const;

private:
    struct Field {
        const SettingRow* row = nullptr;
        QLineEdit* text = nullptr;
        QCheckBox* flag = nullptr;
        SettingValue shown;
    };

    Apply m_apply;
    std::vector<Field> m_fields;
    QLabel* m_error = nullptr;
};

} // namespace glowcast
