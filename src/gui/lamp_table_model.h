#pragma once

#include "core/lamp_collection.h"
#include "core/ports/views.h"

#include <QAbstractTableModel>

namespace glowcast {

// The lamp table over the lamp collection: a check box column and the lamp's name. A check box set to
// another state than its lamp's switches the lamp; the collection, once the model is its view, tells
// it of every change, which it passes on as the smallest change of rows.
class LampTableModel final : public QAbstractTableModel, public LampListView {
    Q_OBJECT
public:
    enum Column { EnabledColumn = 0, NameColumn = 1, ColumnCount = 2 };

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

private:
    LampCollection& m_lamps;
};

} // namespace glowcast
