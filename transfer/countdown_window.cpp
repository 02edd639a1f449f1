#include "transfer/countdown_window.h"

#include <QCloseEvent>
#include <QEventLoop>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "core/error_handler.h"
#include "widgets/owner.h"
#include "widgets/window_fit.h"
#include "core/power.h"
#include "ui/runs.h"
#include "ui/ui.h"

namespace transfer {

namespace {
QPointer<Form4> g_form4;
int g_tickMs = 10;

Form4* LoadCountdownWindow() {
  if (!g_form4) g_form4 = new Form4(widgets::Owner());
  return g_form4;
}

// Steps 1 to 5 of both power operations; true when the countdown ran out.
bool Countdown() {
  // A close of the main window during the countdown bails out: the program
  // ends instead of the PC.
  ui::RunScope run([] {
    if (g_form4) g_form4->Command1_Click();
    return true;
  });
  QPointer<Form4> form = LoadCountdownWindow();
  core::SetProgressBarColor(form->PB1, core::Rgb(192, 0, 0), -1);
  form->show();
  form->raise();
  ui::Current().DoEvents();
  // Gone meanwhile (unloaded by its owner): nothing is powered.
  return form && form->RunCountdown();
}
}  // namespace

Form4::Form4(QWidget* parent) : QWidget(parent, widgets::kOwnedWindow) {
  setObjectName(QStringLiteral("Form4"));
  setWindowTitle(QString::fromLatin1(kForm4Caption));
  auto* box = new QVBoxLayout(this);
  Label1 = new QLabel(
      QStringLiteral("A shutdown / hibernate is in progress. This is your last chance to bail out."),
      this);
  Label1->setObjectName(QStringLiteral("Label1"));
  Label1->setWordWrap(true);
  PB1 = new QProgressBar(this);
  PB1->setObjectName(QStringLiteral("PB1"));
  PB1->setRange(0, kCountdownTicks);
  PB1->setValue(0);
  PB1->setTextVisible(false);
  Command1 = new QPushButton(QStringLiteral("Cancel"), this);
  Command1->setObjectName(QStringLiteral("Command1"));
  Timer1 = new QTimer(this);
  Timer1->setObjectName(QStringLiteral("Timer1"));
  Timer1->setInterval(g_tickMs);
  box->addWidget(Label1);
  box->addWidget(PB1);
  box->addWidget(Command1, 0, Qt::AlignHCenter);
  resize(5000 / 15, 1800 / 15);
  widgets::FitTitle(this);
  connect(Command1, &QPushButton::clicked, this, [this] {
    core::TrapProcedure("Command1_Click", [&] { Command1_Click(); });
  });
  connect(Timer1, &QTimer::timeout, this, [this] {
    core::TrapProcedure("Timer1_Timer", [&] { Timer1_Timer(); });
  });
  Form_Load();
}

Form4::~Form4() {
  if (loop_) loop_->quit();
}

void Form4::Form_Load() {
  core::ProcScope scope("Form_Load");
  core::WindowOnTop(this, true);
}

void Form4::Command1_Click() {
  cancelled_ = true;
  if (loop_) loop_->quit();
}

void Form4::closeEvent(QCloseEvent* event) {
  Command1_Click();
  event->accept();
}

void Form4::Timer1_Timer() {
  ticks_ += 1;
  PB1->setValue(std::min(ticks_, kCountdownTicks));
  if (ticks_ >= kCountdownTicks && loop_) loop_->quit();
}

bool Form4::RunCountdown() {
  core::ProcScope scope("RunCountdown");
  Timer1->setInterval(g_tickMs);
  Timer1->start();
  // The loop sleeps until the next tick or click; the timer and the Cancel
  // button end it.
  if (!cancelled_ && ticks_ < kCountdownTicks) {
    const QPointer<Form4> self(this);
    QEventLoop loop;
    loop_ = &loop;
    loop.exec();
    // Deleted meanwhile (its destructor ended the loop): counts as cancelled.
    if (!self) return false;
    loop_ = nullptr;
  }
  Timer1->stop();
  return !cancelled_;
}

void DoHibernate() {
  core::ProcScope scope("DoHibernate");
  if (Countdown()) core::Hibernate(true, true);
}

void DoShutdown() {
  core::ProcScope scope("DoShutdown");
  // An orderly shutdown: applications may save their work.
  if (Countdown()) core::Shutdown(false);
}

void UnloadCountdownWindow() {
  if (g_form4) {
    Form4* form = g_form4;
    g_form4 = nullptr;
    form->hide();
    delete form;
  }
}

Form4* CountdownWindow() { return g_form4; }

void SetCountdownTickInterval(int milliseconds) { g_tickMs = milliseconds < 0 ? 0 : milliseconds; }

}  // namespace transfer
