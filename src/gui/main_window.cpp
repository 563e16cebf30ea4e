#include "gui/main_window.h"

#include "core/colour/colour.h"
#include "core/control/glowcast_controller.h"
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

ColourSwatch::ColourSwatch(QWidget* parent) : QFrame(parent)
{
    setFrameShape(QFrame::Box);
    setFixedSize(kSwatchSide, kSwatchSide);
    setAutoFillBackground(true);
    setColour(Qt::white);
}

void ColourSwatch::setColour(const QColor& colour)
{
    m_colour = colour;
    QPalette swatch = palette();
    swatch.setColor(QPalette::Window, m_colour);
    setPalette(swatch);
    setToolTip(m_colour.name());
}

CoverPane::CoverPane(QWidget* parent) : QWidget(parent)
{
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    m_picture = new QLabel(this);
    m_picture->setFixedSize(kSide, kSide);
    m_picture->setAlignment(Qt::AlignCenter);
    m_picture->setFrameShape(QFrame::StyledPanel);
    column->addWidget(m_picture);
    auto* swatchRow = new QHBoxLayout();
    for (auto& swatch : m_swatches) {
        swatch = new ColourSwatch(this);
        swatchRow->addWidget(swatch);
    }
    column->addLayout(swatchRow);
    column->addStretch(1);
}

void CoverPane::showCover(const CoverImage* cover, std::span<const Colour> colours)
{
    for (std::size_t k = 0; k < m_swatches.size(); ++k) {
        const Colour colour = k < colours.size() ? colours[k] : whiteColour();
        m_swatches[k]->setColour(QColor::fromRgbF(static_cast<float>(colour.red), static_cast<float>(colour.green),
                                                  static_cast<float>(colour.blue), static_cast<float>(colour.alpha)));
    }
    // The canvas is filled whole, so a cover that is not square shows stretched, as on the lamps.
    const PixelCanvas canvas = cover != nullptr ? cover->drawInto(kSide, kSide) : PixelCanvas{};
    if (canvas.width <= 0 || canvas.height <= 0 ||
        canvas.rgba.size() != static_cast<std::size_t>(canvas.width) * static_cast<std::size_t>(canvas.height) * 4) {
        m_picture->clear();
        return;
    }
    const QImage shown(canvas.rgba.data(), canvas.width, canvas.height, static_cast<qsizetype>(canvas.width) * 4,
                       QImage::Format_RGBA8888);
    m_picture->setPixmap(QPixmap::fromImage(shown.copy())); // the canvas goes when this returns
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

MainWindow::MainWindow(GlowcastController& controller, QWidget* parent)
    : QMainWindow(parent), m_controller(controller), m_model(controller.lamps())
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
    QHeaderView* header = m_table->horizontalHeader();
    header->setSectionResizeMode(LampTableModel::EnabledColumn, QHeaderView::ResizeToContents);
    header->setSectionResizeMode(LampTableModel::NameColumn, QHeaderView::Stretch);
    header->setSectionResizeMode(LampTableModel::SystemColumn, QHeaderView::ResizeToContents);
    header->setSectionResizeMode(LampTableModel::SentColumn, QHeaderView::Fixed);
    header->resizeSection(LampTableModel::SentColumn, 44);
    m_table->setSelectionMode(QAbstractItemView::NoSelection);
    m_table->setMinimumWidth(320);
    columns->addWidget(m_table, 1);

    m_cover = new CoverPane(central);
    columns->addWidget(m_cover);
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
    QAction* systems = editMenu->addAction(tr("Lamp &systems…"));
    connect(systems, &QAction::triggered, this, [this] {
        if (onLampSystemsRequested)
            onLampSystemsRequested();
    });
    editMenu->addSeparator();
    // The pin may change from the bus or glowcastctl meanwhile.
    m_pin = editMenu->addAction(tr("Pin the &colours"));
    m_pin->setCheckable(true);
    m_pin->setToolTip(tr("Covers change nothing on the lamps until unpinned"));
    connect(editMenu, &QMenu::aboutToShow, this, [this] { m_pin->setChecked(m_controller.pinned()); });
    connect(m_pin, &QAction::triggered, this, [this](bool pinned) {
        if (onPinRequested)
            onPinRequested(pinned);
    });
}

void MainWindow::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow() && onActivated)
        onActivated();
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
