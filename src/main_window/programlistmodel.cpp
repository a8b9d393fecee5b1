#include "main_window/programlistmodel.h"

#include "records/listorder.h"

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
        return m_names.at(index.row());
    return {};
}

void ProgramListModel::setNames(PackedTexts namesInListOrder)
{
    beginResetModel();
    m_names = std::move(namesInListOrder);
    endResetModel();
}

void ProgramListModel::clear()
{
    setNames({});
}

qsizetype ProgramListModel::firstRowWhere(const std::function<bool(QByteArrayView)>& isPast) const
{
    qsizetype low = 0;
    qsizetype high = m_names.size();
    while (low < high) {
        const qsizetype middle = low + (high - low) / 2;
        if (isPast(m_names.utf8At(middle)))
            high = middle;
        else
            low = middle + 1;
    }
    return low;
}

int ProgramListModel::insertSorted(const QString& name)
{
    // The list shows names as the store gives them back.
    const QByteArray utf8 = name.toUtf8();
    const int row = int(firstRowWhere([&](QByteArrayView listed) { return listsBefore(utf8, listed); }));
    beginInsertRows({}, row, row);
    m_names.insert(row, utf8);
    endInsertRows();
    return row;
}

int ProgramListModel::rowOf(const QString& name) const
{
    // Names that list alike (other case) stand together: the exact one is among them.
    const QByteArray utf8 = name.toUtf8();
    for (qsizetype row = firstRowWhere([&](QByteArrayView listed) { return !listsBefore(listed, utf8); });
         row < m_names.size() && !listsBefore(utf8, m_names.utf8At(row)); ++row) {
        if (m_names.utf8At(row) == utf8)
            return int(row);
    }
    return -1;
}

void ProgramListModel::removeAt(int row)
{
    if (row < 0 || row >= count())
        return;
    beginRemoveRows({}, row, row);
    m_names.remove(row);
    endRemoveRows();
}

} // namespace kestrella
