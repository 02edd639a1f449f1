// The file list of a pane: a report view whose items carry a key ("D..",
// "D12", "i5"), an icon key, a check box, a bold flag and sub-items, with
// in-place editing of the item text.
//
// Items are addressed by key or by their 1-based number in display order.
// Changes made through the methods below raise no events; the signals come
// only from what a user does (or a script step doing the same), so that a
// handler runs only when a user's action calls for it.
#pragma once

#include <QHash>
#include <QPointer>
#include <QStringList>
#include <QTreeWidget>
#include <vector>

class QLineEdit;

namespace mainwindow {

class ListView : public QTreeWidget {
  Q_OBJECT

 public:
  explicit ListView(QWidget* parent = nullptr);
  ~ListView() override;

  // ----------------------------------------------------------------- columns
  // Appends a column; returns its index (0 is the item text).
  int AddColumn(const QString& caption, int widthPixels,
                Qt::Alignment alignment = Qt::AlignLeft);
  // Removes the last column (and every item's sub-item in it).
  void RemoveLastColumn();
  int ColumnCount() const { return static_cast<int>(columns_.size()); }
  QString ColumnCaption(int column) const;
  Qt::Alignment ColumnAlignment(int column) const;
  // Header icon of a column ("" for none).
  void SetColumnIcon(int column, const QString& iconKey);
  QString ColumnIconKey(int column) const;
  // Lets the user drag columns into another order.
  void SetColumnsMovable(bool movable);

  // ------------------------------------------------------------------- items
  void Clear();
  // Adds an item at the end (or at its sorted place while automatic sorting
  // is on). False when the key is empty or already used.
  bool AddItem(const QString& key, const QString& text, const QString& iconKey = QString());
  bool RemoveItem(const QString& key);
  bool Contains(const QString& key) const { return Find(key) != nullptr; }
  int ItemCount() const;
  // Keys in display order.
  QStringList Keys() const;
  // Key of the item with 1-based number `number` in display order; "" when
  // out of range.
  QString KeyAt(int number) const;
  // 1-based display number of the item; 0 when there is none.
  int NumberOf(const QString& key) const;

  QString Text(const QString& key) const;
  void SetText(const QString& key, const QString& text);
  // Sub-item `column` (1 .. ColumnCount() - 1).
  QString SubItem(const QString& key, int column) const;
  void SetSubItem(const QString& key, int column, const QString& text);
  QString IconKey(const QString& key) const;
  void SetIconKey(const QString& key, const QString& iconKey);
  bool Checked(const QString& key) const;
  void SetChecked(const QString& key, bool checked);
  bool Bold(const QString& key) const;
  void SetBold(const QString& key, bool bold);

  // The selected item (the list's current item); "" when none.
  QString SelectedKey() const;
  void SetSelectedKey(const QString& key);
  void EnsureVisible(const QString& key);

  // ----------------------------------------------------------------- sorting
  // Sorts the items once by the text of `column` (0 = item text),
  // case-insensitively; equal texts keep their order.
  void SortByColumn(int column, Qt::SortOrder order);
  // While on, the list keeps itself sorted by `column` as items are added
  // or changed.
  void SetAutoSort(bool on, int column = 0, Qt::SortOrder order = Qt::AscendingOrder);
  bool AutoSort() const { return autoSort_; }

  // ------------------------------------------------------------- label edit
  // Automatic: a slow second click on the selected item starts an edit.
  // Manual: only StartLabelEdit does.
  void SetLabelEditAutomatic(bool automatic);
  bool LabelEditAutomatic() const { return labelEditAutomatic_; }
  // Starts the in-place edit of the item's text (BeforeLabelEdit may refuse
  // it). True when the editor is open.
  bool StartLabelEdit(const QString& key);
  bool Editing() const { return !editingKey_.isEmpty(); }
  QString EditingKey() const { return editingKey_; }
  // Ends the open edit as Enter would, with `text` typed in the editor.
  // False when no edit is open.
  bool FinishLabelEdit(const QString& text);
  // Abandons the open edit as Escape would.
  void CancelLabelEdit();

  // ------------------------------------------------ what a user's click does
  // Used by the scripted runs; each raises the events a real click raises.
  void UserClickItem(const QString& key, Qt::MouseButton button = Qt::LeftButton,
                     Qt::KeyboardModifiers modifiers = Qt::NoModifier);
  void UserDoubleClickItem(const QString& key);
  void UserSetChecked(const QString& key, bool checked);

  // Finds the item of a key (exact match first, then ignoring case).
  QTreeWidgetItem* Find(const QString& key) const;
  QString KeyOf(const QTreeWidgetItem* item) const;

 signals:
  void MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, QPoint position);
  void Click();
  void ItemClick(const QString& key);
  void ItemCheck(const QString& key, bool checked);
  void DblClick();
  void ColumnClick(int column);
  void GotFocus();
  // Before an edit opens; set *cancel to refuse it.
  void BeforeLabelEdit(const QString& key, bool* cancel);
  // When an edit ends with Enter, before the new text is taken; set *cancel
  // to keep the old text.
  void AfterLabelEdit(const QString& key, const QString& newText, bool* cancel);

 protected:
  bool edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;

 private:
  friend class ListViewDelegate;
  struct Column {
    QString Caption;
    Qt::Alignment Align;
    QString IconKey;
  };
  void OnItemChanged(QTreeWidgetItem* item, int column);
  void MarkUnsorted();
  void ApplySort() const;
  void ApplyFont(QTreeWidgetItem* item) const;
  // Called by the delegate when the editor commits; true to take the text.
  bool CommitEdit(const QString& key, const QString& newText);
  void EditorOpened(QLineEdit* editor, const QString& key);
  void EditorClosed();

  std::vector<Column> columns_;
  QHash<QString, QTreeWidgetItem*> items_;
  bool autoSort_ = false;
  int sortColumn_ = 0;
  Qt::SortOrder sortOrder_ = Qt::AscendingOrder;
  mutable bool sortPending_ = false;
  bool labelEditAutomatic_ = false;
  bool refuseEdit_ = false;       // BeforeLabelEdit already asked for this edit
  QString editingKey_;
  QPointer<QLineEdit> editor_;
  int signalsBlockedDepth_ = 0;
  bool pressedOnItem_ = false;
};

}  // namespace mainwindow
