// Enter and the keypad's Enter press the focused command button exactly once:
// in a plain window (as every window of ours is), in a dialog, and on an
// auto-default button, where Qt already takes the key itself.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QPushButton>
#include <QKeyEvent>
#include <QVBoxLayout>
#include <memory>

#include "widgets/enter_presses_button.h"

namespace {

QApplication& App() {
  static int argc = 1;
  static char name[] = "test_enter_presses_button";
  static char* argv[] = {name, nullptr};
  static QApplication* app = [] {
    auto* a = new QApplication(argc, argv);
    widgets::InstallEnterPressesButton(*a);
    widgets::InstallEnterPressesButton(*a);  // a second install adds nothing
    return a;
  }();
  return *app;
}

// A key as the window system delivers it to the focused widget.
void Press(QWidget* target, int key, Qt::KeyboardModifiers modifiers) {
  QKeyEvent down(QEvent::KeyPress, key, modifiers);
  QApplication::sendEvent(target, &down);
  QKeyEvent up(QEvent::KeyRelease, key, modifiers);
  QApplication::sendEvent(target, &up);
  QCoreApplication::processEvents();
}

struct Case {
  const char* Name;
  bool InDialog;
  bool AutoDefault;
  bool Enabled;
  int Clicks;  // per key
};

class EnterPressesButton : public ::testing::TestWithParam<Case> {};

TEST_P(EnterPressesButton, OnceEachTime) {
  App();
  const Case& c = GetParam();
  std::unique_ptr<QWidget> window(c.InDialog ? new QDialog : new QWidget);
  auto* layout = new QVBoxLayout(window.get());
  auto* other = new QPushButton("Other", window.get());
  auto* button = new QPushButton("Cancel", window.get());
  layout->addWidget(other);
  layout->addWidget(button);
  if (!c.InDialog) button->setAutoDefault(c.AutoDefault);
  button->setEnabled(c.Enabled);
  window->show();
  window->activateWindow();
  button->setFocus();
  int clicks = 0, otherClicks = 0;
  QObject::connect(button, &QPushButton::clicked, [&] { ++clicks; });
  QObject::connect(other, &QPushButton::clicked, [&] { ++otherClicks; });
  for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter}) {
    const int before = clicks;
    Press(button, key, key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier);
    EXPECT_EQ(clicks - before, c.Clicks) << (key == Qt::Key_Return ? "Return" : "Enter");
  }
  EXPECT_EQ(otherClicks, 0);
}

const Case kCases[] = {
    {"PlainWindow", false, false, true, 1},
    {"PlainWindowAutoDefault", false, true, true, 1},
    {"Dialog", true, false, true, 1},
    {"DisabledButton", false, false, false, 0},
};

INSTANTIATE_TEST_SUITE_P(Buttons, EnterPressesButton, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.Name); });

}  // namespace
