#include "lamp_table_model.h"

namespace glowcast {

LampTableModel::LampTableModel(LampCollection& lamps, QObject* parent) : QAbstractTableModel(parent), m_lamps(lamps)
{
}

int LampTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_lamps.entries().size());
}

int LampTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant LampTableModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const LampEntry& lamp = m_lamps.entries()[static_cast<std::size_t>(index.row())];
    if (index.column() == EnabledColumn)
        return role == Qt::CheckStateRole ? QVariant(lamp.enabled ? Qt::Checked : Qt::Unchecked) : QVariant();
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
        return QString::fromStdString(lamp.name);
    return {};
}

QVariant LampTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case EnabledColumn:
        return tr("On");
    case NameColumn:
        return tr("Lamp");
    default:
        return {};
    }
}

Qt::ItemFlags LampTableModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    if (index.column() == EnabledColumn)
        return Qt::ItemIsEnabled | Qt::ItemIsUserCheckable;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

bool LampTableModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return false;
    if (index.column() != EnabledColumn || role != Qt::CheckStateRole)
        return false;
    const bool on = value.toInt() == Qt::Checked;
    const LampEntry& lamp = m_lamps.entries()[static_cast<std::size_t>(index.row())];
    // A check box set to the state its lamp has already is no click on it.
    if (lamp.enabled != on)
        (void)m_lamps.setLampEnabled(std::string{lamp.id}, on);
    return true;
}

void LampTableModel::refill(const std::function<void()>& change)
{
    beginResetModel();
    change();
    endResetModel();
}

void LampTableModel::insertLamps(std::size_t first, std::size_t count, const std::function<void()>& change)
{
    beginInsertRows({}, static_cast<int>(first), static_cast<int>(first + count) - 1);
    change();
    endInsertRows();
}

void LampTableModel::removeLamps(std::size_t first, std::size_t count, const std::function<void()>& change)
{
    beginRemoveRows({}, static_cast<int>(first), static_cast<int>(first + count) - 1);
    change();
    endRemoveRows();
}

void LampTableModel::lampSwitched(std::size_t row)
{
    const QModelIndex cell = index(static_cast<int>(row), EnabledColumn);
    Q_EMIT dataChanged(cell, cell, {Qt::CheckStateRole});
}

} // namespace glowcast
