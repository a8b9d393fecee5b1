#pragma once

#include <QAccessible>
#include <QListView>

namespace kestrella {

// A list of one-line entries of one height, each placed by its row alone. QListView lays out every row again after
// a one-row change, which costs as much as the list is long; this view never does. It stays a QListView so that
// screen readers are given a list and its entries: Qt's accessibility gives the list role to QListView only.
// Long entries scroll sideways, as far as the widest entry shown so far (refills included): no change measures every
// entry.
class UniformListView : public QListView
{
    Q_OBJECT

public:
    explicit UniformListView(QWidget* parent = nullptr);

    QRect visualRect(const QModelIndex& index) const override;
    void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;
    QModelIndex indexAt(const QPoint& point) const override;
    void doItemsLayout() override;

protected:
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
    int horizontalOffset() const override;
    int verticalOffset() const override;
    void setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command) override;
    QRegion visualRegionForSelection(const QItemSelection& selection) const override;
    void updateGeometries() override;
    void scrollContentsBy(int dx, int dy) override;
    void paintEvent(QPaintEvent* event) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    void selectionChanged(const QItemSelection& selected, const QItemSelection& deselected) override;
    void changeEvent(QEvent* event) override;
    QSize viewportSizeHint() const override;

private:
    int rowCount() const;
    int rowHeight() const;
    int rowAt(int y) const;
    int rowTop(int row) const;
    int entryWidth() const;
    QModelIndex indexOfRow(int row) const;
    bool widenToEntries(int first, int last);
    void tellScreenReaders(QAccessible::Event event, const QModelIndex& index);

    mutable int m_rowHeight = 0;
    int m_widestEntry = 0;
};

} // namespace kestrella
