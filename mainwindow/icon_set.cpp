#include "mainwindow/icon_set.h"

#include <QHash>

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

}  // namespace mainwindow
