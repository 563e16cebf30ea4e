#include "gui/push_button_widget.h"

#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace glowcast {

PushButtonWidget::PushButtonWidget(QWidget* parent) : QWidget(parent, Qt::Dialog)
{
    setWindowTitle(tr("Pair with the bridge"));
    auto* layout = new QVBoxLayout(this);
    auto* instruction = new QLabel(tr("Press the link button on your lighting bridge.\n"
                                      "Glowcast is waiting for the bridge to accept it."),
                                   this);
    instruction->setWordWrap(true);
    layout->addWidget(instruction);
    m_busy = new QProgressBar(this);
    m_busy->setRange(0, 0); // busy: the bar moves without a known end
    m_busy->setTextVisible(false);
    layout->addWidget(m_busy);
    setMinimumWidth(360);
}

void PushButtonWidget::begin(const std::string& bridge)
{
    setWindowTitle(tr("Pair with the bridge at %1").arg(QString::fromStdString(bridge)));
    adjustSize();
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    m_busy->setRange(0, 0);
    QWidget::show();
    attempt();
}

void PushButtonWidget::attempt()
{
    raise();
    activateWindow();
}

void PushButtonWidget::end()
{
    hide();
}

void MessageBoxAlert::show(const AlertText& text)
{
    QMessageBox box;
    box.setIcon(QMessageBox::Warning);
    box.setWindowTitle(QString::fromStdString(text.title));
    box.setText(QString::fromStdString(text.title));
    box.setInformativeText(QString::fromStdString(text.informativeText));
    box.addButton(QString::fromStdString(text.button), QMessageBox::AcceptRole);
    box.exec();
}

} // namespace glowcast
