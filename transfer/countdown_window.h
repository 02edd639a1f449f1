// The after-job countdown: the last, cancellable pause before the PC is
// hibernated or shut down at the end of a long job. The wait runs in an
// event loop that sleeps between timer ticks.
#pragma once

#include <QWidget>

class QEventLoop;
class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace transfer {

class Form4 : public QWidget {
  Q_OBJECT

 public:
  explicit Form4(QWidget* parent = nullptr);
  ~Form4() override;

  QLabel* Label1 = nullptr;
  QProgressBar* PB1 = nullptr;      // 0 .. 1500
  QPushButton* Command1 = nullptr;  // "Cancel"
  QTimer* Timer1 = nullptr;         // 10 ms, runs only while counting

  void Form_Load();
  void Command1_Click();
  void Timer1_Timer();

  // Runs the countdown; true when it ran out, false when it was cancelled.
  bool RunCountdown();

  int32_t TickCounter() const { return ticks_; }
  bool Cancelled() const { return cancelled_; }

 protected:
  // Its close box bails out as Cancel does.
  void closeEvent(QCloseEvent* event) override;

 private:
  int32_t ticks_ = 0;
  bool cancelled_ = false;
  QEventLoop* loop_ = nullptr;
};

constexpr int32_t kCountdownTicks = 1500;
constexpr const char* kForm4Caption = "Topfield Zyphonel - Auto Shutdown";

// Count down, then hibernate (forced) / shut the PC down (orderly), unless
// cancelled (its Cancel button or close box, or a close of the main window
// meanwhile, which ends the program instead). Both return when the countdown was cancelled or the power
// action has been asked for.
void DoHibernate();
void DoShutdown();
// Unloads the countdown window if it is loaded (callers always do it after a
// job, so the next countdown starts from 0).
void UnloadCountdownWindow();
// The countdown window while loaded, else nullptr.
Form4* CountdownWindow();
// Timer interval of the countdown in ms (10; tests shorten it).
void SetCountdownTickInterval(int milliseconds);

}  // namespace transfer
