#include "mainwindow/icon_set.h"

#include <QColor>
#include <QHash>
#include <QPainter>
#include <QPixmap>

namespace mainwindow {

namespace {
struct Registry {
  QHash<QString, QIcon> Icons;
  QStringList Order;
};
Registry& Store() {
  static Registry registry;
  return registry;
}
}  // namespace

void RegisterIcon(const QString& key, const QIcon& icon) {
  Registry& store = Store();
  if (!store.Icons.contains(key)) store.Order.append(key);
  store.Icons.insert(key, icon);
}

QIcon IconFor(const QString& key) {
  if (key.isEmpty()) return QIcon();
  return Store().Icons.value(key);
}

bool HasIcon(const QString& key) { return Store().Icons.contains(key); }

QStringList IconKeys() { return Store().Order; }

QIcon MakeSwatchIcon(const QColor& color) {
  QPixmap pixmap(16, 16);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setPen(color.darker(160));
  painter.setBrush(color);
  painter.drawRect(2, 2, 11, 11);
  painter.end();
  return QIcon(pixmap);
}

}  // namespace mainwindow
