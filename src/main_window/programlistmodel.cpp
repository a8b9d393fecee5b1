#include "main_window/programlistmodel.h"

#include <algorithm>

namespace kestrella {

namespace {

inline char16_t folded(char16_t c)
{
    if (c < 128)
        return c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c;
    return QChar(c).toCaseFolded().unicode();
}

} // namespace

bool listsBefore(const QString& a, const QString& b)
{
    // Case folding one character at a time, with a quick path for the ASCII that most names are made of.
    const qsizetype common = std::min(a.size(), b.size());
    const char16_t* pa = reinterpret_cast<const char16_t*>(a.constData());
    const char16_t* pb = reinterpret_cast<const char16_t*>(b.constData());
    for (qsizetype i = 0; i < common; ++i) {
        const char16_t fa = folded(pa[i]);
        const char16_t fb = folded(pb[i]);
        if (fa != fb)
            return fa < fb;
    }
    return a.size() < b.size();
}

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
