#include "gui/lamp_table_model.h"

#include "core/lamp_systems/lamp_system.h"

#include <algorithm>
#include <cmath>

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
    if (index.column() == SystemColumn) {
        if (role != Qt::DisplayRole)
            return {};
        const std::optional<SystemLampId> parts = splitLampId(lamp.id);
        return parts ? QString::fromUtf8(parts->system.data(), static_cast<qsizetype>(parts->system.size()))
                     : QStringLiteral("bridge");
    }
    if (index.column() == SentColumn) {
        const auto sent = m_sent.find(lamp.id);
        if (sent == m_sent.end())
            return role == Qt::ToolTipRole ? QVariant(tr("Not sent a colour yet")) : QVariant();
        if (role == Qt::BackgroundRole)
            return sent->second;
        if (role == Qt::ToolTipRole)
            return tr("Last sent %1").arg(sent->second.name());
        return {};
    }
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
    case SystemColumn:
        return tr("System");
    case SentColumn:
        return tr("Sent");
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

void LampTableModel::showSent(const std::string& id, const Colour& colour)
{
    const auto byte = [](double component) {
        return static_cast<int>(std::lround(std::clamp(component, 0.0, 1.0) * 255));
    };
    m_sent[id] = QColor(byte(colour.red), byte(colour.green), byte(colour.blue));
    const std::vector<LampEntry>& entries = m_lamps.entries();
    for (std::size_t row = 0; row < entries.size(); ++row)
        if (entries[row].id == id) {
            const QModelIndex cell = index(static_cast<int>(row), SentColumn);
            Q_EMIT dataChanged(cell, cell, {Qt::BackgroundRole, Qt::ToolTipRole});
        }
}

} // namespace glowcast
