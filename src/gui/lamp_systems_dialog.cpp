#include "gui/lamp_systems_dialog.h"
#include "core/lamp_systems/system_kinds.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace glowcast {

namespace {

QString fromView(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

LampSystemsDialog::LampSystemsDialog(Actions actions, QWidget* parent) : QDialog(parent), m_actions(std::move(actions))
{
    setWindowTitle(tr("Lamp systems"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(tr("Lamps beside the first bridge's, each system with its own address:"), this));

    m_table = new QTableWidget(0, ColumnCount, this);
    m_table->setHorizontalHeaderLabels(
        {tr("System"), tr("Kind"), tr("Address"), tr("State"), tr("Lamps"), tr("Pace"), tr("Offset"), tr("Latency")});
    m_table->verticalHeader()->hide();
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_table->horizontalHeader()->setSectionResizeMode(StateColumn, QHeaderView::Stretch);
    layout->addWidget(m_table, 1);
    m_remove = new QPushButton(tr("&Remove"), this);
    m_remove->setEnabled(false);
    auto* removeRow = new QHBoxLayout();
    removeRow->addStretch(1);
    removeRow->addWidget(m_remove);
    layout->addLayout(removeRow);

    auto* form = new QFormLayout();
    m_kind = new QComboBox(this);
    for (const SystemKindRow& row : systemKinds())
        m_kind->addItem(fromView(row.label), fromView(row.name));
    form->addRow(tr("&Kind:"), m_kind);
    m_address = new QLineEdit(this);
    form->addRow(tr("&Address:"), m_address);
    m_user = new QLineEdit(this);
    form->addRow(tr("Broker &user:"), m_user);
    m_passwordFile = new QLineEdit(this);
    m_passwordFile->setPlaceholderText(tr("a file that holds the password"));
    m_browse = new QPushButton(tr("&Choose…"), this);
    auto* passwordRow = new QHBoxLayout();
    passwordRow->addWidget(m_passwordFile, 1);
    passwordRow->addWidget(m_browse);
    form->addRow(tr("&Password or token file:"), passwordRow);
    layout->addLayout(form);
    m_add = new QPushButton(tr("A&dd"), this);
    auto* addRow = new QHBoxLayout();
    addRow->addStretch(1);
    addRow->addWidget(m_add);
    layout->addLayout(addRow);

    m_message = new QLabel(this);
    m_message->setWordWrap(true);
    layout->addWidget(m_message);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    layout->addWidget(buttons);

    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_add, &QPushButton::clicked, this, [this] { addSystem(); });
    connect(m_remove, &QPushButton::clicked, this, [this] { removeSystem(); });
    connect(m_kind, &QComboBox::currentIndexChanged, this, [this] { kindChosen(); });
    connect(m_table, &QTableWidget::itemSelectionChanged, this,
            [this] { m_remove->setEnabled(!m_waiting && !m_table->selectedItems().isEmpty()); });
    connect(m_browse, &QPushButton::clicked, this, [this] {
        const QString file = QFileDialog::getOpenFileName(this, tr("The password or token file"));
        if (!file.isEmpty())
            m_passwordFile->setText(file);
    });
    auto* everySecond = new QTimer(this);
    connect(everySecond, &QTimer::timeout, this, [this] { refresh(); });
    everySecond->start(1000);
    kindChosen();
    refresh();
    resize(680, 420);
}

void LampSystemsDialog::refresh()
{
    const QString selected = m_table->selectedItems().isEmpty() ? QString() : m_table->selectedItems().front()->text();
    const std::vector<SystemStatus> statuses = m_actions.statuses ? m_actions.statuses() : std::vector<SystemStatus>{};
    m_table->setRowCount(static_cast<int>(statuses.size()));
    for (int row = 0; row < static_cast<int>(statuses.size()); ++row) {
        const SystemStatus& status = statuses[static_cast<std::size_t>(row)];
        QString state = fromView(systemStateName(status.state));
        if (!status.detail.empty())
            state += QStringLiteral(": ") + QString::fromStdString(status.detail);
        const QString cells[ColumnCount] = {
            QString::fromStdString(status.record.id),
            fromView(systemKindName(status.record.kind)),
            QString::fromStdString(status.record.address),
            state,
            QString::number(status.lampCount),
            QString::number(status.record.pace.value_or(defaultPace(status.record.kind))),
            tr("%1 ms").arg(status.record.offset.count()),
            status.latency ? tr("%1 ms").arg(status.latency->median.count()) : QStringLiteral("-")};
        for (int column = 0; column < ColumnCount; ++column)
            m_table->setItem(row, column, new QTableWidgetItem(cells[column]));
        if (cells[IdColumn] == selected)
            m_table->selectRow(row);
    }
}

QString LampSystemsDialog::message() const
{
    return m_message->text();
}

const SystemKindRow& LampSystemsDialog::chosenKind() const
{
    return systemKindRow(systemKindNamed(m_kind->currentData().toString().toStdString()).value_or(SystemKind::Bridge));
}

void LampSystemsDialog::kindChosen()
{
    const SystemKindRow& kind = chosenKind();
    const bool broker = kind.credentials == Credentials::BrokerLogin;
    const bool token = kind.credentials == Credentials::AccessToken;
    m_user->setEnabled(broker && !m_waiting);
    for (QWidget* field : {static_cast<QWidget*>(m_passwordFile), static_cast<QWidget*>(m_browse)})
        field->setEnabled((broker || token) && !m_waiting);
    m_passwordFile->setPlaceholderText(token ? tr("a file that holds the long-lived access token")
                                             : tr("a file that holds the password"));
    m_address->setPlaceholderText(fromView(kind.addressForm));
}

void LampSystemsDialog::waiting(bool wait, const QString& text)
{
    m_waiting = wait;
    m_add->setEnabled(!wait);
    m_kind->setEnabled(!wait);
    m_address->setEnabled(!wait);
    m_remove->setEnabled(!wait && !m_table->selectedItems().isEmpty());
    kindChosen();
    m_message->setText(text);
}

Completion LampSystemsDialog::answered(std::function<void()> onSuccess)
{
    // The answer may come after the dialog was closed.
    return [dialog = QPointer<LampSystemsDialog>(this), onSuccess = std::move(onSuccess)](const Outcome& outcome) {
        if (dialog.isNull())
            return;
        dialog->waiting(false, outcome.ok() ? QString() : QString::fromStdString(outcome.message));
        if (outcome.ok())
            onSuccess();
        dialog->refresh();
    };
}

void LampSystemsDialog::addSystem()
{
    const SystemKindRow& kind = chosenKind();
    SystemAddition addition;
    addition.kind = kind.kind;
    addition.address = m_address->text().trimmed().toStdString();
    if (kind.credentials == Credentials::BrokerLogin) {
        addition.user = m_user->text().trimmed().toStdString();
        addition.passwordFile = m_passwordFile->text().toStdString();
    }
    if (kind.credentials == Credentials::AccessToken) {
        addition.tokenFile = m_passwordFile->text().toStdString();
        if (addition.tokenFile.empty()) {
            m_message->setText(
                tr("%1 takes a long-lived access token: choose the file that holds it.").arg(fromView(kind.label)));
            return;
        }
    }
    if (!addition.passwordFile.empty() && addition.user.empty()) {
        m_message->setText(tr("A broker takes a password with a user: give the user too."));
        return;
    }
    waiting(true, tr("Adding…"));
    m_actions.add(addition, answered([this] {
                      m_address->clear();
                      m_user->clear();
                      m_passwordFile->clear();
                  }));
}

void LampSystemsDialog::removeSystem()
{
    const QList<QTableWidgetItem*> selected = m_table->selectedItems();
    if (selected.isEmpty())
        return;
    const std::string id = m_table->item(selected.front()->row(), IdColumn)->text().toStdString();
    waiting(true, tr("Removing…"));
    m_actions.remove(id, answered([] {}));
}

} // namespace glowcast
