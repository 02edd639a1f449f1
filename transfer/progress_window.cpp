#include "transfer/progress_window.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>

#include "core/error_handler.h"
#include "widgets/owner.h"
#include "widgets/window_fit.h"
#include "core/power.h"
#include "transfer/job_state.h"
#include "ui/ui.h"

namespace transfer {

namespace {

QPointer<Form2> g_form2;

QString Text(const std::string& utf8) { return QString::fromUtf8(utf8.c_str(), int(utf8.size())); }

}  // namespace

Form2::Form2(QWidget* parent) : QWidget(parent, widgets::kOwnedWindow) {
  setObjectName(QStringLiteral("Form2"));
  setWindowTitle(QString::fromLatin1(kForm2Caption));
  auto* grid = new QGridLayout(this);
  const char* labels[4] = {"Actual file", "ETA=", "All files", "ETA="};
  for (int i = 0; i < 4; ++i) {
    // The status line names whole paths: shortened in the middle to the
    // label's width, it leaves the window its size.
    const QString text = QString::fromLatin1(labels[i]);
    Label1[i] = i == 0 ? new widgets::ElidedLabel(text, this, Qt::ElideMiddle) : new QLabel(text, this);
    Label1[i]->setObjectName(QStringLiteral("Label1_%1").arg(i));
    if (i % 2 == 1) Label1[i]->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  }
  Label1[0]->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  for (int i = 0; i < 2; ++i) {
    PB1[i] = new QProgressBar(this);
    PB1[i]->setObjectName(QStringLiteral("PB1_%1").arg(i));
    PB1[i]->setRange(0, 100);
    PB1[i]->setValue(0);
    PB1[i]->setTextVisible(false);
  }
  Label2[0] = new QLabel(QStringLiteral("After the copy has finished"), this);
  Label2[1] = new QLabel(QStringLiteral("Set process priority to "), this);
  Label2[0]->setObjectName(QStringLiteral("Label2_0"));
  Label2[1]->setObjectName(QStringLiteral("Label2_1"));
  Combo1 = new QComboBox(this);
  Combo1->setObjectName(QStringLiteral("Combo1"));
  Combo2 = new QComboBox(this);
  Combo2->setObjectName(QStringLiteral("Combo2"));
  Command1 = new QPushButton(QStringLiteral("Cancel"), this);
  Command1->setObjectName(QStringLiteral("Command1"));

  grid->addWidget(Label1[0], 0, 0, 1, 3);
  grid->addWidget(Label1[1], 0, 3);
  grid->addWidget(PB1[0], 1, 0, 1, 4);
  grid->addWidget(Label1[2], 2, 0, 1, 3);
  grid->addWidget(Label1[3], 2, 3);
  grid->addWidget(PB1[1], 3, 0, 1, 4);
  grid->addWidget(Label2[0], 4, 0);
  grid->addWidget(Combo1, 4, 1);
  grid->addWidget(Label2[1], 4, 2);
  grid->addWidget(Combo2, 4, 3);
  grid->addWidget(Command1, 5, 3);
  resize(6600 / 15, 2700 / 15);
  widgets::FitTitle(this);

  connect(Command1, &QPushButton::clicked, this,
          [this] { Procedure("Command1_Click", [&] { Command1_Click(); }); });
  connect(Combo2, qOverload<int>(&QComboBox::activated), this,
          [this](int) { Procedure("Combo2_Click", [&] { Combo2_Click(); }); });
  Form_Load();
}

Form2::~Form2() = default;

template <class Body>
void Form2::Procedure(const char* name, Body body) {
  ++procedures_;
  struct Done {
    int& count;
    ~Done() { --count; }
  } done{procedures_};
  core::TrapProcedure(name, body);
}

void Form2::Form_Load() {
  core::ProcScope scope("Form_Load");
  {
    const QSignalBlocker block1(Combo1);
    const QSignalBlocker block2(Combo2);
    Combo1->clear();
    Combo1->addItems({QStringLiteral("do nothing"), QStringLiteral("hibernate"),
                      QStringLiteral("shut down")});
    Combo1->setCurrentIndex(0);
    Combo2->clear();
    Combo2->addItems({QStringLiteral("Low"), QStringLiteral("Normal"), QStringLiteral("High")});
    Combo2->setCurrentIndex(1);
  }
  Combo2_Click();   // selecting the default sets the priority back to normal
  core::SetProgressBarColor(PB1[0], core::Rgb(128, 0, 0), -1);
  core::SetProgressBarColor(PB1[1], core::Rgb(0, 128, 0), -1);
  ProgressDialogUp = true;
}

void Form2::Combo2_Click() {
  core::ProcScope scope("Combo2_Click");
  core::ProcessPrioritySetOwn(Combo2->currentIndex());
}

void Form2::Command1_Click() {
  core::ProcScope scope("Command1_Click");
  CheckCancelCopy();
}

void Form2::Form_Unload(bool* cancel) {
  core::ProcScope scope("Form_Unload");
  if (JobRunning) {
    CheckCancelCopy();
    *cancel = true;
  }
}

void Form2::closeEvent(QCloseEvent* event) {
  bool cancel = false;
  Procedure("Form_Unload", [&] { Form_Unload(&cancel); });
  if (cancel) {
    event->ignore();
  } else {
    event->accept();
  }
}

void Form2::ShowProgress(const ProgressTexts& texts) {
  if (texts.File) {
    PB1[0]->setValue(texts.FileBar);
    Label1[1]->setText(Text(texts.FileEta));
  }
  if (texts.Job) {
    PB1[1]->setValue(texts.JobBar);
    Label1[3]->setText(Text(texts.JobEta));
    Label1[2]->setText(Text(texts.Rate));
    setWindowTitle(Text(texts.Caption));
  }
}

void Form2::SetStatus(const std::string& text) { Label1[0]->setText(Text(text)); }

int Form2::AfterJobChoice() const { return Combo1->currentIndex(); }

Form2* ProgressWindow() {
  if (!g_form2) g_form2 = new Form2(widgets::Owner());
  return g_form2;
}

void ShowProgressWindow() {
  Form2* form = ProgressWindow();
  form->show();
  form->raise();
}

void UnloadProgressWindow() {
  if (g_form2) {
    Form2* form = g_form2;
    g_form2 = nullptr;
    form->hide();
    // Never under one of its own procedures: then it goes once that has
    // returned to the event loop.
    if (form->InProcedure()) {
      form->deleteLater();
    } else {
      delete form;
    }
  }
}

bool ProgressWindowLoaded() { return !g_form2.isNull(); }

void CheckCancelCopy() {
  core::ProcScope scope("CheckCancelCopy");
  if (!ProgressDialogUp) {
    CancelState = 2;
    return;
  }
  const ui::Answer answer = ui::Current().MsgBox(
      "Cancel immediately (Yes=cancel now, No=finish actual file, Cancel=continue copying)",
      ui::Buttons::YesNoCancel, ui::Icon::Question, "Cancel copy process");
  switch (answer) {
    case ui::Answer::Yes: CancelState = 2; break;
    case ui::Answer::No: CancelState = 1; break;
    default: CancelState = 0; break;
  }
}

}  // namespace transfer
