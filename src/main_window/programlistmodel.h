#pragma once

#include "records/program.h"

#include <QAbstractListModel>
#include <QString>
#include <vector>

namespace kestrella {

// The names of lstPrograms, always kept in list order.
class ProgramListModel : public QAbstractListModel
{
    Q_OBJECT

public:
    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

    // Replaces every entry; the names may come in any order.
    void setNames(std::vector<QString> names);
    void clear();
    // Puts a name at its sorted place (after any equal names) and returns its row.
    int insertSorted(const QString& name);
    void removeAt(int row);
    const QString& at(int row) const { return m_names[size_t(row)]; }
    int count() const { return int(m_names.size()); }

private:
    std::vector<QString> m_names;
};

} // namespace kestrella
