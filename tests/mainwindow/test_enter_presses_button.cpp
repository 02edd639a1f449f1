// Enter and keypad Enter press the focused command button exactly once, also where Qt takes them.
#include <gtest/gtest.h>
#include <QDialog>
#include <QKeyEvent>
#include <memory>
#include "tests/mainwindow/test_app.h"
#include "widgets/enter_presses_button.h"
struct Case { const char* Name; bool Dialog, AutoDefault, Enabled; int Clicks; };
class EnterPressesButton : public ::testing::TestWithParam<Case> {};
TEST_P(EnterPressesButton, OnceEachTime) {
  widgets::InstallEnterPressesButton(TestApp()), widgets::InstallEnterPressesButton(TestApp());  // one filter
  const Case& c = GetParam();
  std::unique_ptr<QWidget> window(c.Dialog ? new QDialog : new QWidget);
  auto* button = new QPushButton("Cancel", window.get());
  button->setAutoDefault(c.AutoDefault || c.Dialog), button->setEnabled(c.Enabled), window->show();
  int clicks = 0;
  QObject::connect(button, &QPushButton::clicked, [&] { ++clicks; });
  for (auto [key, mod] : {std::pair{Qt::Key_Return, Qt::NoModifier}, {Qt::Key_Enter, Qt::KeypadModifier}}) {
    QKeyEvent down(QEvent::KeyPress, key, mod), up(QEvent::KeyRelease, key, mod);
    QApplication::sendEvent(button, &down) && QApplication::sendEvent(button, &up);
    EXPECT_EQ(std::exchange(clicks, 0), c.Clicks) << key;
  }
}
const Case kCases[] = {{"PlainWindow", false, false, true, 1}, {"AutoDefault", false, true, true, 1},
                       {"Dialog", true, false, true, 1}, {"Disabled", false, false, false, 0}};
INSTANTIATE_TEST_SUITE_P(Buttons, EnterPressesButton, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.Name); });
