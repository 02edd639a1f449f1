#include <gtest/gtest.h>

#include <QCursor>
#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>
#include <QTimer>

#include "mainwindow/wait_window.h"
#include "mainwindow/qt_ui.h"
#include "mainwindow/script_runner.h"
#include "test_app.h"

using mainwindow::ConvertFilter;
using mainwindow::OneLine;

TEST(QtUiFilter, BarPairsBecomeQtFilters) {
  EXPECT_EQ(ConvertFilter("Text|*.txt|All|*.*"), "Text (*.txt);;All (*.*)");
  EXPECT_EQ(ConvertFilter(""), "");
  // Patterns separated by ";" become blank-separated.
  EXPECT_EQ(ConvertFilter("Recordings|*.rec;*.REC"), "Recordings (*.rec *.REC)");
  // A description that already shows its patterns keeps them once.
  EXPECT_EQ(ConvertFilter("Topfield System Cluster (*.scc)|*.scc|All files|*.*"),
            "Topfield System Cluster (*.scc);;All files (*.*)");
  EXPECT_EQ(ConvertFilter("Both (*.a;*.b)|*.a;*.b"), "Both (*.a *.b)");
  // A dangling description without patterns is left out.
  EXPECT_EQ(ConvertFilter("Text|*.txt|Broken"), "Text (*.txt)");
}

TEST(QtUiText, LineBreaksOnOneLine) {
  EXPECT_EQ(OneLine("a\r\n\r\nb"), "a\\n\\nb");
  EXPECT_EQ(OneLine("a\nb\rc"), "a\\nb\\nc");
  EXPECT_EQ(OneLine("tab\tstays"), "tab\tstays");
}

namespace {
// The Qt Ui with its protected entries reachable.
class OpenQtUi : public mainwindow::QtUi {
 public:
  using QtUi::DoDoEvents;
  using QtUi::DoHideWait;
  using QtUi::DoSetBusy;
  using QtUi::DoShowWait;
};
}  // namespace

TEST(QtUiWait, WaitWindowShowsTheTextAndGoesAway) {
  TestApp();
  OpenQtUi ui;
  EXPECT_EQ(ui.WaitWindow(), nullptr);
  ui.DoShowWait("Loading Topfield Disk 3. Please stand by.");
  mainwindow::Form9* wait = ui.WaitWindow();
  ASSERT_NE(wait, nullptr);
  EXPECT_TRUE(wait->isVisible());
  EXPECT_EQ(wait->windowTitle(), "Topfield Zyphonel");
  EXPECT_EQ(wait->Label1->text(), "Loading Topfield Disk 3. Please stand by.");
  EXPECT_EQ(wait->Label1->objectName(), "Label1");
  EXPECT_EQ(wait->Label1->alignment(), Qt::AlignCenter);
  EXPECT_EQ(wait->size(), QSize(438, 37));
  EXPECT_EQ(wait->Label1->geometry(), QRect(0, 8, 433, 25));
  // Shown again: the same window with the new text.
  ui.DoShowWait("Scanning Topfield Disk 3. Please stand by.");
  EXPECT_EQ(ui.WaitWindow(), wait);
  EXPECT_EQ(wait->Label1->text(), "Scanning Topfield Disk 3. Please stand by.");
  ui.DoHideWait();
  EXPECT_EQ(ui.WaitWindow(), nullptr);
  ui.DoHideWait();   // twice is harmless
}

// A list of any length: every entry, in a list between the text and the buttons.
TEST(QtUiList, EveryEntryInAListAboveTheButtons) {
  TestApp();
  OpenQtUi ui;
  const std::vector<std::string> entries(200, "a file left out");
  QTimer::singleShot(0, [] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    const auto* list = box->findChild<QListWidget*>("MsgBoxList");
    EXPECT_TRUE(list && list->count() == 200 && list->geometry().bottom() < box->findChild<QDialogButtonBox*>()->geometry().top());
    box->button(QMessageBox::Ok)->click();
  });
  EXPECT_EQ(ui.MsgBoxList("These files:", entries, ui::Buttons::OK), ui::Answer::OK);
}

// Steps of a long loop process events at most once an interval: a posted
// event waits while the last processing is recent, and is handled once the
// interval has passed; a plain DoEvents always processes.
TEST(QtUiSteps, StepEventsArePacedDoEventsAreNot) {
  TestApp();
  OpenQtUi ui;
  int handled = 0;
  QObject target;
  auto post = [&] { QMetaObject::invokeMethod(&target, [&] { ++handled; }, Qt::QueuedConnection); };
  ui.DoDoEvents(true);
  const auto start = std::chrono::steady_clock::now();
  post();
  for (int k = 0; k < 100; ++k) ui.StepEvents();
  if (std::chrono::steady_clock::now() - start < ui::kStepEventsInterval) {
    EXPECT_EQ(handled, 0);
  }
  QThread::msleep(ui::kStepEventsInterval.count() + 5);
  ui.StepEvents();
  EXPECT_EQ(handled, 1);
  post();
  ui.DoDoEvents(true);
  EXPECT_EQ(handled, 2);
}

TEST(QtUiBusy, BusyPointerOnAndOffBalanced) {
  TestApp();
  OpenQtUi ui;
  ASSERT_EQ(QApplication::overrideCursor(), nullptr);
  ui.DoSetBusy(true);
  ui.DoSetBusy(true);
  ASSERT_NE(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
  ui.DoSetBusy(false);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  ui.DoSetBusy(false);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST(QtUiInstall, PlainQtUiWithoutScript) {
  TestApp();
  qunsetenv("QUENBRIX_UI_SCRIPT");
  mainwindow::QtUi& installed = mainwindow::InstallUi();
  EXPECT_EQ(&ui::Current(), &installed);
  EXPECT_EQ(dynamic_cast<mainwindow::ScriptUi*>(&installed), nullptr);
  EXPECT_EQ(&mainwindow::InstallUi(), &installed);
  ui::SetCurrent(nullptr);
}
