#include "mainwindow/wait_window.h"

#include <QFont>
#include <QLabel>

namespace mainwindow {

namespace {
constexpr int Twips(int twips) { return twips / 15; }
}  // namespace

Form9::Form9(QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName(QStringLiteral("Form9"));
  setWindowTitle(QStringLiteral("Topfield Zyphonel"));
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  setFixedSize(Twips(6570), Twips(555));

  Label1 = new QLabel(QStringLiteral("Label1"), this);
  Label1->setObjectName(QStringLiteral("Label1"));
  Label1->setGeometry(0, Twips(120), Twips(6495), Twips(375));
  Label1->setAlignment(Qt::AlignCenter);
  Label1->setTextFormat(Qt::PlainText);
  QFont font(QStringLiteral("MS Sans Serif"));
  font.setStyleHint(QFont::SansSerif);
  Label1->setFont(font);
}

}  // namespace mainwindow
