// The defragmenter window driven in-process (offscreen, scripted Ui): its
// controls and texts, a whole run from the Defrag button, the clearing
// captions, the refused close while running, the after-job action, a click
// while a close waits.
#include <QComboBox>
#include <QKeyEvent>
#include <unistd.h>
#include <cstdio>
#include <fstream>
#include <QHeaderView>
#include <QPointer>
#include <QScreen>
#include <QLabel>
#include <QPushButton>
#include <QTabBar>
#include <QWindow>

#include "core/power.h"
#include "core/settings.h"
#include "mainwindow/form1.h"
#include "mainwindow/list_view.h"
#include "platform/platform.h"
#include "tests/tools/defrag_fixture.h"
#include "tools/cluster_map.h"
#include "tools/defrag.h"
#include "tools/defrag_window.h"
#include "tools/recovery.h"
#include "tools/recovery_window.h"
#include "transfer/countdown_window.h"
#include "widgets/window_fit.h"

namespace defragtest {
namespace {

// This program's screen: 1024 x 700, no window frame told (as before the window manager frames one).
const bool kSmallScreen = [] {
  static const std::string path = "/tmp/defrag-screen-" + std::to_string(getpid()) + ".json";
  std::ofstream(path) << R"({"windowFrameMargins": false, "screens": [{"width": 1024, "height": 700}]})";
  std::atexit([] { std::remove(path.c_str()); });
  return qputenv("QT_QPA_PLATFORM", ("offscreen:configfile=" + path).c_str());
}();

class WindowTest : public DefragTest {
 protected:
  void SetUp() override {
    DefragTest::SetUp();
    transfer::SetCountdownTickInterval(0);
    platform::SetPowerHandler([this](platform::PowerAction a) {
      powered.push_back(a);
      return true;
    });
  }
  void TearDown() override {
    tools::DefragRunning = false;
    tools::UnloadDefragWindow();
    transfer::UnloadCountdownWindow();
    platform::SetPowerHandler([](platform::PowerAction) { return false; });
    transfer::SetCountdownTickInterval(10);
    DefragTest::TearDown();
  }
  tools::Form3* Open() {
    tools::ShowDefragmenter();
    return tools::DefragWindow();
  }
  std::vector<platform::PowerAction> powered;
};

ib::DiskImage Image() {
  ib::DiskImage image(DefragTest::Spec(80));
  image.AddFile(DefragTest::File("\\DataFiles\\a.rec", {10, 12, 14}, 1));
  image.AddFile(DefragTest::File("\\DataFiles\\b.rec", {11, 13}, 2));
  return image;
}

TEST_F(WindowTest, LoadShowsMapReportAndControls) {
  Load(Image());
  tools::Form3* f = Open();
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->objectName(), "Form3");
  EXPECT_EQ(f->windowTitle(), "Topfield Zyphonel - Defragment Disk");
  EXPECT_EQ(f->Command1->text(), "Defrag");
  EXPECT_EQ(f->Command2->text(), "Close");
  EXPECT_EQ(f->Command3->text(), "Clear free space");
  EXPECT_EQ(f->Label1[0]->text(), "Ready");
  EXPECT_EQ(f->Label2[5]->text(), "Set process priority to ");
  EXPECT_EQ(f->Label2[6]->text(), "After the copy has finished");
  ASSERT_EQ(f->Combo1->count(), 3);
  EXPECT_EQ(f->Combo1->currentIndex(), 0);
  EXPECT_EQ(f->Combo1->itemText(2), "shut down");
  EXPECT_EQ(f->Combo2->currentIndex(), 1);
  EXPECT_EQ(f->Combo2->itemText(0), "Low");
  EXPECT_EQ(f->TabStrip1->tabText(0), "Graphic");
  EXPECT_EQ(f->TabStrip1->tabText(1), "Report");
  EXPECT_EQ(f->CurrentPage(), 0);
  EXPECT_EQ(tools::NeedsPlacing.size(), size_t(core::Disk[0].FileCount));
  // The report lists both fragmented files.
  EXPECT_EQ(f->LV1->ItemCount(), 2);
  // The map shows the fragmented clusters red.
  EXPECT_EQ(f->Picture1->ColorOf(12), 0xC02020u);
  f->TabStrip1->setCurrentIndex(1);
  EXPECT_EQ(f->CurrentPage(), 1);
  // A second call brings the same window forward.
  tools::ShowDefragmenter();
  EXPECT_EQ(tools::DefragWindow(), f);
}

// The window's frame lies inside the screen's available area, its top at
// the area's top edge.
void ExpectOnScreen(QWidget* w) {
  const QRect area = w->screen()->availableGeometry();
  const QRect frame = w->frameGeometry();
  EXPECT_EQ(frame.top(), area.top()) << w->objectName().toStdString();
  EXPECT_TRUE(area.contains(frame)) << w->objectName().toStdString() << " " << frame.width()
                                    << "x" << frame.height() << " on " << area.width() << "x"
                                    << area.height();
}

// Every button lies whole in the window, and on the screen below the title bar
// to come; Escape closes the idle window, and during a run cancels it instead.
TEST_F(WindowTest, FitsASmallScreenAndEscapeClosesItWhenIdle) {
  const QRect area(0, 0, 1024, 700);
  ASSERT_EQ(QGuiApplication::primaryScreen()->availableGeometry(), area);
  Load(Image());
  tools::Form3* f = Open();
  ASSERT_NE(f, nullptr);
  for (const QPushButton* b : {f->Command1, f->Command3, f->Command2}) {
    const QRect r(b->mapTo(f, QPoint()), b->size());
    EXPECT_TRUE(f->rect().contains(r) && area.contains(r.translated(f->pos() + QPoint(0, widgets::kFrameHeight))))
        << b->text().toStdString();
  }
  QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  transfer::CancelState = 0;
  for (const bool running : {true, false}) {
    tools::DefragRunning = running;
    QApplication::sendEvent(f->Command1, &escape);
    EXPECT_EQ(tools::DefragWindow() == f, running);
    EXPECT_EQ(transfer::CancelState, -1);   // set by the first, kept by the second
  }
}

TEST_F(WindowTest, TheTwoToolWindowsRefuseEachOtherAndStayOnTheScreen) {
  Load(Image());
  mainwindow::Form1 main;   // its controls, not loaded
  ASSERT_EQ(mainwindow::MainForm(), &main);
  tools::ShowRecovery();
  QPointer<tools::Form5> recovery = tools::RecoveryWindow();
  ASSERT_FALSE(recovery.isNull());
  ExpectOnScreen(recovery);
  EXPECT_EQ(recovery->windowType(), Qt::Dialog);   // the desktop learns its owner
  script.ExpectMsgBox(tools::kCloseRecoveryFirstText, ui::Answer::OK, ui::ScriptedUi::Match::Exact);
  EXPECT_EQ(Open(), nullptr);
  recovery->close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  ASSERT_TRUE(recovery.isNull());

  tools::Form3* f = Open();
  ASSERT_NE(f, nullptr);
  ExpectOnScreen(f);
  EXPECT_EQ(f->parentWidget(), nullptr);   // owned once the main window is back
  main.setWindowState(Qt::WindowNoState);
  EXPECT_EQ(f->windowHandle()->transientParent(), main.windowHandle());
  ExpectOnScreen(f);
  EXPECT_FALSE(main.Combo1[0]->isEnabled());
  script.ExpectMsgBox(tools::kCloseDefragFirstText, ui::Answer::OK, ui::ScriptedUi::Match::Exact);
  tools::ShowRecovery();
  EXPECT_EQ(tools::RecoveryWindow(), nullptr);
  EXPECT_TRUE(script.AllAnswered());
  {
    // Nor does a scan of a recovery window made some other way hand the
    // main window back while the defragmenter is open.
    tools::Form5 w;
    w.Form_Load();
    w.Command1_Click();
    EXPECT_FALSE(main.Combo1[0]->isEnabled());
  }
  f->Command2->click();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(tools::DefragWindow(), nullptr);
  EXPECT_TRUE(main.Combo1[0]->isEnabled());
}

TEST_F(WindowTest, ReportHasNoCheckBoxesAndWholeHeaders) {
  Load(Image());
  tools::Form3* f = Open();
  ASSERT_EQ(f->LV1->ItemCount(), 2);
  for (const QString& key : f->LV1->Keys()) {
    EXPECT_FALSE(f->LV1->Find(key)->data(0, Qt::CheckStateRole).isValid());
    EXPECT_FALSE(f->LV1->Find(key)->flags() & Qt::ItemIsUserCheckable);
  }
  const QFontMetrics metrics(f->LV1->header()->font());
  for (int column = 0; column < f->LV1->ColumnCount(); ++column)
    EXPECT_GT(f->LV1->columnWidth(column),
              metrics.horizontalAdvance(f->LV1->ColumnCaption(column)) + 16)
        << column;
}

TEST_F(WindowTest, DefragButtonRunsAWholeRunAndCanLogIt) {
  Load(Image());
  const auto before = ReadImageFiles(ImagePath());
  core::INISetString(core::AppDir() + "Quenbrix.ini", "View", "DefragDebug", "1");
  tools::Form3* f = Open();
  f->Command1->click();
  EXPECT_FALSE(tools::DefragRunning);
  EXPECT_EQ(f->Command1->text(), "Defrag");
  EXPECT_TRUE(f->Command1->isEnabled());
  EXPECT_TRUE(f->Command2->isEnabled());
  EXPECT_TRUE(f->Command3->isEnabled());
  EXPECT_EQ(f->Label1[0]->text(), "Ready");
  EXPECT_EQ(f->LV1->ItemCount(), 0);   // nothing fragmented any more
  const auto after = ReadImageFiles(ImagePath());
  ExpectSameFiles(before, after);
  ExpectContiguous(after);
  ExpectPacked();
  ExpectConsistent();
  EXPECT_NE(ib::ReadWholeFile(tools::DefragLogPath()).find("  Defrag.\r\n"), std::string::npos);
  EXPECT_TRUE(powered.empty());
}

TEST_F(WindowTest, EmergencyExitKeepsDefragDisabledUntilClearing) {
  Load(Image(), /*writable=*/false);
  tools::Form3* f = Open();
  f->Command1->click();
  EXPECT_FALSE(f->Command1->isEnabled());
  EXPECT_TRUE(f->Command2->isEnabled());
  EXPECT_EQ(f->Label1[1]->text().left(4), "--- ");
  EXPECT_EQ(f->Label1[0]->text(), "Ready");
}

TEST_F(WindowTest, ClearFreeSpaceCaptionsAndAfterJobShutdown) {
  Load(Image());
  tools::Form3* f = Open();
  QString captionDuring;
  std::vector<QString> progress;
  script.SetDoEventsHook([&](bool) {
    if (captionDuring.isEmpty() && tools::DefragRunning) captionDuring = f->windowTitle();
    if (progress.empty() || progress.back() != f->Label1[0]->text())
      progress.push_back(f->Label1[0]->text());
  });
  f->Combo1->setCurrentIndex(2);   // shut down
  f->Command3->click();
  script.SetDoEventsHook(nullptr);
  EXPECT_EQ(captionDuring, "Topfield Zyph - Clearing unused space");
  // The status line counts the percentage up to 100.
  ASSERT_GE(progress.size(), 3u);
  EXPECT_NE(std::find(progress.begin(), progress.end(), "Clearing unused space 100%"),
            progress.end());
  EXPECT_EQ(f->Label1[0]->text(), "Ready");
  EXPECT_EQ(f->windowTitle(), "Topfield Zyph - Defragment Disk");
  EXPECT_EQ(f->Command3->text(), "Clear free space");
  ASSERT_EQ(powered.size(), 1u);
  EXPECT_EQ(powered[0], platform::PowerAction::Shutdown);
}

TEST_F(WindowTest, CancelledRunHasNoAfterJobAction) {
  Load(Image());
  tools::Form3* f = Open();
  f->Combo1->setCurrentIndex(1);   // hibernate
  script.SetDoEventsHook([&](bool) {
    if (tools::DefragRunning && f->Command1->text() == "Cancel") f->Command1->click();
  });
  f->Command1->click();
  script.SetDoEventsHook(nullptr);
  EXPECT_NE(transfer::CancelState, 0);
  EXPECT_TRUE(powered.empty());
  ExpectConsistent();
}

TEST_F(WindowTest, CloseIsRefusedWhileRunning) {
  Load(Image());
  tools::Form3* f = Open();
  tools::DefragRunning = true;
  EXPECT_FALSE(f->close());
  EXPECT_EQ(transfer::CancelState, -1);
  EXPECT_EQ(tools::DefragWindow(), f);
  tools::DefragRunning = false;
  f->Command2->click();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(tools::DefragWindow(), nullptr);
  EXPECT_EQ(tools::CurrentMap(), nullptr);
}

// A close asked for during the load waits for it, then comes from the event
// loop: a click that lands before it starts nothing, and the window goes.
TEST_F(WindowTest, ClickBeforeAPendingCloseStartsNothing) {
  Load(Image());
  const auto before = ReadImageFiles(ImagePath());
  script.SetDoEventsHook([](bool) {
    if (tools::DefragWindow()) tools::DefragWindow()->close();
  });
  const QPointer<tools::Form3> f = Open();
  script.SetDoEventsHook(nullptr);
  ASSERT_TRUE(f);
  const std::string title = f->windowTitle().toStdString();
  f->Command1->click();
  f->Command3->click();
  EXPECT_EQ(f->windowTitle().toStdString(), title);   // no clearing ran
  for (const auto& [name, file] : ReadImageFiles(ImagePath()))
    EXPECT_EQ(file.Chain, before.at(name).Chain) << name;   // nothing moved
  QCoreApplication::processEvents();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_FALSE(f);
}

}  // namespace
}  // namespace defragtest
