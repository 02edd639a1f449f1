#include "mainwindow/tree_view.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QSignalBlocker>

#include "mainwindow/icon_set.h"

namespace mainwindow {

namespace {
constexpr int kKeyRole = Qt::UserRole;
constexpr int kIconKeyRole = Qt::UserRole + 1;
constexpr int kSelectedIconKeyRole = Qt::UserRole + 2;
constexpr int kTagRole = Qt::UserRole + 3;
}  // namespace

TreeView::TreeView(QWidget* parent) : QTreeWidget(parent) {
  setColumnCount(1);
  setHeaderHidden(true);
  setRootIsDecorated(true);
  setUniformRowHeights(true);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setIndentation(200 / 15);
  header()->setStretchLastSection(true);
  connect(this, &QTreeWidget::itemExpanded, this, [this](QTreeWidgetItem* item) {
    emit Expand(KeyOf(item));
  });
  connect(this, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* item, int) {
    if (item) emit NodeClick(KeyOf(item));
  });
  connect(this, &QTreeWidget::currentItemChanged, this,
          [this](QTreeWidgetItem* current, QTreeWidgetItem* previous) {
            if (previous) UpdateIcon(previous);
            if (current) UpdateIcon(current);
          });
}

QTreeWidgetItem* TreeView::Find(const QString& key) const {
  if (key.isEmpty()) return nullptr;
  auto it = nodes_.constFind(key);
  if (it != nodes_.constEnd()) return it.value();
  for (auto i = nodes_.constBegin(); i != nodes_.constEnd(); ++i)
    if (i.key().compare(key, Qt::CaseInsensitive) == 0) return i.value();
  return nullptr;
}

QString TreeView::KeyOf(const QTreeWidgetItem* item) const {
  return item ? item->data(0, kKeyRole).toString() : QString();
}

void TreeView::Clear() {
  QSignalBlocker block(this);
  clear();
  nodes_.clear();
}

bool TreeView::AddNode(const QString& parentKey, const QString& key, const QString& text,
                       const QString& iconKey, const QString& selectedIconKey) {
  if (key.isEmpty() || nodes_.contains(key)) return false;
  QTreeWidgetItem* parent = nullptr;
  if (!parentKey.isEmpty()) {
    parent = Find(parentKey);
    if (!parent) return false;
  }
  QSignalBlocker block(this);
  auto* item = new QTreeWidgetItem();
  item->setText(0, text);
  item->setData(0, kKeyRole, key);
  item->setData(0, kIconKeyRole, iconKey);
  item->setData(0, kSelectedIconKeyRole, selectedIconKey.isEmpty() ? iconKey : selectedIconKey);
  item->setIcon(0, IconFor(iconKey));
  if (parent)
    parent->addChild(item);
  else
    addTopLevelItem(item);
  nodes_.insert(key, item);
  return true;
}

QStringList TreeView::Keys() const {
  QStringList keys;
  keys.reserve(NodeCount());
  std::vector<const QTreeWidgetItem*> stack;
  for (int i = topLevelItemCount() - 1; i >= 0; --i) stack.push_back(topLevelItem(i));
  while (!stack.empty()) {
    const QTreeWidgetItem* item = stack.back();
    stack.pop_back();
    keys.append(KeyOf(item));
    for (int i = item->childCount() - 1; i >= 0; --i) stack.push_back(item->child(i));
  }
  return keys;
}

QString TreeView::ParentKey(const QString& key) const {
  QTreeWidgetItem* item = Find(key);
  return item ? KeyOf(item->parent()) : QString();
}

QStringList TreeView::ChildKeys(const QString& key) const {
  QStringList keys;
  if (QTreeWidgetItem* item = Find(key))
    for (int i = 0; i < item->childCount(); ++i) keys.append(KeyOf(item->child(i)));
  return keys;
}

QString TreeView::Text(const QString& key) const {
  QTreeWidgetItem* item = Find(key);
  return item ? item->text(0) : QString();
}

void TreeView::SetText(const QString& key, const QString& text) {
  if (QTreeWidgetItem* item = Find(key)) {
    QSignalBlocker block(this);
    item->setText(0, text);
  }
}

QString TreeView::IconKey(const QString& key) const {
  QTreeWidgetItem* item = Find(key);
  return item ? item->data(0, kIconKeyRole).toString() : QString();
}

QString TreeView::SelectedIconKey(const QString& key) const {
  QTreeWidgetItem* item = Find(key);
  return item ? item->data(0, kSelectedIconKeyRole).toString() : QString();
}

QString TreeView::Tag(const QString& key) const {
  QTreeWidgetItem* item = Find(key);
  return item ? item->data(0, kTagRole).toString() : QString();
}

void TreeView::SetTag(const QString& key, const QString& tag) {
  if (QTreeWidgetItem* item = Find(key)) {
    QSignalBlocker block(this);
    item->setData(0, kTagRole, tag);
  }
}

void TreeView::SetExpanded(const QString& key, bool expanded) {
  QTreeWidgetItem* item = Find(key);
  if (!item) return;
  const bool wasExpanded = item->isExpanded();
  {
    QSignalBlocker block(this);
    item->setExpanded(expanded);
  }
  if (expanded && !wasExpanded) emit Expand(KeyOf(item));
}

bool TreeView::Expanded(const QString& key) const {
  QTreeWidgetItem* item = Find(key);
  return item && item->isExpanded();
}

QString TreeView::SelectedKey() const { return KeyOf(currentItem()); }

void TreeView::SetSelectedKey(const QString& key) {
  QTreeWidgetItem* item = Find(key);
  QSignalBlocker block(this);
  QTreeWidgetItem* previous = currentItem();
  setCurrentItem(item);
  if (previous) UpdateIcon(previous);
  if (item) UpdateIcon(item);
}

void TreeView::EnsureVisible(const QString& key) {
  if (QTreeWidgetItem* item = Find(key)) scrollToItem(item);
}

void TreeView::UpdateIcon(QTreeWidgetItem* item) {
  const bool selected = item == currentItem();
  const QString iconKey = item->data(0, selected ? kSelectedIconKeyRole : kIconKeyRole).toString();
  QSignalBlocker block(this);
  item->setIcon(0, IconFor(iconKey));
}

void TreeView::UserClickNode(const QString& key) {
  QTreeWidgetItem* item = Find(key);
  if (!item) return;
  emit MouseDown(Qt::LeftButton, Qt::NoModifier, visualItemRect(item).center());
  if (Find(key) != item) return;
  // No scrolling: that would expand the parents, which a click does not.
  setCurrentItem(item);
  emit NodeClick(KeyOf(item));
}

// A node chosen with the keyboard (arrow keys, Home, End, Page Up/Down, a
// first letter) raises NodeClick as a click does, so the list follows.
void TreeView::keyPressEvent(QKeyEvent* event) {
  QTreeWidgetItem* before = currentItem();
  QTreeWidget::keyPressEvent(event);
  QTreeWidgetItem* after = currentItem();
  if (after != nullptr && after != before) emit NodeClick(KeyOf(after));
}

void TreeView::mousePressEvent(QMouseEvent* event) {
  emit MouseDown(event->button(), event->modifiers(), event->position().toPoint());
  QTreeWidget::mousePressEvent(event);
}

}  // namespace mainwindow
