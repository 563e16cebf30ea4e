#include "lamp_table_model.h"

#include <string_view>
#include <variant>

namespace glowcast {

namespace {

[[nodiscard]] std::string_view identifier(int column)
{
    switch (column) {
    case LampTableModel::EnabledColumn:
        return "enabled";
    case LampTableModel::NameColumn:
        return "name";
    default:
        return "";
    }
}

} // namespace

LampTableModel::LampTableModel(GlowcastController& controller, QObject* parent)
    : QAbstractTableModel(parent), m_controller(controller)
{
}

int LampTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_controller.numberOfRowsInTableView(*this);
}

int LampTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant LampTableModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const TableObjectValue value =
        m_controller.objectValueForTableColumn(*this, identifier(index.column()), index.row());
    if (const auto* cell = std::get_if<const ButtonCell*>(&value)) {
        if (role == Qt::CheckStateRole)
            return (*cell)->state == 1 ? Qt::Checked : Qt::Unchecked;
        if (role == Qt::DisplayRole)
            return QString::fromStdString((*cell)->title);
        return {};
    }
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
        return QString::fromStdString(std::get<std::string>(value));
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
    m_controller.setObjectValue(*this, on ? &m_controller.yesCell() : &m_controller.noCell(),
                                identifier(index.column()), index.row());
    return true;
}

void LampTableModel::reloadData()
{
    beginResetModel();
    endResetModel();
}

} // namespace glowcast
