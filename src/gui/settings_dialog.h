#pragma once

#include "core/settings/settings.h"
#include "core/text/outcome.h"

#include <QDialog>

#include <cstddef>
#include <functional>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;

namespace glowcast {

// Edit ▸ Preferences: one field per settings key, filled with its current value. OK checks every
// field first; a bad one shows its reason under the fields and the dialog stays open with nothing
// changed. Otherwise each changed value goes to apply, one after the other's outcome, while the dialog
// says it waits; it closes once all are taken, or shows the first refusal and stays open.
class SettingsDialog final : public QDialog {
    Q_OBJECT
public:
    using Apply = std::function<void(std::string_view key, const SettingValue& value, Completion done)>;

    // soundCapture: how hearing the sound stands for the beat ("capturing"...), shown below it; none without.
    SettingsDialog(const Settings& settings, Apply apply, QWidget* parent = nullptr, const QString& soundCapture = {});

    void accept() override;

    // The field of a key: a QLineEdit for texts, lists and whole numbers, a QCheckBox for flags, a QComboBox for
    // choices; null for others.
    [[nodiscard]] QWidget* field(std::string_view key) const;
    [[nodiscard]] QString error() const;

private:
    using Changes = std::vector<std::pair<const SettingRow*, SettingValue>>;
    // Applies the changes from next on, each once the one before was taken.
    void applyFrom(std::shared_ptr<const Changes> changes, std::size_t next);
    void showError(const QString& text);

    struct Field {
        const SettingRow* row = nullptr;
        QLineEdit* text = nullptr;
        QCheckBox* flag = nullptr;
        QComboBox* choice = nullptr;
        SettingValue shown;
    };

    Apply m_apply;
    std::vector<Field> m_fields;
    QLabel* m_error = nullptr;
    QWidget* m_ok = nullptr;
};

} // namespace glowcast
