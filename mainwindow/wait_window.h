// The wait window: a one-line notice shown while a long single step runs.
// Shown and unloaded by the Qt Ui's ShowWait / HideWait.
#pragma once

#include <QWidget>

class QLabel;

namespace mainwindow {

class Form9 : public QWidget {
  Q_OBJECT

 public:
  explicit Form9(QWidget* parent = nullptr);

  QLabel* Label1 = nullptr;
};

}  // namespace mainwindow
