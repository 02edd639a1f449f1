#include "checker/results_view.h"

#include <QPainter>
#include <QPaintEvent>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStyleOptionViewItem>
#include <algorithm>

namespace checker {

// ------------------------------------------------------------ the model

int ResultsModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : int(rows_.size());
}

QVariant ResultsModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() < 0 || size_t(index.row()) >= rows_.size()) return {};
  if (role == Qt::DisplayRole || role == Qt::EditRole) return rows_[size_t(index.row())];
  return {};
}

void ResultsModel::Append(QString line) {
  const int row = int(rows_.size());
  beginInsertRows(QModelIndex(), row, row);
  rows_.push_back(std::move(line));
  endInsertRows();
}

void ResultsModel::DropFront(size_t count) {
  count = std::min(count, rows_.size());
  if (count == 0) return;
  beginRemoveRows(QModelIndex(), 0, int(count) - 1);
  rows_.erase(rows_.begin(), rows_.begin() + std::ptrdiff_t(count));
  endRemoveRows();
}

void ResultsModel::Clear() {
  beginResetModel();
  rows_.clear();
  endResetModel();
}

// ------------------------------------------------------------ the view

ResultsView::ResultsView(QWidget* parent) : QAbstractItemView(parent) {
  setTextElideMode(Qt::ElideNone);
  setEditTriggers(NoEditTriggers);
  setHorizontalScrollMode(ScrollPerPixel);
  setVerticalScrollMode(ScrollPerItem);
  verticalScrollBar()->setSingleStep(1);
  refresh_.setSingleShot(true);
  refresh_.setInterval(50);
  connect(&refresh_, &QTimer::timeout, this, [this] {
    updateGeometries();
    viewport()->update();
  });
}

void ResultsView::Refresh() {
  if (!refresh_.isActive()) refresh_.start();
}

void ResultsView::setModel(QAbstractItemModel* model) {
  QAbstractItemView::setModel(model);
  if (model)
    connect(model, &QAbstractItemModel::rowsRemoved, this, [this](const QModelIndex&, int first, int last) {
      // The rows in sight stay in sight.
      if (first <= top_) top_ = std::max(0, top_ - (std::min(last, top_ - 1) - first + 1));
      Refresh();
    });
}

int ResultsView::Rows() const { return model() ? model()->rowCount(rootIndex()) : 0; }

int ResultsView::RowHeight() const { return std::max(1, fontMetrics().height() + 2); }

int ResultsView::RowsInSight() const { return std::max(1, viewport()->height() / RowHeight()); }

int ResultsView::TopRow() const { return top_; }

int ResultsView::LastTop() const { return std::max(0, Rows() - RowsInSight()); }

void ResultsView::SetTopIndex(int row) {
  const int top = top_;
  top_ = std::clamp(row, 0, LastTop());
  if (top_ != top) Refresh();
}

int ResultsView::RowAt(int y) const { return y < 0 ? -1 : TopRow() + y / RowHeight(); }

QString ResultsView::Text(int row) const {
  return model()->data(model()->index(row, 0, rootIndex()), Qt::DisplayRole).toString();
}

QRect ResultsView::visualRect(const QModelIndex& index) const {
  if (!index.isValid() || index.model() != model()) return {};
  const int width = std::max(viewport()->width() + horizontalOffset(), widest_);
  return QRect(-horizontalOffset(), (index.row() - TopRow()) * RowHeight(), width, RowHeight());
}

void ResultsView::scrollTo(const QModelIndex& index, ScrollHint hint) {
  if (!index.isValid()) return;
  const int row = index.row();
  const int top = TopRow();
  const int inSight = RowsInSight();
  int to = top;
  switch (hint) {
    case PositionAtTop: to = row; break;
    case PositionAtBottom: to = row - inSight + 1; break;
    case PositionAtCenter: to = row - inSight / 2; break;
    case EnsureVisible:
      if (row < top) to = row;
      else if (row >= top + inSight) to = row - inSight + 1;
      break;
  }
  SetTopIndex(to);
}

QModelIndex ResultsView::indexAt(const QPoint& point) const {
  const int row = RowAt(point.y());
  if (!model() || row < 0 || row >= Rows()) return {};
  return model()->index(row, 0, rootIndex());
}

QModelIndex ResultsView::moveCursor(CursorAction action, Qt::KeyboardModifiers) {
  const int rows = Rows();
  if (rows == 0) return {};
  int row = currentIndex().isValid() ? currentIndex().row() : 0;
  switch (action) {
    case MoveUp:
    case MovePrevious: --row; break;
    case MoveDown:
    case MoveNext: ++row; break;
    case MovePageUp: row -= RowsInSight(); break;
    case MovePageDown: row += RowsInSight(); break;
    case MoveHome: row = 0; break;
    case MoveEnd: row = rows - 1; break;
    default: break;
  }
  return model()->index(std::clamp(row, 0, rows - 1), 0, rootIndex());
}

int ResultsView::horizontalOffset() const { return horizontalScrollBar()->value(); }

int ResultsView::verticalOffset() const { return TopRow() * RowHeight(); }

bool ResultsView::isIndexHidden(const QModelIndex&) const { return false; }

void ResultsView::setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags flags) {
  const int rows = Rows();
  if (!model() || !selectionModel() || rows == 0) return;
  const QRect r = rect.normalized();
  const int first = std::clamp(RowAt(std::max(0, r.top())), 0, rows - 1);
  const int last = std::clamp(RowAt(std::max(0, r.bottom())), 0, rows - 1);
  selectionModel()->select(QItemSelection(model()->index(first, 0, rootIndex()), model()->index(last, 0, rootIndex())),
                           flags);
}

QRegion ResultsView::visualRegionForSelection(const QItemSelection& selection) const {
  QRegion region;
  const int top = TopRow(), bottom = TopRow() + RowsInSight();
  for (const QItemSelectionRange& range : selection) {
    const int first = std::max(range.top(), top), last = std::min(range.bottom(), bottom);
    if (first > last) continue;
    const QRect a = visualRect(model()->index(first, 0, rootIndex()));
    region += a.united(visualRect(model()->index(last, 0, rootIndex())));
  }
  return region;
}

void ResultsView::paintEvent(QPaintEvent* event) {
  if (!model()) return;
  QPainter painter(viewport());
  const int rows = Rows();
  const int first = std::max(0, RowAt(event->rect().top()));
  const int last = std::min(rows - 1, RowAt(event->rect().bottom()));
  QStyleOptionViewItem option;
  initViewItemOption(&option);
  for (int row = first; row <= last; ++row) {
    const QModelIndex index = model()->index(row, 0, rootIndex());
    QStyleOptionViewItem item = option;
    item.rect = visualRect(index);
    if (selectionModel() && selectionModel()->isSelected(index)) item.state |= QStyle::State_Selected;
    if (index == currentIndex() && hasFocus()) item.state |= QStyle::State_HasFocus;
    itemDelegate()->paint(&painter, item, index);
  }
}

void ResultsView::updateGeometries() {
  {
    const QSignalBlocker quiet(verticalScrollBar());
    verticalScrollBar()->setPageStep(RowsInSight());
    verticalScrollBar()->setRange(0, LastTop());
    top_ = std::clamp(top_, 0, LastTop());
    verticalScrollBar()->setValue(top_);
  }
  horizontalScrollBar()->setPageStep(viewport()->width());
  horizontalScrollBar()->setRange(0, std::max(0, widest_ - viewport()->width()));
  QAbstractItemView::updateGeometries();
}

void ResultsView::scrollContentsBy(int, int) {
  // The user moved a scroll bar.
  top_ = verticalScrollBar()->value();
  viewport()->update();
}

void ResultsView::rowsInserted(const QModelIndex& parent, int start, int end) {
  const QFontMetrics metrics = fontMetrics();
  for (int row = start; row <= end; ++row)
    widest_ = std::max(widest_, metrics.horizontalAdvance(Text(row)) + 8);
  QAbstractItemView::rowsInserted(parent, start, end);
  Refresh();
}

void ResultsView::reset() {
  QAbstractItemView::reset();
  widest_ = 0;
  top_ = 0;
  updateGeometries();
  viewport()->update();
}

}  // namespace checker
