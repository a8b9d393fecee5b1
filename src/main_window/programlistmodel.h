#pragma once

#include "records/packedtexts.h"

#include <QAbstractListModel>
#include <QString>
#include <functional>

namespace kestrella {

// The names of lstPrograms, always kept in list order.
class ProgramListModel : public QAbstractListModel
{
    Q_OBJECT

public:
    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

    // Replaces every entry; the names must stand in list order (see inListOrder).
    void setNames(PackedTexts namesInListOrder);
    void clear();
    // Puts a name at its sorted place (after any equal names) and returns its row.
    int insertSorted(const QString& name);
    // The first row showing exactly this name, or -1.
    int rowOf(const QString& name) const;
    void removeAt(int row);
    QString at(int row) const { return m_names.at(row); }
    int count() const { return int(m_names.size()); }

private:
    // The first row whose name isPast says lies beyond the one sought (the list is sorted).
    qsizetype firstRowWhere(const std::function<bool(QByteArrayView)>& isPast) const;

    PackedTexts m_names;
};

} // namespace kestrella
