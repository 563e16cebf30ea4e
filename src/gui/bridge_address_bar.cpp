#include "gui/bridge_address_bar.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>

namespace glowcast {

BridgeAddressBar::BridgeAddressBar(QWidget* parent) : QFrame(parent)
{
    setFrameShape(QFrame::StyledPanel);
    auto* layout = new QGridLayout(this);
    m_message = new QLabel(this);
    m_message->setWordWrap(true);
    layout->addWidget(m_message, 0, 0, 1, 3);
    m_address = new QLineEdit(this);
    m_address->setPlaceholderText(tr("Bridge address"));
    m_portal = new QLineEdit(this);
    m_portal->setPlaceholderText(tr("Portal (optional)"));
    m_tryAgain = new QPushButton(tr("Try again"), this);
    m_tryAgain->setDefault(true);
    layout->addWidget(m_address, 1, 0);
    layout->addWidget(m_portal, 1, 1);
    layout->addWidget(m_tryAgain, 1, 2);
    connect(m_tryAgain, &QPushButton::clicked, this, [this] { tryAgain(); });
    connect(m_address, &QLineEdit::returnPressed, this, [this] { tryAgain(); });
    hide();
}

void BridgeAddressBar::offer(const QString& reason, const QString& address, const QString& portal)
{
    m_message->setText(reason + u'\n' + tr("Type the bridge's address (and a discovery portal, if you use one)."));
    if (m_address->text().isEmpty())
        m_address->setText(address);
    if (m_portal->text().isEmpty())
        m_portal->setText(portal);
    show();
    m_address->setFocus();
}

QString BridgeAddressBar::message() const
{
    return m_message->text();
}

void BridgeAddressBar::tryAgain()
{
    if (!onTryAgain || !m_tryAgain->isEnabled())
        return;
    m_message->setText(tr("waiting…"));
    m_tryAgain->setEnabled(false);
    onTryAgain(m_address->text().trimmed().toStdString(), m_portal->text().trimmed().toStdString(),
               [bar = QPointer<BridgeAddressBar>(this)](const Outcome& outcome) {
                   if (bar.isNull())
                       return;
                   bar->m_tryAgain->setEnabled(true);
                   if (!outcome.ok()) {
                       bar->m_message->setText(QString::fromStdString(outcome.message));
                       return;
                   }
                   bar->hide();
               });
}

} // namespace glowcast
