// Enter presses the command button that has the focus, once, as it does on
// Windows. A Qt push button takes Enter only when it is an auto-default or
// default button, and in a dialog Qt presses the dialog's default button
// rather than the focused one; so one filter on the whole application
// presses the focused button in every window, dialogs included, and takes
// the key, so that neither the button nor its window presses anything more.
// A button that cannot be pressed (disabled or hidden) leaves the key to its
// window.
//
// Header only: each program's start-up installs it once, right after it
// makes its QApplication.
#pragma once

#include <QApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QObject>
#include <QPushButton>
#include <QVariant>

namespace widgets {

class EnterPressesButton : public QObject {
 public:
  using QObject::QObject;

  // True when Enter on this focused button is ours to press.
  static bool TakesEnterFromUs(const QPushButton* button) {
    return button != nullptr && button->isEnabled() && button->isVisible();
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::KeyPress) return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter) return false;
    if ((key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier) return false;
    auto* button = qobject_cast<QPushButton*>(watched);
    if (!TakesEnterFromUs(button)) return false;
    button->click();
    return true;
  }
};

// Installs the filter on `app` once (later calls do nothing).
inline void InstallEnterPressesButton(QApplication& app) {
  static const char* const kInstalled = "widgetsEnterPressesButton";
  if (app.property(kInstalled).toBool()) return;
  app.setProperty(kInstalled, true);
  app.installEventFilter(new EnterPressesButton(&app));
}

}  // namespace widgets
