#include "main_window/uniformlistview.h"

#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>
#include <climits>

namespace kestrella {

UniformListView::UniformListView(QWidget* parent)
    : QListView(parent)
{
    setVerticalScrollMode(ScrollPerPixel);
    setHorizontalScrollMode(ScrollPerPixel);
}

int UniformListView::rowCount() const
{
    return model() ? model()->rowCount(rootIndex()) : 0;
}

QModelIndex UniformListView::indexOfRow(int row) const
{
    return model()->index(row, modelColumn(), rootIndex());
}

int UniformListView::rowHeight() const
{
    if (m_rowHeight <= 0) {
        // What the style makes of any one line of text, the same for every entry.
        QStyleOptionViewItem option;
        initViewItemOption(&option);
        option.features |= QStyleOptionViewItem::HasDisplay;
        option.text = QStringLiteral("Xg");
        m_rowHeight = std::max(1, style()->sizeFromContents(QStyle::CT_ItemViewItem, &option, QSize(), this).height());
    }
    return m_rowHeight;
}

int UniformListView::rowTop(int row) const
{
    return int(std::clamp(qint64(row) * rowHeight() - verticalOffset(), qint64(INT_MIN), qint64(INT_MAX)));
}

// The row at a height in the viewport, counted from the first entry: -1 above it, rowCount() or more below the last.
int UniformListView::rowAt(int y) const
{
    const qint64 inList = qint64(y) + verticalOffset();
    return inList < 0 ? -1 : int(std::min(inList / rowHeight(), qint64(INT_MAX)));
}

int UniformListView::entryWidth() const
{
    return std::max(m_widestEntry, viewport()->width());
}

QRect UniformListView::visualRect(const QModelIndex& index) const
{
    if (!index.isValid() || index.parent() != rootIndex())
        return {};
    return {-horizontalOffset(), rowTop(index.row()), entryWidth(), rowHeight()};
}

QModelIndex UniformListView::indexAt(const QPoint& point) const
{
    if (point.y() < 0 || point.x() + horizontalOffset() >= entryWidth())
        return {};
    const int row = rowAt(point.y());
    return row >= 0 && row < rowCount() ? indexOfRow(row) : QModelIndex();
}

void UniformListView::scrollTo(const QModelIndex& index, ScrollHint hint)
{
    if (!index.isValid())
        return;
    updateGeometries(); // the scroll range may not know yet of rows just inserted
    const qint64 height = rowHeight();
    const qint64 top = index.row() * height;
    const qint64 shown = viewport()->height();
    qint64 value = verticalOffset();
    switch (hint) {
    case EnsureVisible:
        if (top < value)
            value = top;
        else if (top + height > value + shown)
            value = top + height - shown;
        break;
    case PositionAtTop:
        value = top;
        break;
    case PositionAtBottom:
        value = top + height - shown;
        break;
    case PositionAtCenter:
        value = top + height / 2 - shown / 2;
        break;
    }
    verticalScrollBar()->setValue(int(std::clamp(value, qint64(0), qint64(INT_MAX))));
}

QModelIndex UniformListView::moveCursor(CursorAction action, Qt::KeyboardModifiers)
{
    const int rows = rowCount();
    if (rows == 0)
        return {};
    const QModelIndex current = currentIndex();
    if (!current.isValid())
        return indexOfRow(0);
    const int page = std::max(1, viewport()->height() / rowHeight());
    int row = current.row();
    switch (action) {
    case MoveUp:
    case MovePrevious:
        --row;
        break;
    case MoveDown:
    case MoveNext:
        ++row;
        break;
    case MovePageUp:
        row -= page;
        break;
    case MovePageDown:
        row += page;
        break;
    case MoveHome:
        row = 0;
        break;
    case MoveEnd:
        row = rows - 1;
        break;
    case MoveLeft:
        horizontalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
        break;
    case MoveRight:
        horizontalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        break;
    }
    return indexOfRow(std::clamp(row, 0, rows - 1));
}

int UniformListView::horizontalOffset() const
{
    return horizontalScrollBar()->value();
}

int UniformListView::verticalOffset() const
{
    return verticalScrollBar()->value();
}

void UniformListView::setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command)
{
    const QRect area = rect.normalized();
    const int rows = rowCount();
    const int first = std::max(0, rowAt(area.top()));
    const int last = std::min(rows - 1, rowAt(area.bottom()));
    QItemSelection selection;
    if (first <= last)
        selection.select(indexOfRow(first), indexOfRow(last));
    selectionModel()->select(selection, command);
}

QRegion UniformListView::visualRegionForSelection(const QItemSelection& selection) const
{
    QRegion region;
    for (const QItemSelectionRange& range : selection) {
        if (range.parent() != rootIndex() || !range.isValid())
            continue;
        const QRect top = visualRect(indexOfRow(range.top()));
        const QRect bottom = visualRect(indexOfRow(range.bottom()));
        region += (top | bottom) & viewport()->rect();
    }
    return region;
}

void UniformListView::updateGeometries()
{
    const qint64 height = rowHeight();
    QScrollBar* vertical = verticalScrollBar();
    vertical->setSingleStep(int(height));
    vertical->setPageStep(viewport()->height());
    vertical->setRange(0, int(std::clamp(rowCount() * height - viewport()->height(), qint64(0), qint64(INT_MAX))));
    QScrollBar* horizontal = horizontalScrollBar();
    horizontal->setSingleStep(fontMetrics().averageCharWidth() * 4);
    horizontal->setPageStep(viewport()->width());
    horizontal->setRange(0, std::max(0, m_widestEntry - viewport()->width()));
    QAbstractItemView::updateGeometries();
}

void UniformListView::doItemsLayout()
{
    QAbstractItemView::doItemsLayout(); // the scroll bars only: rows need no layout
}

void UniformListView::scrollContentsBy(int dx, int dy)
{
    scrollDirtyRegion(dx, dy);
    viewport()->scroll(dx, dy);
}

// Measures the entries about to be shown; true when one is wider than any before.
bool UniformListView::widenToEntries(int first, int last)
{
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    int widest = m_widestEntry;
    for (int row = first; row <= last; ++row) {
        const QModelIndex index = indexOfRow(row);
        widest = std::max(widest, itemDelegateForIndex(index)->sizeHint(option, index).width());
    }
    if (widest == m_widestEntry)
        return false;
    m_widestEntry = widest;
    return true;
}

void UniformListView::paintEvent(QPaintEvent* event)
{
    const int rows = rowCount();
    const QRect area = event->rect();
    const int first = std::max(0, rowAt(area.top()));
    const int last = std::min(rows - 1, rowAt(area.bottom()));
    if (first > last)
        return;
    if (widenToEntries(first, last))
        QMetaObject::invokeMethod(this, &UniformListView::updateGeometries, Qt::QueuedConnection);

    QStyleOptionViewItem option;
    initViewItemOption(&option);
    const bool focused = hasFocus() || viewport()->hasFocus();
    const QModelIndex current = currentIndex();
    QPainter painter(viewport());
    for (int row = first; row <= last; ++row) {
        const QModelIndex index = indexOfRow(row);
        QStyleOptionViewItem entry = option;
        entry.rect = visualRect(index);
        entry.state.setFlag(QStyle::State_Selected, selectionModel()->isSelected(index));
        entry.state.setFlag(QStyle::State_HasFocus, focused && index == current);
        itemDelegateForIndex(index)->paint(&painter, entry, index);
    }
}

void UniformListView::tellScreenReaders(QAccessible::Event event, const QModelIndex& index)
{
    // A list's entries are its children in row order.
    if (!QAccessible::isActive() || !index.isValid())
        return;
    QAccessibleEvent accessibleEvent(this, event);
    accessibleEvent.setChild(index.row());
    QAccessible::updateAccessibility(&accessibleEvent);
}

void UniformListView::currentChanged(const QModelIndex& current, const QModelIndex& previous)
{
    if (hasFocus())
        tellScreenReaders(QAccessible::Focus, current);
    QAbstractItemView::currentChanged(current, previous);
}

void UniformListView::selectionChanged(const QItemSelection& selected, const QItemSelection& deselected)
{
    tellScreenReaders(QAccessible::SelectionAdd, selected.indexes().value(0));
    tellScreenReaders(QAccessible::SelectionRemove, deselected.indexes().value(0));
    QAbstractItemView::selectionChanged(selected, deselected);
}

void UniformListView::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        m_rowHeight = 0;
    QListView::changeEvent(event);
}

QSize UniformListView::viewportSizeHint() const
{
    return {entryWidth(), int(std::min(qint64(rowCount()) * rowHeight(), qint64(INT_MAX)))};
}

} // namespace kestrella
