// Progress, rate and estimate texts, and the progress and countdown windows.
#include <QWindow>

#include "core/disk_format.h"
#include "core/number_format.h"
#include "tests/transfer/job_fixture.h"
#include "transfer/job_progress.h"
#include "ui/runs.h"
#include "widgets/owner.h"
#include "widgets/window_fit.h"

namespace jobtest {
namespace {

constexpr double kSecond = 1.0 / 86400.0;
const double kStart = core::DateValue(2005, 12, 24, 19, 0, 0);

TEST(JobProgress, EstimatesAbsoluteAndRelative) {
  // A quarter done after 30 minutes: the end 2 hours after the start.
  EXPECT_EQ(transfer::EstimateText(kStart, kStart + 1800 * kSecond, 25, 100, true), "24.12.2005 21:00");
  EXPECT_EQ(transfer::EstimateText(kStart, kStart + 1800 * kSecond, 25, 100, false), "1h30'");
  // 36 hours left.
  EXPECT_EQ(transfer::EstimateText(kStart, kStart + 12 * 3600 * kSecond, 1, 4, false), "36h00'");
  EXPECT_EQ(transfer::EstimateText(kStart, kStart + 60 * kSecond, 0, 4, true), "");
}

TEST(JobProgress, RefreshEveryThreeSecondsWithCaptionAndRate) {
  transfer::ProgressState s;
  s.FileStart = s.JobStart = kStart;
  s.TotalClusters = 100;
  EXPECT_TRUE(transfer::ProgressDue(s, kStart));   // the first cluster refreshes at once
  // Same second as the start: nothing is refreshed, nothing remembered.
  transfer::ProgressTexts t = transfer::RefreshProgress(s, kStart, 1, 10, 1048576, true);
  EXPECT_FALSE(t.File);
  EXPECT_FALSE(t.Job);
  EXPECT_EQ(s.LastUpdate, 0);
  s.ClustersDone = 25;
  const double now = kStart + 1800 * kSecond;
  t = transfer::RefreshProgress(s, now, 5, 10, 1048576, true);
  EXPECT_TRUE(t.File);
  EXPECT_EQ(t.FileBar, 50);
  EXPECT_EQ(t.JobBar, 25);
  EXPECT_EQ(t.JobEta, "ETA = 24.12.2005 21:00");
  EXPECT_EQ(t.Caption, "21:00-Copy Process");
  EXPECT_EQ(t.Rate, "All files (" + core::FileSizeToString(25.0 * 1048576 / 30, 0, true) + "/min)");
  EXPECT_EQ(s.LastUpdate, now);
  EXPECT_FALSE(transfer::ProgressDue(s, now + 2 * kSecond));
  EXPECT_TRUE(transfer::ProgressDue(s, now + 4 * kSecond));
  // Relative estimates of 100 hours and more lose their first digits in the caption.
  s.ClustersDone = 1;
  s.TotalClusters = 2000;
  t = transfer::RefreshProgress(s, kStart + 185 * kSecond, 1, 10, 512, false);
  EXPECT_EQ(t.JobEta.substr(0, 6), "ETA = ");
  EXPECT_EQ(t.Caption, t.JobEta.substr(t.JobEta.size() - 6) + "-Copy Process");
  EXPECT_GE(t.JobEta.size(), 12u);
}

TEST(JobProgress, FinishCurrentFileNarrowsTheFigures) {
  transfer::ProgressState s;
  s.JobStart = kStart;
  s.FileStart = kStart + 100 * kSecond;
  s.TotalClusters = 500;
  s.ClustersDone = 300;
  EXPECT_FALSE(transfer::SwitchToCurrentFile(s, 0, 4, 10));
  EXPECT_TRUE(transfer::SwitchToCurrentFile(s, 1, 4, 10));
  EXPECT_EQ(s.TotalClusters, 10);
  EXPECT_EQ(s.ClustersDone, 4);
  EXPECT_EQ(s.JobStart, s.FileStart);
  EXPECT_TRUE(transfer::SwitchToCurrentFile(s, 0, 6, 10));   // back to 0 switches again
}

class JobWindows : public JobTest {};

TEST_F(JobWindows, ProgressWindowControlsAndCancelQuestion) {
  transfer::Form2* f = transfer::ProgressWindow();
  EXPECT_EQ(f->objectName(), "Form2");
  EXPECT_EQ(f->windowTitle(), "Topfield Zyphonel - Copy Process");
  EXPECT_EQ(f->Combo1->currentText(), "do nothing");
  EXPECT_EQ(f->Combo2->currentText(), "Normal");
  EXPECT_TRUE(transfer::ProgressDialogUp);
  const std::pair<ui::Answer, int> answers[] = {
      {ui::Answer::Yes, 2}, {ui::Answer::No, 1}, {ui::Answer::Cancel, 0}};
  for (auto [answer, state] : answers) {
    script.ExpectMsgBox(
        "Cancel immediately (Yes=cancel now, No=finish actual file, Cancel=continue copying)",
        answer, ui::ScriptedUi::Match::Exact);
    f->Command1->click();
    EXPECT_EQ(transfer::CancelState, state);
  }
  EXPECT_EQ(script.Prompts().back().Title, "Cancel copy process");
  // A path of 19,000 characters is shortened in the middle; the window keeps its size.
  transfer::ShowProgressWindow();
  const QSize size = f->size();
  f->SetStatus("Creating destination tree: /media/" + std::string(19000, 'x') + "/film.rec");
  QCoreApplication::processEvents();
  const QString shown = dynamic_cast<widgets::ElidedLabel&>(*f->Label1[0]).ShownText();
  EXPECT_EQ(f->size(), size);
  EXPECT_TRUE(shown.startsWith("Creating dest") && shown.endsWith("/film.rec") && shown.contains(QChar(0x2026)))
      << shown.toStdString();
  // While a job runs the window stays open and asks instead.
  transfer::JobRunning = true;
  script.ExpectMsgBox("Cancel immediately", ui::Answer::No);
  EXPECT_FALSE(f->close());
  EXPECT_EQ(transfer::CancelState, 1);
  transfer::JobRunning = false;
  EXPECT_TRUE(f->close());
  EXPECT_TRUE(script.AllAnswered());
}

// Both windows are owned by the main window, unless that is minimised.
TEST_F(JobWindows, ProgressAndCountdownOwnedByTheMainWindow) {
  for (const bool minimised : {false, true}) {
    QWidget main;
    widgets::SetMainWindow(&main);
    main.setWindowState(minimised ? Qt::WindowMinimized : Qt::WindowNoState);
    transfer::ShowProgressWindow();
    transfer::DoHibernate();
    QWindow* owner = minimised ? nullptr : main.windowHandle();
    ASSERT_TRUE(minimised || owner);
    EXPECT_EQ(transfer::ProgressWindow()->windowHandle()->transientParent(), owner) << minimised;
    EXPECT_EQ(transfer::CountdownWindow()->windowHandle()->transientParent(), owner) << minimised;
    transfer::UnloadProgressWindow();
    transfer::UnloadCountdownWindow();
  }
}

TEST_F(JobWindows, CancelBeforeAnyProgressWindowStopsAtOnce) {
  transfer::ProgressDialogUp = false;
  transfer::CheckCancelCopy();
  EXPECT_EQ(transfer::CancelState, 2);
  EXPECT_TRUE(script.Prompts().empty());
}

TEST_F(JobWindows, CountdownRunsOutThenPowersOrderly) {
  transfer::DoShutdown();
  ASSERT_EQ(powered.size(), 1u);
  EXPECT_EQ(powered[0], platform::PowerAction::Shutdown);
  ASSERT_NE(transfer::CountdownWindow(), nullptr);
  EXPECT_EQ(transfer::CountdownWindow()->TickCounter(), transfer::kCountdownTicks);
  transfer::UnloadCountdownWindow();
  transfer::DoHibernate();   // a second countdown starts from 0 again
  ASSERT_EQ(powered.size(), 2u);
  EXPECT_EQ(powered[1], platform::PowerAction::Hibernate);
}

// Its Cancel button, its close box and a close of the main window (which
// ends the program instead) each bail out; the window going away under the
// countdown does too.
TEST_F(JobWindows, CountdownCancelledPowersNothing) {
  transfer::SetCountdownTickInterval(5);
  const std::function<void(transfer::Form4*)> bailOuts[] = {
      [](transfer::Form4* f) { f->Command1->click(); },
      [](transfer::Form4* f) { f->close(); },
      [](transfer::Form4*) { EXPECT_TRUE(ui::AskRunsToStop()); },
      [](transfer::Form4*) { transfer::UnloadCountdownWindow(); },
  };
  for (size_t way = 0; way < std::size(bailOuts); ++way) {
    SCOPED_TRACE(way);
    QTimer::singleShot(50, [&] {
      if (transfer::Form4* f = transfer::CountdownWindow()) bailOuts[way](f);
    });
    transfer::DoHibernate();
    EXPECT_TRUE(powered.empty());
    EXPECT_FALSE(ui::RunInProgress());
    if (way + 1 == std::size(bailOuts)) break;
    ASSERT_NE(transfer::CountdownWindow(), nullptr);
    EXPECT_TRUE(transfer::CountdownWindow()->Cancelled());
    EXPECT_LT(transfer::CountdownWindow()->TickCounter(), transfer::kCountdownTicks);
    transfer::UnloadCountdownWindow();
  }
}

}  // namespace
}  // namespace jobtest
