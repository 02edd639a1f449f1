// The results list on screen: the lines as a list model, and a list box of
// rows of one height that shows them. Adding a line, dropping the oldest
// one, scrolling and drawing cost the same whatever the list holds (only the
// rows in sight are laid out or drawn), so a check that reports a line for
// every slot of a damaged disk runs as fast with a full list as with an
// empty one. Like the Windows list box it scrolls by rows and never past
// its last full page: a list that fits shows all of it, a longer one at
// most its last page whole. A check adds lines far faster than anyone reads
// them: the rows and scroll bar on screen follow at most every 50 ms.
#pragma once

#include <QAbstractItemView>
#include <QAbstractListModel>
#include <QString>
#include <QTimer>
#include <cstddef>
#include <deque>

namespace checker {

class ResultsModel : public QAbstractListModel {
 public:
  using QAbstractListModel::QAbstractListModel;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

  void Append(QString line);
  void DropFront(size_t count);
  void Clear();

 private:
  std::deque<QString> rows_;
};

class ResultsView : public QAbstractItemView {
 public:
  explicit ResultsView(QWidget* parent = nullptr);

  void setModel(QAbstractItemModel* model) override;

  QRect visualRect(const QModelIndex& index) const override;
  void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;
  QModelIndex indexAt(const QPoint& point) const override;
  // The first row in sight.
  int TopRow() const;
  // Makes `row` the first row in sight as far as the list allows, as the
  // Windows list box's top index does: never beyond the first row of the
  // last full page (0 while the list fits).
  void SetTopIndex(int row);

 protected:
  QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
  int horizontalOffset() const override;
  int verticalOffset() const override;
  bool isIndexHidden(const QModelIndex& index) const override;
  void setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags flags) override;
  QRegion visualRegionForSelection(const QItemSelection& selection) const override;
  void paintEvent(QPaintEvent* event) override;
  void updateGeometries() override;
  void scrollContentsBy(int dx, int dy) override;
  void rowsInserted(const QModelIndex& parent, int start, int end) override;
  void reset() override;

 private:
  int Rows() const;
  int RowHeight() const;
  int RowsInSight() const;
  // The highest first row in sight: the last full page's.
  int LastTop() const;
  int RowAt(int y) const;
  QString Text(int row) const;
  // Brings the scroll bars and the rows on screen up to date soon.
  void Refresh();

  // The first row in sight (the vertical scroll bar follows it).
  int top_ = 0;
  QTimer refresh_;
  // The widest row added since the list was last emptied.
  int widest_ = 0;
};

}  // namespace checker
