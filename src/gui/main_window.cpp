#include "main_window.h"

#include "core/colour.h"
#include "core/covers/player_roster.h"

#include <QAction>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMenuBar>
#include <QPixmap>
#include <QVBoxLayout>

namespace glowcast {

namespace {

constexpr int kSwatchSide = 40;

} // namespace

SwatchWell::SwatchWell(QWidget* parent) : QFrame(parent), m_colour(Qt::white)
{
    setFrameShape(QFrame::Box);
    setFixedSize(kSwatchSide, kSwatchSide);
    setAutoFillBackground(true);
    setColour(whiteColour());
}

void SwatchWell::setColour(const Colour& colour)
{
    m_colour = QColor::fromRgbF(static_cast<float>(colour.red), static_cast<float>(colour.green),
                                static_cast<float>(colour.blue), static_cast<float>(colour.alpha));
    QPalette swatch = palette();
    swatch.setColor(QPalette::Window, m_colour);
    setPalette(swatch);
    setToolTip(m_colour.name());
}

CoverView::CoverView(QWidget* parent) : QLabel(parent)
{
    setFixedSize(kSide, kSide);
    setAlignment(Qt::AlignCenter);
    setFrameShape(QFrame::StyledPanel);
}

void CoverView::setImage(const CoverImage* image)
{
    // The canvas is filled whole, so a cover that is not square shows stretched, as on the lamps.
    const PixelCanvas canvas = image != nullptr ? image->drawInto(width(), height()) : PixelCanvas{};
    if (canvas.width <= 0 || canvas.height <= 0 ||
        canvas.rgba.size() != static_cast<std::size_t>(canvas.width) * static_cast<std::size_t>(canvas.height) * 4) {
        clear();
        return;
    }
    const QImage shown(canvas.rgba.data(), canvas.width, canvas.height, static_cast<qsizetype>(canvas.width) * 4,
                       QImage::Format_RGBA8888);
    setPixmap(QPixmap::fromImage(shown.copy())); // the canvas goes when this returns
}

FollowedPlayerLine::FollowedPlayerLine(QWidget* parent) : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
    setWordWrap(false);
    showFollowed(FollowerStatus{});
}

void FollowedPlayerLine::showFollowed(const FollowerStatus& status)
{
    const QString bus = QString::fromStdString(status.busName);
    if (!status.enabled)
        setText(tr("Not following media players (turned off in the preferences)"));
    else if (bus.isEmpty())
        setText(tr("Following no media player: none is playing"));
    else {
        QString player = QString::fromStdString(status.identity);
        if (player.isEmpty())
            player = bus.section(u'.', 3);
        const QString title = QString::fromStdString(status.title);
        setText(status.status == PlaybackStatus::Playing
                    ? tr("Following %1: %2").arg(player, title.isEmpty() ? tr("(no title)") : title)
                    : tr("Following %1 (%2): %3")
                          .arg(player, QString::fromUtf8(playbackStatusText(status.status).data()).toLower(),
                               title.isEmpty() ? tr("(no title)") : title));
    }
    setToolTip(
        bus.isEmpty()
            ? QString()
            : tr("%1\ncover: %2").arg(bus, status.artUrl.empty() ? tr("none") : QString::fromStdString(status.artUrl)));
}

MainWindow::MainWindow(GlowcastController& controller, QWidget* parent) : QMainWindow(parent), m_model(controller)
{
    setWindowTitle(tr("Glowcast"));

    auto* central = new QWidget(this);
    auto* rows = new QVBoxLayout(central);
    m_bridgeBar = new BridgeAddressBar(central);
    rows->addWidget(m_bridgeBar);
    auto* columns = new QHBoxLayout();
    rows->addLayout(columns, 1);

    m_table = new QTableView(central);
    m_table->setModel(&m_model);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setSectionResizeMode(LampTableModel::EnabledColumn, QHeaderView::ResizeToContents);
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->setSelectionMode(QAbstractItemView::NoSelection);
    m_table->setMinimumWidth(220);
    columns->addWidget(m_table, 1);

    auto* coverColumn = new QVBoxLayout();
    m_cover = new CoverView(central);
    coverColumn->addWidget(m_cover);
    auto* swatchRow = new QHBoxLayout();
    for (auto& well : m_wells) {
        well = new SwatchWell(central);
        swatchRow->addWidget(well);
    }
    coverColumn->addLayout(swatchRow);
    coverColumn->addStretch(1);
    columns->addLayout(coverColumn);
    m_followed = new FollowedPlayerLine(central);
    rows->addWidget(m_followed);
    setCentralWidget(central);

    QMenu* fileMenu = menuBar()->addMenu(tr("&File"));
    QAction* quit = fileMenu->addAction(tr("&Quit"));
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q)); // the desktop's key bindings may lack Quit
    quit->setShortcutContext(Qt::ApplicationShortcut);
    connect(quit, &QAction::triggered, this, [this] { requestQuit(); });

    QMenu* editMenu = menuBar()->addMenu(tr("&Edit"));
    QAction* preferences = editMenu->addAction(tr("&Preferences…"));
    preferences->setMenuRole(QAction::PreferencesRole);
    connect(preferences, &QAction::triggered, this, [this] {
        if (onPreferencesRequested)
            onPreferencesRequested();
    });
}

ControllerOutlets MainWindow::outlets()
{
    return ControllerOutlets{&m_model, m_cover, {m_wells[0], m_wells[1], m_wells[2], m_wells[3], m_wells[4]}};
}

void MainWindow::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow() && onBecameKey)
        onBecameKey();
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (m_closeAllowed) {
        event->accept();
        return;
    }
    event->ignore();
    requestQuit();
}

void MainWindow::requestQuit()
{
    if (onQuitRequested)
        onQuitRequested();
}

} // namespace glowcast
