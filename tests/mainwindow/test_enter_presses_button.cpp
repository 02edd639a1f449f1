// Enter and keypad Enter press the focused command button exactly once, in dialogs too; a button that cannot
// be pressed leaves the key to its window.
#include <gtest/gtest.h>
#include <QDialog>
#include <QKeyEvent>
#include <memory>
#include "tests/mainwindow/test_app.h"
#include "widgets/enter_presses_button.h"
struct Case { const char* Name; bool Dialog, AutoDefault, Enabled, OtherDefault; int Clicks, OtherClicks, WindowKeys; };
struct KeysSeen : QObject {
  int Count = 0;
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::KeyPress) ++Count;
    return false;
  }
};
class EnterPressesButton : public ::testing::TestWithParam<Case> {};
TEST_P(EnterPressesButton, OnceEachTime) {
  widgets::InstallEnterPressesButton(TestApp()), widgets::InstallEnterPressesButton(TestApp());  // one filter
  const Case& c = GetParam();
  std::unique_ptr<QWidget> window(c.Dialog ? new QDialog : new QWidget);
  auto* button = new QPushButton("Cancel", window.get());
  auto* other = new QPushButton("Set", window.get());
  button->setAutoDefault(c.AutoDefault), other->setAutoDefault(false), other->setDefault(c.OtherDefault);
  button->setEnabled(c.Enabled), window->show();
  int clicks = 0, otherClicks = 0;
  KeysSeen seen;
  window->installEventFilter(&seen);
  QObject::connect(button, &QPushButton::clicked, [&] { ++clicks; });
  QObject::connect(other, &QPushButton::clicked, [&] { ++otherClicks; });
  for (auto [key, mod] : {std::pair{Qt::Key_Return, Qt::NoModifier}, {Qt::Key_Enter, Qt::KeypadModifier}}) {
    QKeyEvent down(QEvent::KeyPress, key, mod), up(QEvent::KeyRelease, key, mod);
    QApplication::sendEvent(button, &down), QApplication::sendEvent(button, &up);
    EXPECT_EQ(std::exchange(clicks, 0), c.Clicks) << key;
    EXPECT_EQ(std::exchange(otherClicks, 0), c.OtherClicks) << key;
    EXPECT_EQ(std::exchange(seen.Count, 0), c.WindowKeys) << key;
  }
}
// Each row fails on its fault: no press at all (PlainWindow), a press of Qt's on top of ours (AutoDefault),
// dialogs left to Qt (Dialog, DialogWithDefault), a disabled button swallowing the key (Disabled).
const Case kCases[] = {{"PlainWindow", false, false, true, false, 1, 0, 0},
                       {"AutoDefault", false, true, true, false, 1, 0, 0},
                       {"Dialog", true, false, true, false, 1, 0, 0},
                       {"DialogWithDefault", true, false, true, true, 1, 0, 0},
                       {"Disabled", false, false, false, false, 0, 0, 1}};
INSTANTIATE_TEST_SUITE_P(Buttons, EnterPressesButton, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.Name); });
