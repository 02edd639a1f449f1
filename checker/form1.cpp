#include "checker/form1.h"

#include <unistd.h>

#include <QAction>
#include <QCloseEvent>
#include <QMenu>
#include <QMenuBar>
#include <QResizeEvent>

#include "checker/check_driver.h"
#include "checker/checker_state.h"
#include "checker/disk_layer.h"
#include "checker/dump_tools.h"
#include "checker/results_view.h"
#include "checker/startup.h"
#include "core/error_handler.h"
#include "core/settings.h"
#include "mainwindow/source_disk_dialog.h"
#include "mainwindow/menu_build.h"
#include "mainwindow/qt_ui.h"
#include "platform/platform.h"
#include "ui/runs.h"
#include "ui/ui.h"

namespace checker {

namespace {

constexpr int Twips(int twips) { return twips / 15; }

const char* kTitle = "Topfield 5000/5500 Kelmirra";
const char* kSccFilter = "Topfield System Cluster (*.scc)|*.scc|All files|*.*";

using mainwindow::AddItem;
using mainwindow::AddMenu;
using mainwindow::AddSeparator;

QString Display(const std::string& line) {
  const std::string utf8 = platform::Cp1252ToUtf8(line);
  return QString::fromUtf8(utf8.data(), qsizetype(utf8.size()));
}

}  // namespace

// The start-up, a check or a command (a run in progress, made first): the
// menus are off while the outermost one lasts.
class Form1::Run {
 public:
  explicit Run(Form1& form) : form_(form) {
    if (form_.runs_++ == 0) form_.SetCommandsEnabled(false);
  }
  ~Run() {
    if (--form_.runs_ == 0) form_.SetCommandsEnabled(true);
  }
  Run(const Run&) = delete;
  Run& operator=(const Run&) = delete;

 private:
  Form1& form_;
};

Form1::Form1(QWidget* parent) : QMainWindow(parent) {
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(QString::fromUtf8(kTitle));
  resize(Twips(10500), Twips(6600));

  client_ = new QWidget(this);
  client_->setObjectName(QStringLiteral("Form1_Client"));
  setCentralWidget(client_);
  results_ = new ResultsModel(this);
  List2 = new ResultsView(client_);
  List2->setObjectName(QStringLiteral("List2"));
  List2->setModel(results_);
  List2->setSelectionMode(QAbstractItemView::SingleSelection);

  QMenuBar* bar = menuBar();
  bar->setObjectName(QStringLiteral("Form1_MenuBar"));
  Menu_File = AddMenu(bar, "Menu_File", "&File");
  Menu_File_PerformChecks = AddItem(Menu_File, "Menu_File_PerformChecks", "&Perform checks");
  Menu_File_Save_Results = AddItem(Menu_File, "Menu_File_Save_Results", "&Save Results...");
  Menu_File_ClearResults = AddItem(Menu_File, "Menu_File_ClearResults", "Clear Results");
  Menu_File_Sep1 = AddSeparator(Menu_File, "Menu_File_Sep1");
  Menu_File_Exit = AddItem(Menu_File, "Menu_File_Exit", "E&xit");
  Menu_Expert = AddMenu(bar, "Menu_Expert", "&Expert");
  Menu_Expert_ReadCluster = AddItem(Menu_Expert, "Menu_Expert_ReadCluster", "Read Cluster...");
  Menu_Expert_WriteCluster = AddItem(Menu_Expert, "Menu_Expert_WriteCluster", "Write Cluster...");
  Menu_Expert_Sep2 = AddSeparator(Menu_Expert, "Menu_Expert_Sep2");
  Menu_Expert_SaveSystemClusters =
      AddItem(Menu_Expert, "Menu_Expert_SaveSystemClusters", "Save System Clusters...");
  Menu_Expert_Sep1 = AddSeparator(Menu_Expert, "Menu_Expert_Sep1");
  Menu_Expert_SeparateSCD = AddItem(Menu_Expert, "Menu_Expert_SeparateSCD", "Separate SCD");
  Menu_Expert_CombineSCD = AddItem(Menu_Expert, "Menu_Expert_CombineSCD", "Combine SCD");
  Menu_Expert_CompareSCD = AddItem(Menu_Expert, "Menu_Expert_CompareSCD", "Compare SCD...");

  auto wire = [this](QAction* action, const char* name, void (Form1::*handler)()) {
    connect(action, &QAction::triggered, this, [this, name, handler] { Command(name, handler); });
  };
  wire(Menu_File_PerformChecks, "Menu_File_PerformChecks_Click", &Form1::Menu_File_PerformChecks_Click);
  wire(Menu_File_Save_Results, "Menu_File_Save_Results_Click", &Form1::Menu_File_Save_Results_Click);
  wire(Menu_File_ClearResults, "Menu_File_ClearResults_Click", &Form1::Menu_File_ClearResults_Click);
  wire(Menu_File_Exit, "Menu_File_Exit_Click", &Form1::Menu_File_Exit_Click);
  wire(Menu_Expert_ReadCluster, "Menu_Expert_ReadCluster_Click", &Form1::Menu_Expert_ReadCluster_Click);
  wire(Menu_Expert_WriteCluster, "Menu_Expert_WriteCluster_Click", &Form1::Menu_Expert_WriteCluster_Click);
  wire(Menu_Expert_SaveSystemClusters, "Menu_Expert_SaveSystemClusters_Click",
       &Form1::Menu_Expert_SaveSystemClusters_Click);
  wire(Menu_Expert_SeparateSCD, "Menu_Expert_SeparateSCD_Click", &Form1::Menu_Expert_SeparateSCD_Click);
  wire(Menu_Expert_CombineSCD, "Menu_Expert_CombineSCD_Click", &Form1::Menu_Expert_CombineSCD_Click);
  wire(Menu_Expert_CompareSCD, "Menu_Expert_CompareSCD_Click", &Form1::Menu_Expert_CompareSCD_Click);

  // The list shows the results line by line, scrolled to its last line as
  // far as the list box goes: its last page whole, all of it while it fits.
  ResultsObserver observer;
  observer.Added = [this](const std::string& line) {
    results_->Append(Display(line));
    List2->SetTopIndex(results_->rowCount() - 1);
  };
  observer.DroppedFront = [this](size_t count) { results_->DropFront(count); };
  observer.Cleared = [this] { results_->Clear(); };
  for (const std::string& line : ResultLines()) results_->Append(Display(line));
  SetResultsObserver(std::move(observer));
}

Form1::~Form1() { SetResultsObserver({}); }

void Form1::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  core::TrapProcedure("Form_Resize", [&] { Form_Resize(); });
}

void Form1::closeEvent(QCloseEvent* event) {
  if (mainwindow::MayCloseNow(this))
    event->accept();
  else
    event->ignore();
}

void Form1::SetCommandsEnabled(bool enabled) {
  mainwindow::SetMenuEnabled(Menu_File, enabled);
  mainwindow::SetMenuEnabled(Menu_Expert, enabled);
}

void Form1::Command(const char* name, void (Form1::*handler)()) {
  // A check processes events for every line it adds: a second check, a
  // dump tool or a cluster read started there would load other clusters
  // into the buffer the first one writes back.
  const auto scope = ui::TryStartRun();
  if (!scope) return;
  Run run(*this);
  core::TrapProcedure(name, [&] { (this->*handler)(); });
}

void Form1::Form_Resize() {
  if (client_ && List2) List2->setGeometry(0, 0, client_->width(), client_->height());
}

void Form1::ToProgramFolder() {
  if (::chdir(core::AppDir().c_str()) != 0) {
    // Staying in the current folder is harmless.
  }
}

int Form1::RunDriveDialog() {
  const auto entries = DriveDialogEntries();
  mainwindow::Form6 form(this);
  form.setWindowTitle(QString::fromUtf8(kTitle));
  for (const auto& [text, drive] : entries) form.AddEntry(text, drive);
  // "Select" without a click keeps the start value: the first drive that
  // looks like a recorder disk, none (as Cancel) when there is none.
  mainwindow::SelectedDisk = DefaultDriveChoice(entries);
  ui::Current().RunModal("Form6", [&form] { return form.exec(); });
  return mainwindow::SelectedDisk;
}

void Form1::Form_Load() {
  // A close while the start-up processes events waits until it is done.
  ui::RunScope scope(ui::EndsByItself);
  Run run(*this);
  core::TrapProcedure("Form_Load", [&] {
    const bool extras = ExtrasEnabled();
    for (QAction* a : {Menu_Expert_CombineSCD, Menu_Expert_CompareSCD, Menu_Expert_SeparateSCD,
                       Menu_Expert_Sep1})
      a->setVisible(extras);

    StartTarget target = ParseCommandLine(commandLine_);
    if (target.What == StartTarget::Kind::Dialog) {
      const int selected = RunDriveDialog();
      if (selected == -1) ui::Current().EndProgram(ui::kExitNormal);
      if (selected == -2) {
        const std::string chosen = ui::Current().OpenFileDialog("", kSccFilter);
        if (chosen.empty()) ui::Current().EndProgram(ui::kExitNormal);
        ToProgramFolder();
        target.What = StartTarget::Kind::Dump;
        target.Name = DumpBasePath(chosen);
      } else {
        target.What = StartTarget::Kind::Drive;
        target.Name = "PhysicalDrive" + std::to_string(selected);
      }
    }
    OpenTarget(target);

    show();
    ui::Current().DoEvents(true);
    ui::Current().DoEvents(true);
    Addinfo("Select \"File - Perform Checks\" to start the file system check", "", false);
    Addinfo("", "", false);
    HintShown = true;
    SessionPrefix = MakeSessionPrefix();
  });
}

void Form1::Menu_File_PerformChecks_Click() { RunChecks(); }

void Form1::Menu_File_Save_Results_Click() {
  const std::string path =
      ui::Current().SaveFileDialog("", "Text files (*.txt)|*.txt|All files|*.*");
  if (path.empty()) return;
  SaveResults(path);
}

void Form1::Menu_File_ClearResults_Click() { ClearResults(); }

void Form1::Menu_File_Exit_Click() { ui::Current().EndProgram(ui::kExitNormal); }

void Form1::Menu_Expert_ReadCluster_Click() {
  const std::string answer = ui::Current().InputBox("Enter cluster number");
  if (answer.empty()) return;
  ReadClusterToFile(ClusterNumberFromText(answer));
}

void Form1::Menu_Expert_WriteCluster_Click() {
  const std::string answer = ui::Current().InputBox("Enter cluster number");
  if (answer.empty()) return;
  const std::string file = ui::Current().OpenFileDialog("", "Binaries (*.bin)|*.bin|All files|*.*");
  ToProgramFolder();
  if (file.empty()) return;
  WriteClusterFromFile(ClusterNumberFromText(answer), file);
}

void Form1::Menu_Expert_SaveSystemClusters_Click() {
  const std::string path =
      ui::Current().SaveFileDialog("", "System Clusters (*.scc)|*.scc|All files|*.*");
  if (path.empty()) return;
  SaveTopfSystemClusters(path);
}

void Form1::Menu_Expert_SeparateSCD_Click() { SeparateSCD(); }

void Form1::Menu_Expert_CombineSCD_Click() { CombineSCD(); }

void Form1::Menu_Expert_CompareSCD_Click() {
  const std::string path = ui::Current().OpenFileDialog("", kSccFilter);
  // Cancel ends the program, as the start-up dialog does.
  if (path.empty()) ui::Current().EndProgram(ui::kExitNormal);
  CompareSCD(path);
}

}  // namespace checker
