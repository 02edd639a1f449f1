#include "mainwindow/icon_set.h"

#include <QColor>
#include <QHash>
#include <QPainter>
#include <QPixmap>

namespace mainwindow {

namespace {
QHash<QString, QIcon>& Store() {
  static QHash<QString, QIcon> icons;
  return icons;
}
}  // namespace

void RegisterIcon(const QString& key, const QIcon& icon) { Store().insert(key, icon); }

QIcon IconFor(const QString& key) {
  if (key.isEmpty()) return QIcon();
  return Store().value(key);
}

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
