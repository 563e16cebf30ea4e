#pragma once

#include "core/glowcast_controller.h"

#include <QAbstractTableModel>

namespace glowcast {

// The lamp table: a check box column ("enabled") and the lamp's name ("name"), both asked of the
// controller's data source. A click on a check box goes to the controller, which flips the lamp and
// asks the table to reload.
class LampTableModel final : public QAbstractTableModel, public LampTableView {
    Q_OBJECT
public:
    enum Column { EnabledColumn = 0, NameColumn = 1, ColumnCount = 2 };

    explicit LampTableModel(GlowcastController& controller, QObject* parent = nullptr);

    [[nodiscard]] int rowCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] int columnCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    [[nodiscard]] QVariant headerData(int section, Qt::Orientation orientation,
                                      int role = Qt::DisplayRole) const override;
    [[nodiscard]] Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

    void reloadData() override;

private:
    GlowcastController& m_controller;
};

} // namespace glowcast
