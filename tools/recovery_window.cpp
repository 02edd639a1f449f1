// The recovery window and its scan.
#include "tools/recovery_window.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPointer>
#include <QPushButton>
#include <QSignalBlocker>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "core/cluster_io.h"
#include "core/disk_io.h"
#include "core/disk_model.h"
#include "core/error_handler.h"
#include "core/fat_write.h"
#include "core/power.h"
#include "core/settings.h"
#include "core/side_file.h"
#include "library/loader.h"
#include "mainwindow/form1.h"
#include "widgets/owner.h"
#include "widgets/window_fit.h"
#include "platform/platform.h"
#include "tools/chain_match.h"
#include "tools/defrag_window.h"
#include "tools/found_clusters.h"
#include "tools/rebuild.h"
#include "tools/recovery.h"
#include "transfer/countdown_window.h"
#include "transfer/job_progress.h"
#include "transfer/job_state.h"
#include "ui/runs.h"
#include "ui/ui.h"

namespace tools {

namespace {

QPointer<Form5> g_window;

constexpr double kThreeSeconds = 3.0 / 86400.0;
constexpr double kThirtyMinutes = 30.0 / 1440.0;

bool FileExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// A CRC id as the loader makes it: 8 hexadecimal digits.
bool LooksLikeCrcId(const std::string& id) {
  if (id.size() != 8) return false;
  for (char ch : id)
    if (!((ch >= '0' && ch <= '9') || (ch >= 'A' && ch <= 'F') || (ch >= 'a' && ch <= 'f')))
      return false;
  return true;
}

// Deletes every regular file of the program folder whose name begins with
// `prefix` (the per-disk files of an old CRC id).
void DeleteFilesStartingWith(const std::string& prefix) {
  if (!LooksLikeCrcId(prefix)) return;
  std::vector<platform::FolderEntry> entries;
  if (!platform::ListFolder(core::AppDir(), entries)) return;
  for (const auto& e : entries)
    if (e.IsRegular && e.Name.compare(0, prefix.size(), prefix) == 0)
      ::unlink((core::AppDir() + e.Name).c_str());
}

bool AbsoluteEta() {
  mainwindow::Form1* form = mainwindow::MainForm();
  return form && form->Menu_View_AbsoluteETA && form->Menu_View_AbsoluteETA->isChecked();
}

void MainDisableMenus() {
  if (mainwindow::Form1* form = mainwindow::MainForm()) form->DisableMenus();
}
// The defragmenter keeps the main window disabled for as long as it is open.
void MainEnableMenus() {
  if (DefragWindow()) return;
  if (mainwindow::Form1* form = mainwindow::MainForm()) form->EnableMenus();
}

// The highest FAT index the scan may visit on side 0: clusters that do not
// lie wholly on the device hold nothing to find (and cannot be read).
int32_t ScanLast() { return std::min(core::LastFatIndex(0), core::LastDataIndex(0)); }

constexpr const char* kScanningText = "Scanning for MPEG stream patterns";

std::string StreamClustersFound(int32_t clusters) {
  return std::to_string(clusters) +
         (clusters == 1 ? " stream cluster found" : " stream clusters found");
}

// The scan position and state of the search state file.
void WriteScanState(const std::string& stateFile, int32_t nextCluster, const char* state) {
  core::INISetString(stateFile, kRecoverySection, "NextCluster", std::to_string(nextCluster));
  core::INISetString(stateFile, kRecoverySection, "State", state);
}

}  // namespace

// One scan: what it works on, taken when it starts, so that the state is
// written for this disk even if the window system lets something else happen
// meanwhile; and how far it got.
struct ScanPass {
  std::string StateFile;
  int32_t Handle = 0;
  int32_t Spc = 0;            // sectors per cluster
  int32_t Last = 0;           // the highest FAT index to read
  int32_t Cluster = 0;        // the cluster at hand; after the loop the first one not read
  bool Unreadable = false;    // Cluster could not be read
  int64_t Total = 0;          // clusters to scan
  int64_t Done = 0;           // clusters read so far
  double ScanStart = 0;
  double LastDisplay = 0;
  double LastSave = 0;
  std::vector<bool> CutEnds;  // by FAT index: read on the free area too (CutChainEnds)
};

namespace {

// The scan of side 0's disk from FAT index `start`.
ScanPass ScanTarget(int32_t start) {
  const core::DiskRec& d = core::Disk[0];
  ScanPass pass;
  pass.StateFile = SearchStateFile();
  pass.Handle = d.Handle;
  pass.Spc = d.SectorsPerCluster;
  pass.Last = ScanLast();
  pass.Cluster = start;
  pass.CutEnds = CutChainEnds();
  return pass;
}

// Whether a scan of the free area reads cluster `c`: a free one, or the last
// one of a cut file's chain, whose time stamps tell what continues the file.
bool ReadOnFreeArea(const ScanPass& pass, int32_t c) {
  return core::Disk[0].FAT[size_t(c)].Next == 0 ||
         (size_t(c) < pass.CutEnds.size() && pass.CutEnds[size_t(c)]);
}

// The clusters the scan is to read: with `freeOnly` those ReadOnFreeArea names.
int64_t ClustersToScan(const ScanPass& pass, bool freeOnly) {
  int64_t total = 0;
  if (freeOnly) {
    for (int32_t c = pass.Cluster; c <= pass.Last; ++c)
      if (ReadOnFreeArea(pass, c)) ++total;
  } else {
    total = int64_t(pass.Last) - pass.Cluster + 1;
    if (total < 0) total = 0;
  }
  return total;
}

// True when the scan is to stop: Cancel was asked for, or side 0 no longer
// holds the disk the scan started on.
bool ScanCancelled(const ScanPass& pass) {
  const core::DiskRec& d = core::Disk[0];
  const bool diskChanged =
      d.Handle != pass.Handle || d.SectorsPerCluster != pass.Spc || ScanLast() != pass.Last;
  if (diskChanged) transfer::CancelState = 1;
  return transfer::CancelState != 0;
}

// Reads the cluster at hand into `buffer` and adds it to the found-cluster
// table when it holds video with time stamps; false when it cannot be read.
bool ScanCluster(const ScanPass& pass, std::vector<uint8_t>& buffer) {
  const int32_t c = pass.Cluster;
  const int32_t spc = pass.Spc;
  if (core::ReadSectors(pass.Handle, uint32_t(int64_t(c) + 1) * uint32_t(spc), spc, buffer.data()) ==
      0)
    return false;
  qlib::TopfSwapDWORD(buffer.data(), spc);
  const int32_t length = int32_t(buffer.size()) - 1;   // highest index of the buffer
  int32_t firstHigh = 0, firstLow = 0, lastHigh = 0, lastLow = 0, pid = 0;
  uint8_t header = 0;
  qlib::SearchPTS(buffer.data(), length, &firstHigh, &firstLow, &lastHigh, &lastLow, &pid,
                  &header);
  if (pid != 0) {
    FoundCluster hit;
    hit.Cluster = c;
    hit.Pid = pid;
    hit.HasTFrc = header != 0;
    hit.FirstPts = double(firstHigh) * 65536.0 + firstLow;
    hit.LastPts = double(lastHigh) * 65536.0 + lastLow;
    hit.NextRec = 0;
    hit.PrevRec = 0;
    hit.Used = false;
    TRY_STATEMENT(AddRecoveredCluster(hit));
  }
  return true;
}

}  // namespace

std::string ScanEndText(int32_t clusters) { return "Ready: " + StreamClustersFound(clusters); }

std::string RebuiltText(int32_t clusters, int32_t created, int32_t grown) {
  std::string text = std::to_string(clusters) +
                     (clusters == 1 ? " stream cluster, " : " stream clusters, ") +
                     std::to_string(created) +
                     (created == 1 ? " recording rebuilt" : " recordings rebuilt");
  if (grown > 0)
    text += ", " + std::to_string(grown) + (grown == 1 ? " file continued" : " files continued");
  return text + ".";
}

bool ParseNextCluster(const std::string& text, int32_t lastCluster, int32_t& value) {
  value = 0;
  if (text.empty()) return true;
  if (text.size() > 9) return false;
  int64_t v = 0;
  for (char ch : text) {
    if (ch < '0' || ch > '9') return false;
    v = v * 10 + (ch - '0');
  }
  if (v > int64_t(lastCluster) + 1) return false;
  value = int32_t(v);
  return true;
}

Form5* RecoveryWindow() { return g_window.data(); }

void ShowRecovery() {
  core::TrapProcedure("ShowRecovery", [&] {
    if (g_window) {
      g_window->show();
      g_window->raise();
      g_window->activateWindow();
      return;
    }
    if (DefragWindow()) {
      ui::Current().MsgBox(kCloseDefragFirstText, ui::Buttons::OK, ui::Icon::Exclamation);
      return;
    }
    Form5* form = new Form5(mainwindow::MainForm());
    form->setAttribute(Qt::WA_DeleteOnClose);
    form->setWindowFlags(widgets::kOwnedWindow);
    form->Form_Load();
    form->show();
    widgets::PlaceOnScreen(form);
  });
}

Form5::Form5(QWidget* parent) : QWidget(parent) {
  setObjectName("Form5");
  setWindowTitle(kForm5Caption);
  setWindowFlag(Qt::Window);
  g_window = this;

  Check1 = new QCheckBox("Search on free area only", this);
  Check1->setObjectName("Check1");
  Label1[0] = new QLabel("Set process priority to ", this);
  Label1[0]->setObjectName("Label1_0");
  Combo1 = new QComboBox(this);
  Combo1->setObjectName("Combo1");
  Label1[3] = new QLabel("After the search has finished", this);
  Label1[3]->setObjectName("Label1_3");
  Combo2 = new QComboBox(this);
  Combo2->setObjectName("Combo2");
  PB1 = new QProgressBar(this);
  PB1->setObjectName("PB1");
  PB1->setRange(0, 100);
  PB1->setValue(0);
  PB1->setTextVisible(false);
  Label1[2] = new QLabel("Actual file", this);
  Label1[2]->setObjectName("Label1_2");
  Label1[1] = new QLabel("ETA=", this);
  Label1[1]->setObjectName("Label1_1");
  Label1[1]->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  Command1 = new QPushButton("Scan", this);
  Command1->setObjectName("Command1");
  Command2 = new QPushButton("Match", this);
  Command2->setObjectName("Command2");

  // The designed arrangement in a grid: every text keeps the room its font
  // needs (the estimate grows when it becomes a date).
  auto* grid = new QGridLayout(this);
  grid->addWidget(Check1, 0, 0, 1, 3);
  grid->addWidget(Label1[0], 1, 0);
  grid->addWidget(Combo1, 1, 1);
  grid->addWidget(Label1[3], 2, 0);
  grid->addWidget(Combo2, 2, 1);
  grid->addWidget(PB1, 3, 0, 1, 3);
  grid->addWidget(Label1[2], 4, 0, 1, 2);
  grid->addWidget(Label1[1], 4, 2);
  auto* buttons = new QHBoxLayout();
  buttons->addStretch();
  buttons->addWidget(Command1);
  buttons->addSpacing(mainwindow::TwipsToPixels(600));
  buttons->addWidget(Command2);
  buttons->addStretch();
  grid->addLayout(buttons, 5, 0, 1, 3);
  grid->setColumnStretch(2, 1);
  resize(mainwindow::TwipsToPixels(6600), mainwindow::TwipsToPixels(3600));
  widgets::FitTitle(this);

  connect(Command1, &QPushButton::clicked, this,
          [this] { core::TrapProcedure("Command1_Click", [this] { Command1_Click(); }); });
  connect(Command2, &QPushButton::clicked, this,
          [this] { core::TrapProcedure("Command2_Click", [this] { Command2_Click(); }); });
  connect(Combo1, qOverload<int>(&QComboBox::activated), this,
          [this](int) { core::TrapProcedure("Combo1_Click", [this] { Combo1_Click(); }); });

  QPointer<Form5> self(this);
  SetRecoveryDisplay(RecoveryDisplay{
      [self](const std::string& text) {
        if (self) self->Label1[2]->setText(QString::fromStdString(text));
      },
      [self](int percent) {
        if (self) self->PB1->setValue(std::clamp(percent, 0, 100));
      }});
}

Form5::~Form5() {
  if (g_window == this) {
    SetRecoveryDisplay(RecoveryDisplay{});
    g_window = nullptr;
  }
}

void Form5::closeEvent(QCloseEvent* event) {
  // A match cannot be stopped; the window closes when it is done.
  if (MatchRunning) {
    event->ignore();
    return;
  }
  // The scan runs inside a click handler of this window: the window stays
  // until it has stopped, then closes.
  if (ScanRunning) {
    transfer::CancelState = 1;
    closeAfterScan_ = true;
    event->ignore();
    return;
  }
  closeAfterScan_ = false;
  event->accept();
}

void Form5::Form_Load() {
  core::ProcScope scope("Form_Load");
  {
    const QSignalBlocker b1(Combo1), b2(Combo2);
    Combo2->clear();
    Combo2->addItems({"do nothing", "hibernate", "shut down"});
    Combo2->setCurrentIndex(0);
    Combo1->clear();
    Combo1->addItems({"Low", "Normal", "High"});
    Combo1->setCurrentIndex(1);
  }
  Combo1_Click();

  Check1->setChecked(true);
  if (core::Flags & core::FlagDisasterMode) {
    Check1->setChecked(false);
    Check1->setEnabled(false);
  }
  core::SetProgressBarColor(PB1, core::Rgb(255, 192, 0), -1);

  core::DiskRec& d = core::Disk[0];
  const bool recorder = core::DiskId[0] != core::kNoDisk && core::DiskId[0] < 1;
  if (!recorder || d.Handle < 1 || d.SectorsPerCluster < 1) {
    // Nothing to scan on this side.
    Command1->setEnabled(false);
    Command2->setEnabled(false);
    Label1[2]->setText("Ready");
    return;
  }

  // Results of an earlier search of this disk before it was changed.
  const std::string app = core::AppDir();
  if (FileExists(app + d.CrcId + "_Search.ini")) {
    core::CopyBackupCRC(0);
  } else if (!d.BackupCrcId.empty() && FileExists(app + d.BackupCrcId + "_Search.ini")) {
    const ui::Answer answer =
        ui::Current().MsgBox("The disk has been modified! Reuse the old search results?",
                             ui::Buttons::YesNo, ui::Icon::Question);
    if (answer == ui::Answer::Yes) {
      d.CrcId = d.BackupCrcId;
    } else {
      DeleteFilesStartingWith(d.BackupCrcId);
      core::CopyBackupCRC(0);
    }
  }
  if (d.BackupCrcId.empty()) core::CopyBackupCRC(0);

  const std::string stateFile = SearchStateFile();
  if (FileExists(SearchListFile())) {
    const std::string state = core::INIGetString(stateFile, kRecoverySection, "State");
    if (state == "0") {
      Command1->setEnabled(true);
      Command1->setText("Scan");
      Command2->setEnabled(false);
    } else if (state == "1") {
      Command1->setEnabled(true);
      Command1->setText("Continue Scan");
      Command2->setEnabled(false);
    } else if (state == "2") {
      Command1->setEnabled(false);
      Command1->setText("Scan");
      Command2->setEnabled(true);
    }
  } else {
    core::INISetString(stateFile, kRecoverySection, "NextCluster", "0");
    core::INISetString(stateFile, kRecoverySection, "State", "0");
    Command1->setEnabled(true);
    Command1->setText("Scan");
    Command2->setEnabled(false);
  }

  const int32_t count = std::min<int32_t>(d.FileCount, int32_t(d.Files.size()));
  for (int32_t i = 0; i < count; ++i) {
    if (d.Files[size_t(i)].Recovered) {
      Command1->setEnabled(false);
      Command2->setEnabled(false);
      break;
    }
  }
  if (core::Flags & core::FlagFileMode) Command1->setEnabled(false);
}

void Form5::Combo1_Click() {
  core::ProcScope scope("Combo1_Click");
  const int index = Combo1->currentIndex();
  if (index >= 0 && index <= 2) core::ProcessPrioritySetOwn(index);
}

void Form5::Command1_Click() {
  core::ProcScope scope("Command1_Click");
  // Cancel: the running scan stops at its next test and hands the main
  // window back itself.
  if (ScanRunning) return Scanner();
  if (MatchRunning || closeAfterScan_) return;
  // Nothing starts inside another run (a job of the main window). A close of
  // the main window stops the scan as Cancel does.
  auto run = ui::TryStartRun([] {
    transfer::CancelState = 1;
    return true;
  });
  if (!run) return;
  MainDisableMenus();
  Scanner();
  run.reset();
  MainEnableMenus();
}

void Form5::Command2_Click() {
  core::ProcScope scope("Command2_Click");
  if (ScanRunning || MatchRunning || closeAfterScan_) return;
  // The match cannot be stopped: a close of the main window is refused.
  auto run = ui::TryStartRun();
  if (!run) return;
  MatchRunning = true;
  Command1->setEnabled(false);
  Command2->setEnabled(false);
  MainDisableMenus();
  bool matched = false;
  int32_t created = 0, grown = 0;
  {
    struct Done {
      Form5* form;
      ~Done() { form->MatchRunning = false; }
    } done{this};
    matched = Matcher();
    if (matched) created = UpdateStructure(&grown);
  }
  run.reset();
  MainEnableMenus();
  if (matched)
    ui::Current().MsgBox(RebuiltText(FoundCount, created, grown), ui::Buttons::OK,
                         ui::Icon::Information);
  close();
}

bool Form5::ReadNextCluster(int32_t& start) {
  const std::string file = SearchStateFile();
  const std::string text = core::INIGetString(file, kRecoverySection, "NextCluster");
  if (ParseNextCluster(text, ScanLast(), start)) return true;
  ui::Current().MsgBox("The search state file " + file +
                           " is damaged or does not belong to this disk (NextCluster = \"" +
                           text + "\"). It is not used; delete it to start a new search.",
                       ui::Buttons::OK, ui::Icon::Exclamation);
  return false;
}

void Form5::Scanner() {
  core::ProcScope scope("Scanner");
  if (ScanRunning) {
    transfer::CancelState = 1;
    return;
  }
  core::DiskRec& d = core::Disk[0];
  if (d.Handle < 1 || d.SectorsPerCluster < 1 || d.FAT.empty()) return;

  // Where to start: only a value this disk can have written is taken.
  int32_t start = 0;
  if (!ReadNextCluster(start)) return;
  if (!BeginScan()) return;

  ScanPass pass = ScanTarget(start);
  Label1[2]->setText(kScanningText);
  Command1->setText("Cancel");
  Command2->setEnabled(false);
  ui::Current().DoEvents();
  pass.Total = ClustersToScan(pass, Check1->isChecked());
  pass.ScanStart = pass.LastDisplay = pass.LastSave = transfer::JobNow();

  ScanClusters(pass);

  Label1[1]->setText("ETA");
  SaveScanner();
  core::FSCloseFile(0);
  PB1->setValue(0);
  if (pass.Unreadable)
    StopAtUnreadable(pass);
  else
    EndScan(pass);
  FinishScan();
}

bool Form5::BeginScan() {
  if (core::Disk[0].FileCount > 0) core::FSOpenFile(0, 0, true);
  transfer::CancelState = 0;
  ScanRunning = true;
  if (LoadScanner()) return true;
  // The old hits cannot be trusted: no scan, nothing saved over them.
  core::FSCloseFile(0);
  ScanRunning = false;
  Label1[2]->setText("Ready");
  FinishScan();
  return false;
}

void Form5::ScanClusters(ScanPass& pass) {
  std::vector<uint8_t> buffer(size_t(pass.Spc) * 512);
  for (; pass.Cluster <= pass.Last; ++pass.Cluster) {
    if (Check1->isChecked() && !ReadOnFreeArea(pass, pass.Cluster)) continue;

    const double now = transfer::JobNow();
    if (now - pass.LastDisplay > kThreeSeconds) {
      ShowScanProgress(pass, now);
      if (ScanCancelled(pass)) return;
    }

    if (!ScanCluster(pass, buffer)) {
      pass.Unreadable = true;
      return;
    }
    ++pass.Done;

    const double after = transfer::JobNow();
    if (after - pass.LastSave >= kThirtyMinutes) {
      SaveScanPosition(pass, after);
      if (ScanCancelled(pass)) {
        // The cluster at hand has been read: the next scan begins after it.
        ++pass.Cluster;
        return;
      }
    }
  }
}

void Form5::ShowScanProgress(ScanPass& pass, double now) {
  PB1->setValue(PercentOf(double(pass.Done), double(pass.Total)));
  pass.LastDisplay = now;
  ui::Current().DoEvents();
  Label1[1]->setText(QString::fromStdString(
      "ETA = " + transfer::EstimateText(pass.ScanStart, now, double(pass.Done),
                                        double(pass.Total), AbsoluteEta())));
}

void Form5::SaveScanPosition(ScanPass& pass, double now) {
  SaveScanner();
  WriteScanState(pass.StateFile, pass.Cluster + 1, "1");
  Label1[2]->setText(kScanningText);
  pass.LastSave = now;
  ui::Current().DoEvents();
}

void Form5::StopAtUnreadable(const ScanPass& pass) {
  const int32_t c = pass.Cluster;
  // The scan can go on from here once the disk is back; a disk that is
  // gone ends the program as everywhere else.
  WriteScanState(pass.StateFile, c, "1");
  if (core::Disk[0].Handle == pass.Handle) core::CheckHDConnection(0);
  // Only this cluster is unreadable: Continue goes on after it.
  core::INISetString(pass.StateFile, kRecoverySection, "NextCluster", std::to_string(c + 1));
  ScanRunning = false;
  Command1->setText("Continue Scan");
  Command1->setEnabled(true);
  Command2->setEnabled(false);
  Label1[2]->setText(QString::fromStdString("Stopped at cluster " + std::to_string(c) + ": " +
                                            StreamClustersFound(FoundCount)));
  ui::Current().MsgBox("Cluster " + std::to_string(c) +
                           " could not be read. The scan stopped there; Continue Scan goes on "
                           "after it.",
                       ui::Buttons::OK, ui::Icon::Exclamation);
}

void Form5::EndScan(const ScanPass& pass) {
  const bool finished = transfer::CancelState == 0;
  WriteScanState(pass.StateFile, pass.Cluster, finished ? "2" : "1");
  if (finished) {
    const int action = Combo2->currentIndex();
    if (action == 1) transfer::DoHibernate();
    if (action == 2) transfer::DoShutdown();
  }
  transfer::UnloadCountdownWindow();

  ScanRunning = false;
  Command1->setText("Search");
  Command1->setEnabled(false);
  Command2->setEnabled(finished);
  Label1[2]->setText(QString::fromStdString(ScanEndText(FoundCount)));
}

void Form5::FinishScan() {
  // The close stays pending (and nothing starts) until it is delivered.
  if (closeAfterScan_) {
    QMetaObject::invokeMethod(this, "close", Qt::QueuedConnection);
  }
}

}  // namespace tools
