#include "tools/defrag_window.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QKeyEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QScrollArea>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTabBar>
#include <QVBoxLayout>
#include <algorithm>

#include "core/disk_load.h"
#include "core/disk_model.h"
#include "core/error_handler.h"
#include "core/power.h"
#include "core/settings.h"
#include "mainwindow/form1.h"
#include "mainwindow/list_view.h"
#include "tools/cluster_map.h"
#include "tools/defrag.h"
#include "tools/defrag_engine.h"
#include "tools/frag_report.h"
#include "tools/recovery_window.h"
#include "transfer/countdown_window.h"
#include "transfer/job_state.h"
#include "ui/runs.h"
#include "ui/ui.h"
#include "widgets/owner.h"
#include "widgets/window_fit.h"

namespace tools {

// Marks a procedure of the window that processes events. A close that came
// meanwhile (and was not refused) takes effect from the event loop once the
// last of them has returned.
class BusyScope {
 public:
  explicit BusyScope(Form3& form) : form_(&form) { ++form.busy_; }
  ~BusyScope() {
    if (!form_) return;
    // The close stays pending (and nothing starts) until it is delivered.
    if (--form_->busy_ == 0 && form_->closeRequested_)
      QMetaObject::invokeMethod(form_.data(), "close", Qt::QueuedConnection);
  }
  BusyScope(const BusyScope&) = delete;
  BusyScope& operator=(const BusyScope&) = delete;

 private:
  QPointer<Form3> form_;
};

namespace {

Form3* g_form3 = nullptr;

// A close of the main window during a run or a clearing stops it as the
// window's Cancel does.
bool StopRun() {
  transfer::CancelState = -1;
  return true;
}

QString Text(const std::string& recorderText) { return mainwindow::RecorderToDisplay(recorderText); }

}  // namespace

Form3* DefragWindow() { return g_form3; }

void UnloadDefragWindow() {
  if (!g_form3 || DefragRunning || g_form3->Busy()) return;
  Form3* form = g_form3;
  form->close();
  if (g_form3 == form) {   // close refused or not deleted yet
    g_form3 = nullptr;
    SetCurrentMap(nullptr);
  }
  delete form;
}

void ShowDefragmenter() {
  core::ProcScope scope("ShowDefragmenter");
  if (g_form3) {
    g_form3->raise();
    g_form3->activateWindow();
    return;
  }
  // The two tool windows never run together: a scan or match would hand
  // the main window back while a move is half done.
  if (RecoveryWindow()) {
    ui::Current().MsgBox(kCloseRecoveryFirstText, ui::Buttons::OK, ui::Icon::Exclamation);
    return;
  }
  auto* form = new Form3();
  form->Form_Load();
}

Form3::Form3(QWidget* parent) : QWidget(parent) {
  g_form3 = this;
  setObjectName("Form3");
  setWindowTitle(kForm3Caption);

  auto* outer = new QVBoxLayout(this);
  TabStrip1 = new QTabBar(this);
  TabStrip1->setObjectName("TabStrip1");
  TabStrip1->addTab("Graphic");
  TabStrip1->addTab("Report");
  outer->addWidget(TabStrip1);

  for (int i = 0; i < 2; ++i) {
    Frame1[i] = new QFrame(this);
    Frame1[i]->setObjectName(QString("Frame1_%1").arg(i));
    outer->addWidget(Frame1[i]);
  }

  // Graphic page: the map, the legend and the two status lines.
  auto* graphic = new QVBoxLayout(Frame1[0]);
  // The map keeps its size; on a small screen it scrolls.
  auto* mapArea = new QScrollArea(Frame1[0]);
  mapArea->setObjectName("MapArea");
  Picture1 = new ClusterMap(mapArea);
  mapArea->setWidget(Picture1);
  mapArea->setWidgetResizable(false);
  mapArea->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  mapArea->setMinimumSize(160, 120);
  mapArea->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
  graphic->addWidget(mapArea, 1);
  auto* legend = new QHBoxLayout();
  static const int kLegendCodes[5] = {kCodeFragmented, kCodeNeedsMove, kCodeDefragmented,
                                      kCodeCleared, kCodeFree};
  static const char* kLegendTexts[5] = {"fragmented", "defragmented, but needs to be moved",
                                        "defragmented", "cleared", "unused"};
  for (int i = 0; i < 5; ++i) {
    Picture2[i] = new QLabel(Frame1[0]);
    Picture2[i]->setObjectName(QString("Picture2_%1").arg(i));
    Picture2[i]->setFixedSize(16, 16);
    Picture2[i]->setAutoFillBackground(true);
    QPalette pal = Picture2[i]->palette();
    pal.setColor(QPalette::Window, QColor::fromRgb(MapColor(kLegendCodes[i])));
    Picture2[i]->setPalette(pal);
    Label2[i] = new QLabel(kLegendTexts[i], Frame1[0]);
    Label2[i]->setObjectName(QString("Label2_%1").arg(i));
    legend->addWidget(Picture2[i]);
    legend->addWidget(Label2[i]);
    legend->addSpacing(12);
  }
  legend->addStretch(1);
  graphic->addLayout(legend);
  for (int i = 0; i < 2; ++i) {
    Label1[i] = new QLabel(i == 0 ? "Ready" : " ", Frame1[0]);
    Label1[i]->setObjectName(QString("Label1_%1").arg(i));
    graphic->addWidget(Label1[i]);
  }

  // Report page.
  auto* report = new QVBoxLayout(Frame1[1]);
  LV1 = new mainwindow::ListView(Frame1[1]);
  LV1->setObjectName("LV1");
  report->addWidget(LV1);
  Frame1[1]->hide();

  // Buttons and boxes.
  auto* bottom = new QHBoxLayout();
  Label2[6] = new QLabel("After the copy has finished", this);
  Label2[6]->setObjectName("Label2_6");
  Combo1 = new QComboBox(this);
  Combo1->setObjectName("Combo1");
  Label2[5] = new QLabel("Set process priority to ", this);
  Label2[5]->setObjectName("Label2_5");
  Combo2 = new QComboBox(this);
  Combo2->setObjectName("Combo2");
  Command1 = new QPushButton("Defrag", this);
  Command1->setObjectName("Command1");
  Command3 = new QPushButton("Clear free space", this);
  Command3->setObjectName("Command3");
  Command2 = new QPushButton("Close", this);
  Command2->setObjectName("Command2");
  bottom->addWidget(Label2[6]);
  bottom->addWidget(Combo1);
  bottom->addWidget(Label2[5]);
  bottom->addWidget(Combo2);
  bottom->addStretch(1);
  bottom->addWidget(Command1);
  bottom->addWidget(Command3);
  bottom->addWidget(Command2);
  outer->addLayout(bottom);

  connect(Command1, &QPushButton::clicked, this,
          [this] { core::TrapProcedure("Command1_Click", [this] { Command1_Click(); }); });
  connect(Command2, &QPushButton::clicked, this,
          [this] { core::TrapProcedure("Command2_Click", [this] { Command2_Click(); }); });
  connect(Command3, &QPushButton::clicked, this,
          [this] { core::TrapProcedure("Command3_Click", [this] { Command3_Click(); }); });
  connect(Combo2, &QComboBox::activated, this,
          [this](int) { core::TrapProcedure("Combo2_Click", [this] { Combo2_Click(); }); });
  connect(TabStrip1, &QTabBar::currentChanged, this,
          [this](int) { core::TrapProcedure("TabStrip1_Click", [this] { TabStrip1_Click(); }); });
  connect(LV1, &mainwindow::ListView::ColumnClick, this, [this](int column) {
    core::TrapProcedure("LV1_ColumnClick", [this, column] { LV1_ColumnClick(column); });
  });

  // Large enough for the whole map; PlaceOnScreen shrinks it to a small screen.
  const int frame = 2 * mapArea->frameWidth();
  const QSize lacking(std::max(0, Picture1->width() + frame - mapArea->sizeHint().width()),
                      std::max(0, Picture1->height() + frame - mapArea->sizeHint().height()));
  resize(sizeHint() + lacking);

  SetCurrentMap(Picture1);
  InstallHooks();
}

Form3::~Form3() {
  if (g_form3 == this) g_form3 = nullptr;
  if (CurrentMap() == Picture1) SetCurrentMap(nullptr);
  SetDefragHooks(DefragHooks());
}

void Form3::InstallHooks() {
  DefragHooks hooks;
  hooks.SetStatus = [this](int line, const std::string& text) { SetStatus(line, Text(text)); };
  hooks.EmergencyButtons = [this] {
    Command1->setText("Defrag");
    Command1->setEnabled(false);
    Command2->setEnabled(true);
  };
  hooks.Report = [this] { DefragReport(LV1); };
  hooks.UpdateComboBoxes = [] {
    if (mainwindow::MainForm()) mainwindow::MainForm()->UpdateComboBoxes();
  };
  SetDefragHooks(std::move(hooks));
}

void Form3::SetStatus(int line, const QString& text) {
  if (line >= 0 && line < 2) Label1[line]->setText(text);
}

int Form3::CurrentPage() const { return Frame1[1]->isVisible() || Frame1[0]->isHidden() ? 1 : 0; }

void Form3::Form_Load() {
  core::ProcScope scope("Form_Load");
  BusyScope busy(*this);
  ui::RunScope run(ui::EndsByItself);
  // Nothing starts before the map and the report are set up.
  Command1->setEnabled(false);
  Command3->setEnabled(false);
  mainwindow::Form1* main = mainwindow::MainForm();
  if (main) main->DisableMenus();
  NeedsPlacing.assign(size_t(std::max(core::Disk[0].FileCount, 0)), 0);

  {
    QSignalBlocker block1(Combo1);
    QSignalBlocker block2(Combo2);
    Combo1->clear();
    Combo1->addItems({"do nothing", "hibernate", "shut down"});
    Combo1->setCurrentIndex(0);
    Combo2->clear();
    Combo2->addItems({"Low", "Normal", "High"});
    Combo2->setCurrentIndex(1);
  }
  Combo2_Click();

  show();
  widgets::PlaceOnScreen(this);
  if (main) {
    SavedMainWindowState = int32_t(main->windowState());
    main->setWindowState(main->windowState() | Qt::WindowMinimized);
    main->installEventFilter(this);
  }
  const QPointer<Form3> self(this);
  ui::Current().DoEvents();
  ui::Current().DoEvents();
  if (!self) return;

  DrawGraphics();
  SetupLV(LV1);
  {
    QSignalBlocker block(TabStrip1);
    TabStrip1->setCurrentIndex(0);
  }
  TabStrip1_Click();
  DefragReport(LV1);
  loaded_ = true;
  Command1->setEnabled(true);
  Command3->setEnabled(true);
}

bool Form3::CancelRun() {
  if (!DefragRunning) return false;
  transfer::CancelState = -1;
  return true;
}

bool Form3::Form_Unload() {
  core::ProcScope scope("Form_Unload");
  if (CancelRun()) return false;
  if (unloaded_) return true;
  unloaded_ = true;
  // The other pane's model of this disk follows what the runs changed.
  if (changedDisk_ && core::SameDisk()) {
    core::LoadTopf(1, false);
    if (mainwindow::MainForm()) mainwindow::MainForm()->ShowFileList(1);
  }
  if (mainwindow::Form1* main = mainwindow::MainForm()) {
    main->setWindowState(Qt::WindowStates(SavedMainWindowState));
    main->EnableMenus();
  }
  return true;
}

// Nothing starts before the load is done, nor once a close is pending or
// done: the window goes with it, and must not go under a run. Besides, the
// program's rule: no run goes and no close of the main window waits.
std::optional<ui::RunScope> Form3::TryStart() const {
  if (!loaded_ || closeRequested_ || unloaded_) return std::nullopt;
  return ui::TryStartRun(StopRun);
}

void Form3::closeEvent(QCloseEvent* event) {
  closeRequested_ = false;
  // The load, or the action after a run: the close waits until it is done.
  if (busy_ > 0 && !DefragRunning) {
    closeRequested_ = true;
    event->ignore();
    return;
  }
  bool allowed = true;
  core::TrapProcedure("Form_Unload", [&] { allowed = Form_Unload(); });
  if (!allowed) {
    event->ignore();
    return;
  }
  event->accept();
  if (g_form3 == this) g_form3 = nullptr;
  if (CurrentMap() == Picture1) SetCurrentMap(nullptr);
  deleteLater();
}

// Escape does what the close box does: it closes the window when no run
// goes, and during a run it cancels the run as the close box then does.
void Form3::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    close();
    return;
  }
  QWidget::keyPressEvent(event);
}

// The window opens without an owner: it minimises the main window, and most
// desktops take a minimised window's dialogs off the screen with it. When the
// user brings the main window back, it becomes the owner, so that a click on
// it no longer buries this window (the desktop learns an owner only when the
// window is shown, so it is shown again where it was).
bool Form3::eventFilter(QObject* watched, QEvent* event) {
  QWidget* main = mainwindow::MainForm();
  if (watched == main && event->type() == QEvent::WindowStateChange && !main->isMinimized() &&
      !unloaded_ && parentWidget() == nullptr) {
    const QRect place = geometry();
    const bool shown = isVisible();
    setParent(main, widgets::kOwnedWindow);
    setGeometry(place);
    if (shown) show();
  }
  return QWidget::eventFilter(watched, event);
}

void Form3::Command1_Click() {
  if (CancelRun()) return;
  const auto run = TryStart();
  if (!run) return;
  BusyScope busy(*this);
  DefragDebugOn =
      core::INIGetString(core::AppDir() + "Quenbrix.ini", "View", "DefragDebug") == "1";
  DefragRunning = true;
  SetStatus(1, "");
  transfer::CancelState = 0;
  Command1->setText("Cancel");
  Command2->setEnabled(false);
  Command3->setEnabled(false);

  auto restore = [this] {
    Command1->setText("Defrag");
    Command2->setEnabled(true);
    Command3->setEnabled(true);
    SetStatus(0, "Ready");
    DefragRunning = false;
  };
  DefragOutcome outcome = DefragOutcome::Refused;
  try {
    outcome = DefragmentDisk(0);
    if (outcome != DefragOutcome::Refused) changedDisk_ = true;
    if (mainwindow::MainForm()) mainwindow::MainForm()->ShowFileList(0);
  } catch (...) {
    restore();
    throw;
  }
  restore();
  // A disk that was not fit to start got its message; nothing ran.
  if (outcome != DefragOutcome::Refused) RunAfterJobAction();
}

void Form3::Command3_Click() {
  if (CancelRun()) return;
  const auto run = TryStart();
  if (!run) return;
  BusyScope busy(*this);
  setWindowTitle(kClearingCaption);
  SetStatus(0, "Clearing unused space");
  SetStatus(1, "");
  DefragRunning = true;
  transfer::CancelState = 0;
  Command1->setEnabled(false);
  Command2->setEnabled(false);
  Command3->setText("Cancel");
  bool done = false;
  try {
    done = ClearFree(0);
  } catch (...) {
    DefragRunning = false;
    setWindowTitle(kAfterClearingCaption);
    Command1->setEnabled(true);
    Command2->setEnabled(true);
    Command3->setText("Clear free space");
    SetStatus(0, "Ready");
    throw;
  }
  (void)done;
  changedDisk_ = true;
  setWindowTitle(kAfterClearingCaption);
  Command1->setEnabled(true);
  Command2->setEnabled(true);
  Command3->setText("Clear free space");
  SetStatus(0, "Ready");
  DefragRunning = false;
  RunAfterJobAction();
}

void Form3::RunAfterJobAction() {
  if (transfer::CancelState != 0) return;
  const int action = Combo1->currentIndex();
  if (action == 1) {
    transfer::DoHibernate();
    transfer::UnloadCountdownWindow();
  } else if (action == 2) {
    transfer::DoShutdown();
    transfer::UnloadCountdownWindow();
  }
}

void Form3::Combo2_Click() { core::ProcessPrioritySetOwn(Combo2->currentIndex()); }

void Form3::Command2_Click() { close(); }

void Form3::TabStrip1_Click() {
  const int page = TabStrip1->currentIndex() == 1 ? 1 : 0;
  Frame1[page]->show();
  Frame1[1 - page]->hide();
}

void Form3::LV1_ColumnClick(int column) { ReportColumnClick(LV1, column); }

}  // namespace tools
