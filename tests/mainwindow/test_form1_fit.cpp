// The windows at their default size in the font in use: no label, button,
// list header or column narrower than its text, no window narrower than its
// title; and the progress bars in their colours, through the real windows.
#include <QCheckBox>
#include <QHeaderView>
#include <QInputDialog>
#include <QPalette>
#include <QProgressBar>
#include <QTimer>
#include <functional>

#include "commands/file_date.h"
#include "core/power.h"
#include "mainwindow/source_disk_dialog.h"
#include "mainwindow/wait_window.h"
#include "mainwindow/qt_ui.h"
#include "widgets/window_fit.h"
#include "tests/mainwindow/form1_pane_fixture.h"
#include "tools/recovery.h"
#include "tools/recovery_window.h"
#include "transfer/progress_window.h"
#include "transfer/countdown_window.h"
#include "transfer/job_progress.h"

namespace {

namespace ib = imagebuilder;
using form1test::PaneTest;

// The widest cell of a list column, as the view measures it (a protected
// member, reached through a member pointer).
struct ColumnHint : mainwindow::ListView {
  using QTreeView::sizeHintForColumn;
};
int WidestCell(const mainwindow::ListView* list, int column) {
  int (QTreeView::*hint)(int) const = &ColumnHint::sizeHintForColumn;
  return (list->*hint)(column);
}

// What of `window` is narrower than its text, one line each ("" = nothing).
std::string CutTexts(QWidget* window) {
  std::string cut;
  auto report = [&](const QObject* w, const QString& text, int width, int need) {
    if (width < need)
      cut += w->objectName().toStdString() + " \"" + text.toStdString() + "\": " +
             std::to_string(width) + " < " + std::to_string(need) + "\n";
  };
  report(window, window->windowTitle(), window->width(),
         widgets::TitleWidth(window->windowTitle()));
  for (QWidget* w : window->findChildren<QWidget*>()) {
    if (!w->isVisibleTo(window)) continue;
    if (auto* label = qobject_cast<QLabel*>(w)) {
      // A path label gives way by showing the end of its path.
      if (label->wordWrap() || dynamic_cast<widgets::ElidedLabel*>(label)) continue;
      report(label, label->text(), label->contentsRect().width(),
             widgets::TextWidth(label, label->text()));
    } else if (auto* box = qobject_cast<QCheckBox*>(w)) {
      report(box, box->text(), box->width(), box->sizeHint().width());
    } else if (auto* button = qobject_cast<QPushButton*>(w)) {
      report(button, button->text(), button->width(),
             widgets::TextWidth(button, button->text()) + 8);
    } else if (auto* list = qobject_cast<mainwindow::ListView*>(w)) {
      for (int c = 0; c < list->ColumnCount(); ++c) {
        // Any column may be the sorted one, with the sort icon beside its caption.
        const QString icon = list->ColumnIconKey(c);
        list->SetColumnIcon(c, "SortDesc");
        report(list, list->ColumnCaption(c), list->columnWidth(c),
               list->header()->sectionSizeHint(c));
        list->SetColumnIcon(c, icon);
        report(list, "column " + QString::number(c), list->columnWidth(c),
               WidestCell(list, c));
      }
    }
  }
  return cut;
}

// Run in the desktop's font and in a larger one: the windows take their
// sizes from the font they are made with.
class FitTest : public PaneTest, public ::testing::WithParamInterface<int> {
 protected:
  void SetUp() override {
    TestApp();
    font_ = QApplication::font();
    QFont larger = font_;
    larger.setPointSizeF(font_.pointSizeF() + GetParam());
    QApplication::setFont(larger);
    PaneTest::SetUp();
    mainwindow::InstallWindowHooks();
  }
  void TearDown() override {
    transfer::UnloadProgressWindow();
    transfer::UnloadCountdownWindow();
    if (tools::RecoveryWindow()) delete tools::RecoveryWindow();
    PaneTest::TearDown();
    QApplication::setFont(font_);
  }
  QFont font_;
  // Left a recorder disk with a dated recording, right the PC folder.
  void Panes() {
    ib::DiskImage image = form1test::StandardImage();
    ib::FileSpec film;
    film.Path = "\\DataFiles\\Evening News.rec";
    film.Header = ib::RecHeader{};
    film.Header->DurationMinutes = 95;
    film.When = {2006, 12, 28, 20, 15, 0};
    film.Size = 90000;
    image.AddFile(film);
    StandardPanes(image);
    form->Menu_LVContext_SelectAll_Click();   // the longest summary
    form->TabStrip1[1]->setCurrentIndex(0);   // both lists in front
    form->show();
    QApplication::processEvents();
  }
};

TEST_P(FitTest, EveryWindowAtItsDefaultSizeShowsItsTextsWhole) {
  Panes();
  mainwindow::QtUi qt;
  struct Case {
    const char* Name;
    std::function<QWidget*()> Open;   // shows the window as its users see it
  };
  const Case cases[] = {
      {"main window", [&] { return static_cast<QWidget*>(form.get()); }},
      {"progress window",
       [] {
         transfer::ShowProgressWindow();
         transfer::Form2* w = transfer::ProgressWindow();
         w->SetStatus("Actual file 1 of 1 = Evening News");
         transfer::ProgressTexts texts;
         texts.File = texts.Job = true;
         texts.FileEta = texts.JobEta = "ETA = 28.12.2026 20:15";
         texts.Rate = "All files: 88.8 MB/s";
         texts.Caption = transfer::kForm2Caption;
         w->ShowProgress(texts);
         return static_cast<QWidget*>(w);
       }},
      {"countdown window",
       [] { return static_cast<QWidget*>(new transfer::Form4()); }},
      {"recovery window",
       [] {
         tools::ShowRecovery();
         tools::RecoveryWindow()->Label1[1]->setText("ETA = 28.12.2026 20:15");
         return static_cast<QWidget*>(tools::RecoveryWindow());
       }},
      {"source-disk dialog",
       [] {
         auto* w = new mainwindow::Form6();
         w->AddEntry("Disk 1: \t40.0 GB\t (this seems to be a TF disk)", 1);
         return static_cast<QWidget*>(w);
       }},
      {"wait window",
       [] {
         auto* w = new mainwindow::Form9();
         w->Label1->setText("Loading Topfield Disk 1. Please stand by.");
         return static_cast<QWidget*>(w);
       }},
      {"file date window", [] { return static_cast<QWidget*>(new commands::Form11()); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    QWidget* w = c.Open();
    w->show();
    QApplication::processEvents();
    EXPECT_EQ(CutTexts(w), "");
    if (w != form.get() && !w->parent() && w != transfer::ProgressWindow())
      delete w;
    else
      w->hide();
  }

  // The input box, as the real Ui shows it.
  std::string cut = "not shown";
  QTimer::singleShot(0, [&] {
    if (QWidget* box = QApplication::activeModalWidget()) {
      cut = CutTexts(box);
      static_cast<QDialog*>(box)->reject();
    }
  });
  ui::CurrentUiScope use(qt);
  ui::Current().InputBox("Enter cluster number", "Topfield Zyphonel - Read Cluster");
  EXPECT_EQ(cut, "");
}

TEST_P(FitTest, ProgressBarsTakeTheirColoursInTheRealWindows) {
  Panes();
  auto bar = [](QProgressBar* pb) { return pb->palette().color(QPalette::Highlight); };
  transfer::ShowProgressWindow();
  EXPECT_EQ(bar(transfer::ProgressWindow()->PB1[0]), QColor(128, 0, 0));
  EXPECT_EQ(bar(transfer::ProgressWindow()->PB1[1]), QColor(0, 128, 0));

  auto previous = platform::SetPowerHandler([](platform::PowerAction) { return true; });
  transfer::SetCountdownTickInterval(1);
  QTimer::singleShot(0, [] {
    if (transfer::Form4* f = transfer::CountdownWindow()) f->Command1->click();
  });
  transfer::DoHibernate();
  platform::SetPowerHandler(previous);
  transfer::SetCountdownTickInterval(10);
  ASSERT_NE(transfer::CountdownWindow(), nullptr);
  EXPECT_EQ(bar(transfer::CountdownWindow()->PB1), QColor(192, 0, 0));
  EXPECT_TRUE(transfer::CountdownWindow()->windowFlags() & Qt::WindowStaysOnTopHint);

  tools::ShowRecovery();
  ASSERT_NE(tools::RecoveryWindow(), nullptr);
  EXPECT_EQ(bar(tools::RecoveryWindow()->PB1), QColor(255, 192, 0));
}

INSTANTIATE_TEST_SUITE_P(Fonts, FitTest, ::testing::Values(0, 3));

}  // namespace
