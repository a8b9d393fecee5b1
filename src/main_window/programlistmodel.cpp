#include "main_window/programlistmodel.h"

#include <algorithm>

namespace kestrella {

int ProgramListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : count();
}

QVariant ProgramListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= count())
        return {};
    if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole)
        return m_names[size_t(index.row())];
    return {};
}

void ProgramListModel::setNames(std::vector<QString> names)
{
    // Names often arrive already in order; checking first saves the sort.
    if (!std::is_sorted(names.begin(), names.end(), listsBefore))
        std::stable_sort(names.begin(), names.end(), listsBefore);
    beginResetModel();
    m_names = std::move(names);
    endResetModel();
}

void ProgramListModel::clear()
{
    setNames({});
}

int ProgramListModel::insertSorted(const QString& name)
{
    const auto at = std::upper_bound(m_names.begin(), m_names.end(), name, listsBefore);
    const int row = int(at - m_names.begin());
    beginInsertRows({}, row, row);
    m_names.insert(at, name);
    endInsertRows();
    return row;
}

void ProgramListModel::removeAt(int row)
{
    if (row < 0 || row >= count())
        return;
    beginRemoveRows({}, row, row);
    m_names.erase(m_names.begin() + row);
    endRemoveRows();
}

} // namespace kestrella
