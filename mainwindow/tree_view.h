// The folder tree of a pane: nodes with a key (the folder's path with a
// trailing separator), a text, an icon key (and one shown while the node is
// selected), a parent and a tag.
//
// Changes made through the methods raise no events; NodeClick and Expand
// come from the user (or a script step doing the same).
#pragma once

#include <QHash>
#include <QStringList>
#include <QTreeWidget>

namespace mainwindow {

class TreeView : public QTreeWidget {
  Q_OBJECT

 public:
  explicit TreeView(QWidget* parent = nullptr);

  void Clear();
  // Adds a node below `parentKey` ("" = a root node). False when the key is
  // empty or used, or the parent does not exist.
  bool AddNode(const QString& parentKey, const QString& key, const QString& text,
               const QString& iconKey = QString(), const QString& selectedIconKey = QString());
  bool Contains(const QString& key) const { return Find(key) != nullptr; }
  int NodeCount() const { return static_cast<int>(nodes_.size()); }
  // Keys in tree order (each node before its children).
  QStringList Keys() const;
  QString ParentKey(const QString& key) const;
  QStringList ChildKeys(const QString& key) const;

  QString Text(const QString& key) const;
  void SetText(const QString& key, const QString& text);
  QString IconKey(const QString& key) const;
  QString SelectedIconKey(const QString& key) const;
  QString Tag(const QString& key) const;
  void SetTag(const QString& key, const QString& tag);

  // Expands or collapses a node. Expanding a collapsed node raises Expand,
  // as the control did when a program set a node expanded.
  void SetExpanded(const QString& key, bool expanded);
  bool Expanded(const QString& key) const;

  QString SelectedKey() const;
  void SetSelectedKey(const QString& key);
  void EnsureVisible(const QString& key);

  // What a user's click on the node does: selects it and raises NodeClick.
  void UserClickNode(const QString& key);

  // Exact key first, then ignoring case.
  QTreeWidgetItem* Find(const QString& key) const;
  QString KeyOf(const QTreeWidgetItem* item) const;

 signals:
  void NodeClick(const QString& key);
  void Expand(const QString& key);
  void MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, QPoint position);

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void UpdateIcon(QTreeWidgetItem* item);
  QHash<QString, QTreeWidgetItem*> nodes_;
};

}  // namespace mainwindow
