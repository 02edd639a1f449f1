#include "mainwindow/list_view.h"

#include <QCoreApplication>
#include <QFocusEvent>
#include <QHeaderView>
#include <QLineEdit>
#include <QMouseEvent>
#include <QSignalBlocker>
#include <QStyledItemDelegate>

#include "mainwindow/icon_set.h"

namespace mainwindow {

namespace {

constexpr int kKeyRole = Qt::UserRole;
constexpr int kIconKeyRole = Qt::UserRole + 1;
constexpr int kBoldRole = Qt::UserRole + 2;
constexpr int kCheckedRole = Qt::UserRole + 3;

// Sorts by the text of the sort column, ignoring case.
class ListItem : public QTreeWidgetItem {
 public:
  ListItem() : QTreeWidgetItem(UserType) {}
  bool operator<(const QTreeWidgetItem& other) const override {
    const int column = treeWidget() ? treeWidget()->sortColumn() : 0;
    return QString::compare(text(column), other.text(column), Qt::CaseInsensitive) < 0;
  }
};

}  // namespace

// The in-place editor of the item text: asks the list before the new text
// is taken.
class ListViewDelegate : public QStyledItemDelegate {
 public:
  explicit ListViewDelegate(ListView* view) : QStyledItemDelegate(view), view_(view) {}

  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                        const QModelIndex& index) const override {
    auto* editor = new QLineEdit(parent);
    editor->setFrame(false);
    view_->EditorOpened(editor, index.data(kKeyRole).toString());
    return editor;
  }

  void setModelData(QWidget* editor, QAbstractItemModel* model,
                    const QModelIndex& index) const override {
    auto* line = qobject_cast<QLineEdit*>(editor);
    if (!line || committing_) return;
    committing_ = true;
    const QPersistentModelIndex keep(index);
    const QString key = index.data(kKeyRole).toString();
    const QString text = line->text();
    // The handler may rebuild the list; the item may be gone afterwards.
    const bool take = view_->CommitEdit(key, text);
    if (take && keep.isValid()) model->setData(keep, text, Qt::EditRole);
    committing_ = false;
  }

  void destroyEditor(QWidget* editor, const QModelIndex& index) const override {
    view_->EditorClosed();
    QStyledItemDelegate::destroyEditor(editor, index);
  }

 private:
  ListView* view_;
  mutable bool committing_ = false;
};

ListView::ListView(QWidget* parent) : QTreeWidget(parent) {
  setColumnCount(0);
  setRootIsDecorated(false);
  setItemsExpandable(false);
  setUniformRowHeights(true);
  setAllColumnsShowFocus(true);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSortingEnabled(false);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setItemDelegate(new ListViewDelegate(this));
  header()->setSectionsClickable(true);
  header()->setSortIndicatorShown(false);
  header()->setStretchLastSection(false);
  connect(header(), &QHeaderView::sectionClicked, this, [this](int column) {
    emit ColumnClick(column);
  });
  connect(this, &QTreeWidget::itemChanged, this, &ListView::OnItemChanged);
}

ListView::~ListView() = default;

// ------------------------------------------------------------------ columns

int ListView::AddColumn(const QString& caption, int widthPixels, Qt::Alignment alignment) {
  const int index = ColumnCount();
  columns_.push_back(Column{caption, alignment, QString()});
  QSignalBlocker block(this);
  setColumnCount(index + 1);
  headerItem()->setText(index, caption);
  headerItem()->setTextAlignment(index, alignment | Qt::AlignVCenter);
  header()->resizeSection(index, widthPixels > 0 ? widthPixels : header()->defaultSectionSize());
  return index;
}

void ListView::RemoveLastColumn() {
  if (columns_.empty()) return;
  columns_.pop_back();
  QSignalBlocker block(this);
  setColumnCount(ColumnCount());
}

QString ListView::ColumnCaption(int column) const {
  return column >= 0 && column < ColumnCount() ? columns_[column].Caption : QString();
}

Qt::Alignment ListView::ColumnAlignment(int column) const {
  return column >= 0 && column < ColumnCount() ? columns_[column].Align : Qt::AlignLeft;
}

void ListView::SetColumnIcon(int column, const QString& iconKey) {
  if (column < 0 || column >= ColumnCount()) return;
  columns_[column].IconKey = iconKey;
  QSignalBlocker block(this);
  headerItem()->setIcon(column, IconFor(iconKey));
}

QString ListView::ColumnIconKey(int column) const {
  return column >= 0 && column < ColumnCount() ? columns_[column].IconKey : QString();
}

void ListView::SetColumnsMovable(bool movable) { header()->setSectionsMovable(movable); }

// -------------------------------------------------------------------- items

QTreeWidgetItem* ListView::Find(const QString& key) const {
  if (key.isEmpty()) return nullptr;
  auto it = items_.constFind(key);
  if (it != items_.constEnd()) return it.value();
  for (auto i = items_.constBegin(); i != items_.constEnd(); ++i)
    if (i.key().compare(key, Qt::CaseInsensitive) == 0) return i.value();
  return nullptr;
}

QString ListView::KeyOf(const QTreeWidgetItem* item) const {
  return item ? item->data(0, kKeyRole).toString() : QString();
}

void ListView::Clear() {
  if (editor_) CancelLabelEdit();
  QSignalBlocker block(this);
  clear();
  items_.clear();
  sortPending_ = false;
}

bool ListView::AddItem(const QString& key, const QString& text, const QString& iconKey) {
  if (key.isEmpty() || Find(key)) return false;
  auto* item = new ListItem();
  item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable |
                 Qt::ItemIsEditable);
  QSignalBlocker block(this);
  item->setText(0, text);
  item->setData(0, kKeyRole, key);
  item->setData(0, kIconKeyRole, iconKey);
  item->setData(0, kBoldRole, false);
  item->setData(0, kCheckedRole, false);
  item->setCheckState(0, Qt::Unchecked);
  item->setIcon(0, IconFor(iconKey));
  for (int c = 0; c < ColumnCount(); ++c)
    item->setTextAlignment(c, columns_[c].Align | Qt::AlignVCenter);
  addTopLevelItem(item);
  items_.insert(key, item);
  MarkUnsorted();
  return true;
}

bool ListView::RemoveItem(const QString& key) {
  QTreeWidgetItem* item = Find(key);
  if (!item) return false;
  if (editor_ && KeyOf(item) == editingKey_) CancelLabelEdit();
  QSignalBlocker block(this);
  items_.remove(KeyOf(item));
  delete item;
  return true;
}

int ListView::ItemCount() const { return topLevelItemCount(); }

QStringList ListView::Keys() const {
  ApplySort();
  QStringList keys;
  const int count = topLevelItemCount();
  keys.reserve(count);
  for (int i = 0; i < count; ++i) keys.append(KeyOf(topLevelItem(i)));
  return keys;
}

QString ListView::KeyAt(int number) const {
  ApplySort();
  if (number < 1 || number > topLevelItemCount()) return QString();
  return KeyOf(topLevelItem(number - 1));
}

int ListView::NumberOf(const QString& key) const {
  ApplySort();
  QTreeWidgetItem* item = Find(key);
  return item ? indexOfTopLevelItem(item) + 1 : 0;
}

QString ListView::Text(const QString& key) const {
  QTreeWidgetItem* item = Find(key);
  return item ? item->text(0) : QString();
}

void ListView::SetText(const QString& key, const QString& text) {
  QTreeWidgetItem* item = Find(key);
  if (!item) return;
  QSignalBlocker block(this);
  item->setText(0, text);
  if (sortColumn_ == 0) MarkUnsorted();
}

QString ListView::SubItem(const QString& key, int column) const {
  QTreeWidgetItem* item = Find(key);
  return item && column >= 1 && column < ColumnCount() ? item->text(column) : QString();
}

void ListView::SetSubItem(const QString& key, int column, const QString& text) {
  QTreeWidgetItem* item = Find(key);
  if (!item || column < 1 || column >= ColumnCount()) return;
  QSignalBlocker block(this);
  item->setText(column, text);
  item->setTextAlignment(column, columns_[column].Align | Qt::AlignVCenter);
  if (item->data(0, kBoldRole).toBool()) ApplyFont(item);
  if (sortColumn_ == column) MarkUnsorted();
}

QString ListView::IconKey(const QString& key) const {
  QTreeWidgetItem* item = Find(key);
  return item ? item->data(0, kIconKeyRole).toString() : QString();
}

void ListView::SetIconKey(const QString& key, const QString& iconKey) {
  QTreeWidgetItem* item = Find(key);
  if (!item) return;
  QSignalBlocker block(this);
  item->setData(0, kIconKeyRole, iconKey);
  item->setIcon(0, IconFor(iconKey));
}

bool ListView::Checked(const QString& key) const {
  QTreeWidgetItem* item = Find(key);
  return item && item->checkState(0) == Qt::Checked;
}

void ListView::SetChecked(const QString& key, bool checked) {
  QTreeWidgetItem* item = Find(key);
  if (!item) return;
  QSignalBlocker block(this);
  item->setData(0, kCheckedRole, checked);
  item->setCheckState(0, checked ? Qt::Checked : Qt::Unchecked);
}

bool ListView::Bold(const QString& key) const {
  QTreeWidgetItem* item = Find(key);
  return item && item->data(0, kBoldRole).toBool();
}

void ListView::SetBold(const QString& key, bool bold) {
  QTreeWidgetItem* item = Find(key);
  if (!item) return;
  QSignalBlocker block(this);
  item->setData(0, kBoldRole, bold);
  ApplyFont(item);
}

void ListView::ApplyFont(QTreeWidgetItem* item) const {
  QFont f = font();
  f.setBold(item->data(0, kBoldRole).toBool());
  for (int c = 0; c < columnCount(); ++c) item->setFont(c, f);
}

QString ListView::SelectedKey() const { return KeyOf(currentItem()); }

void ListView::SetSelectedKey(const QString& key) {
  QTreeWidgetItem* item = Find(key);
  QSignalBlocker block(this);
  if (item) {
    setCurrentItem(item);
  } else {
    setCurrentItem(nullptr);
    clearSelection();
  }
}

void ListView::EnsureVisible(const QString& key) {
  ApplySort();
  if (QTreeWidgetItem* item = Find(key)) scrollToItem(item);
}

// ------------------------------------------------------------------ sorting

void ListView::SortByColumn(int column, Qt::SortOrder order) {
  if (column < 0 || column >= std::max(1, ColumnCount())) return;
  QSignalBlocker block(this);
  sortItems(column, order);
  header()->setSortIndicatorShown(false);
}

void ListView::SetAutoSort(bool on, int column, Qt::SortOrder order) {
  autoSort_ = on;
  sortColumn_ = on ? column : -1;
  sortOrder_ = order;
  if (on) {
    sortPending_ = false;
    SortByColumn(column, order);
  }
}

void ListView::MarkUnsorted() {
  if (!autoSort_ || sortPending_) return;
  sortPending_ = true;
  QMetaObject::invokeMethod(this, [this] { ApplySort(); }, Qt::QueuedConnection);
}

void ListView::ApplySort() const {
  if (!sortPending_) return;
  sortPending_ = false;
  if (autoSort_) const_cast<ListView*>(this)->SortByColumn(sortColumn_, sortOrder_);
}

// --------------------------------------------------------------- label edit

void ListView::SetLabelEditAutomatic(bool automatic) {
  labelEditAutomatic_ = automatic;
  setEditTriggers(automatic ? (QAbstractItemView::SelectedClicked |
                               QAbstractItemView::EditKeyPressed)
                            : QAbstractItemView::NoEditTriggers);
}

bool ListView::edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) {
  if (!index.isValid() || index.column() != 0 || state() == EditingState)
    return QTreeWidget::edit(index, trigger, event);
  // A slow second click only arms a timer; the edit starts when it runs
  // out (as AllEditTriggers). Triggers the list does not take start nothing.
  const bool starts = trigger == AllEditTriggers ||
                      ((editTriggers() & trigger) && trigger != SelectedClicked);
  if (!starts) return QTreeWidget::edit(index, trigger, event);
  bool cancel = false;
  emit BeforeLabelEdit(index.data(kKeyRole).toString(), &cancel);
  if (cancel) return false;
  return QTreeWidget::edit(index, trigger, event);
}

bool ListView::StartLabelEdit(const QString& key) {
  QTreeWidgetItem* item = Find(key);
  if (!item) return false;
  if (editor_) CancelLabelEdit();
  {
    QSignalBlocker block(this);
    setCurrentItem(item);
  }
  scrollToItem(item);
  return edit(indexFromItem(item, 0), AllEditTriggers, nullptr) && editor_;
}

void ListView::EditorOpened(QLineEdit* editor, const QString& key) {
  editor_ = editor;
  editingKey_ = key;
}

void ListView::EditorClosed() {
  editor_ = nullptr;
  editingKey_.clear();
}

bool ListView::CommitEdit(const QString& key, const QString& newText) {
  bool cancel = false;
  emit AfterLabelEdit(key, newText, &cancel);
  if (!cancel && sortColumn_ == 0) MarkUnsorted();
  return !cancel;
}

bool ListView::FinishLabelEdit(const QString& text) {
  if (!editor_) return false;
  QLineEdit* editor = editor_;
  editor->setText(text);
  // What Enter in the editor does: take the text, then close the editor.
  auto* delegate = itemDelegate();
  emit delegate->commitData(editor);
  if (editor_ == editor) emit delegate->closeEditor(editor, QAbstractItemDelegate::NoHint);
  return true;
}

void ListView::CancelLabelEdit() {
  if (!editor_) return;
  emit itemDelegate()->closeEditor(editor_, QAbstractItemDelegate::RevertModelCache);
}

// --------------------------------------------------------------- user input

void ListView::OnItemChanged(QTreeWidgetItem* item, int column) {
  if (column != 0 || !item) return;
  const bool checked = item->checkState(0) == Qt::Checked;
  if (checked == item->data(0, kCheckedRole).toBool()) return;
  {
    QSignalBlocker block(this);
    item->setData(0, kCheckedRole, checked);
  }
  emit ItemCheck(KeyOf(item), checked);
}

void ListView::mousePressEvent(QMouseEvent* event) {
  emit MouseDown(event->button(), event->modifiers(), event->position().toPoint());
  QTreeWidget::mousePressEvent(event);
  QTreeWidgetItem* item = itemAt(event->position().toPoint());
  pressedOnItem_ = item != nullptr;
  if (item) emit ItemClick(KeyOf(item));
}

void ListView::mouseReleaseEvent(QMouseEvent* event) {
  QTreeWidget::mouseReleaseEvent(event);
  emit Click();
}

void ListView::mouseDoubleClickEvent(QMouseEvent* event) {
  QTreeWidget::mouseDoubleClickEvent(event);
  emit DblClick();
}

void ListView::focusInEvent(QFocusEvent* event) {
  QTreeWidget::focusInEvent(event);
  emit GotFocus();
}

void ListView::UserClickItem(const QString& key, Qt::MouseButton button,
                             Qt::KeyboardModifiers modifiers) {
  ApplySort();
  QTreeWidgetItem* item = Find(key);
  if (!item) return;
  emit MouseDown(button, modifiers, visualItemRect(item).center());
  if (Find(key) != item) return;   // the handler rebuilt the list
  setCurrentItem(item);
  scrollToItem(item);
  emit ItemClick(KeyOf(item));
  emit Click();
}

void ListView::UserDoubleClickItem(const QString& key) {
  UserClickItem(key);
  emit DblClick();
}

void ListView::UserSetChecked(const QString& key, bool checked) {
  QTreeWidgetItem* item = Find(key);
  if (!item || Checked(key) == checked) return;
  // Through the model, as the check box does: raises ItemCheck.
  item->setCheckState(0, checked ? Qt::Checked : Qt::Unchecked);
}

}  // namespace mainwindow
