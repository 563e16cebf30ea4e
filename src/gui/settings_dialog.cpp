#include "gui/settings_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

#include <utility>

namespace glowcast {

namespace {

QString fromView(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

SettingsDialog::SettingsDialog(const Settings& settings, Apply apply, QWidget* parent, const QString& soundCapture)
    : QDialog(parent), m_apply(std::move(apply))
{
    setWindowTitle(tr("Glowcast Preferences"));
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout();
    for (const SettingRow& row : settingRows()) {
        Field field{&row, nullptr, nullptr, nullptr, settings.value(row.key).value_or(row.defaultValue)};
        QWidget* widget = nullptr;
        if (row.kind == SettingKind::Flag) {
            field.flag = new QCheckBox(this);
            field.flag->setChecked(std::get<bool>(field.shown));
            widget = field.flag;
        } else if (row.kind == SettingKind::Choice) {
            field.choice = new QComboBox(this);
            for (const std::string_view word : row.choices)
                field.choice->addItem(fromView(word));
            field.choice->setCurrentText(QString::fromStdString(settingText(field.shown)));
            widget = field.choice;
        } else {
            field.text = new QLineEdit(QString::fromStdString(settingText(row, field.shown)), this);
            widget = field.text;
        }
        widget->setObjectName(fromView(row.key));
        widget->setToolTip(fromView(row.help));
        form->addRow(fromView(row.label), widget);
        m_fields.push_back(field);
        if (row.key == "beat" && !soundCapture.isEmpty()) {
            auto* state = new QLabel(soundCapture, this);
            state->setObjectName(QStringLiteral("soundCapture"));
            form->addRow(tr("Sound"), state);
        }
    }
    layout->addLayout(form);
    m_error = new QLabel(this);
    m_error->setWordWrap(true);
    m_error->setStyleSheet(QStringLiteral("color: #b00020"));
    m_error->hide();
    layout->addWidget(m_error);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &SettingsDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &SettingsDialog::reject);
    layout->addWidget(buttons);
    m_ok = buttons->button(QDialogButtonBox::Ok);
}

void SettingsDialog::accept()
{
    if (!m_ok->isEnabled())
        return; // the values given before still wait for their turn
    Changes changed;
    Outcome refused;
    for (const Field& field : m_fields) {
        SettingValue value = field.shown;
        if (field.flag != nullptr) {
            value = field.flag->isChecked();
        } else if (field.choice != nullptr) {
            value = field.choice->currentText().toStdString();
        } else {
            auto parsed = parseSetting(*field.row, field.text->text().toStdString());
            if (const Outcome* failure = std::get_if<Outcome>(&parsed)) {
                refused = *failure;
                break;
            }
            value = std::get<SettingValue>(std::move(parsed));
        }
        if (refused = checkSetting(*field.row, value); !refused.ok())
            break;
        if (value != field.shown)
            changed.emplace_back(field.row, std::move(value));
    }
    if (!refused.ok()) {
        showError(QString::fromStdString(refused.message));
        return;
    }
    applyFrom(std::make_shared<const Changes>(std::move(changed)), 0);
}

void SettingsDialog::applyFrom(std::shared_ptr<const Changes> changes, std::size_t next)
{
    if (next == changes->size()) {
        m_ok->setEnabled(true);
        QDialog::accept();
        return;
    }
    showError(tr("waiting…"));
    m_ok->setEnabled(false);
    const auto& [row, value] = (*changes)[next];
    m_apply(row->key, value, [dialog = QPointer<SettingsDialog>(this), changes, next](const Outcome& outcome) {
        if (dialog.isNull())
            return;
        if (!outcome.ok()) {
            dialog->m_ok->setEnabled(true);
            dialog->showError(QString::fromStdString(outcome.message));
            return;
        }
        dialog->applyFrom(changes, next + 1);
    });
}

void SettingsDialog::showError(const QString& text)
{
    m_error->setText(text);
    m_error->show();
}

QWidget* SettingsDialog::field(std::string_view key) const
{
    for (const Field& field : m_fields)
        if (field.row->key == key)
            return field.text != nullptr     ? static_cast<QWidget*>(field.text)
                   : field.choice != nullptr ? static_cast<QWidget*>(field.choice)
                                             : field.flag;
    return nullptr;
}

QString SettingsDialog::error() const
{
    return m_error->isHidden() ? QString() : m_error->text();
}

} // namespace glowcast
