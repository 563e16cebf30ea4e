#pragma once

#include "core/colour/colour.h"
#include "core/control/lamp_collection.h"
#include "core/ports/views.h"

#include <QAbstractTableModel>
#include <QColor>

#include <map>
#include <string>

namespace glowcast {

// The lamp table over the lamp collection: a check box column, the lamp's name, its system (the first
// bridge's lamps show "bridge", every other lamp the id before the "/" of its own), and a swatch of the
// colour it was last sent. A check box set to
// another state than its lamp's switches the lamp; the collection, once the model is its view, tells
// it of every change, which it passes on as the smallest change of rows.
class LampTableModel final : public QAbstractTableModel, public LampListView {
    Q_OBJECT
public:
    enum Column { EnabledColumn = 0, NameColumn = 1, SystemColumn = 2, SentColumn = 3, ColumnCount = 4 };

    explicit LampTableModel(LampCollection& lamps, QObject* parent = nullptr);

    [[nodiscard]] int rowCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] int columnCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    [[nodiscard]] QVariant headerData(int section, Qt::Orientation orientation,
                                      int role = Qt::DisplayRole) const override;
    [[nodiscard]] Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

    void refill(const std::function<void()>& change) override;
    void insertLamps(std::size_t first, std::size_t count, const std::function<void()>& change) override;
    void removeLamps(std::size_t first, std::size_t count, const std::function<void()>& change) override;
    void lampSwitched(std::size_t row) override;

    // The lamp with this id was sent a state that looks like colour: its swatch shows it from now on
    // (also after its row went and came back, while the program runs).
    void showSent(const std::string& id, const Colour& colour);

private:
    LampCollection& m_lamps;
    std::map<std::string, QColor, std::less<>> m_sent;
};

} // namespace glowcast
