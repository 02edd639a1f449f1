// The disk choosers of both panes, the check-state labels of their recorder
// entries, the transfer and refresh buttons, and the keyboard shortcuts.
#include <QComboBox>
#include <QMenu>
#include <QPushButton>
#include <QTabWidget>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "core/disk_init.h"
#include "core/disk_io.h"
#include "core/disk_load.h"
#include "core/disk_model.h"
#include "core/dumps.h"
#include "core/error_handler.h"
#include "core/iodebug.h"
#include "core/pc_helpers.h"
#include "core/settings.h"
#include "mainwindow/context_rules.h"
#include "mainwindow/form1.h"
#include "mainwindow/jobs.h"
#include "ui/ui.h"

namespace mainwindow {

namespace {

// Suffixes of recorder entries by check state; each begins with two blanks.
constexpr const char* kSuffixUnchecked = "  [---unchecked---]";
constexpr const char* kSuffixReadOnly = "  [---read only---]";
constexpr const char* kSuffixWriteDisabled = "  [---write disabled---]";

QString CheckSuffix(int32_t diskId) {
  const int64_t slot = int64_t(diskId) + 31;
  if (slot < 0 || slot > 31) return QString();
  const bool writeMode = (core::Flags & core::FlagWriteMode) != 0;
  switch (core::CheckState[slot]) {
    case 0:
      return kSuffixUnchecked;
    case 1:
      return kSuffixReadOnly;
    case 2:
      return writeMode ? QString() : QString(kSuffixWriteDisabled);
    default:
      return QString();
  }
}

// The folder a PC drive opens on: the process's current folder when it lies
// on that drive, else the drive's root. Native, with a trailing "/".
std::string CurrentFolderOnDrive(int32_t diskId) {
  std::error_code error;
  std::string cwd = std::filesystem::current_path(error).string();
  if (!error && !cwd.empty() && core::DriveIdOf(cwd) == diskId) {
    if (cwd.back() != '/') cwd += '/';
    return cwd;
  }
  return core::DriveRoot(diskId);
}

// Combo1_Click of a side is running (a chooser selected again from inside).
bool g_chooserBusy[2] = {false, false};

}  // namespace

void Form1::Combo1_Click(int side) {
  core::ProcScope scope("Combo1_Click");
  core::CheckSideIndex(side);
  // The pane's disk changes: an edit open on its entries ends unused.
  EndLabelEdits();
  // Selecting the entry that is being opened right now, from inside its own
  // handler (the stored PC folder puts the right pane back on its drive),
  // opens nothing a second time.
  if (g_chooserBusy[side] && SelectedDiskId(side) == core::DiskId[side]) return;
  struct BusyFlag {
    bool& flag;
    bool saved;
    explicit BusyFlag(bool& f) : flag(f), saved(f) { flag = true; }
    ~BusyFlag() { flag = saved; }
  } busy(g_chooserBusy[side]);

  // 1. The chosen entry's disk id.
  core::DiskId[side] = SelectedDiskId(side);

  if (core::DiskId[side] == core::kNoDisk || core::DiskId[side] >= 1) {
    // The recorder disk the pane showed is let go: no pane shows it now.
    core::ReleaseTopf(side);
  }
  if (core::DiskId[side] == core::kNoDisk) {
    // Nothing chosen: the pane shows nothing and stays read-only.
    TV1[side]->Clear();
    LV1[side]->Clear();
  } else if (core::DiskId[side] >= 1) {
    // 2. A PC drive.
    const std::string folder = CurrentFolderOnDrive(core::DiskId[side]);
    core::SetSetting("Copy", "Destination", folder);
    ShowDirList(side);
    SetDefaultPCDir();
    core::LoadTopf(side, false);
    ShowFileList(side);
    TabStrip1[side]->setCurrentIndex(1);
  } else {
    // 3. A recorder disk or the dump.
    const int32_t mode = core::Flags & 7;
    if (mode == core::FlagDisasterMode) {
      ShowDirList(side);
      LV1[side]->Clear();
    } else if (mode == core::FlagNormal || mode == core::FlagFileMode) {
      // 4. Open and load it.
      std::string name;
      if (mode == core::FlagNormal) {
        name = "PhysicalDrive" + std::to_string(std::abs(int64_t(core::DiskId[side])));
        core::AddIODebugLog("Combo1" + std::string(11, ' ') + std::to_string(side) +
                            " Selected drive " + name);
      } else {
        name = core::Disk[side].Name;
        core::AddIODebugLog("Combo1" + std::string(11, ' ') + std::to_string(side) +
                            " Selected file mode file " + name);
      }
      if (!core::InitTopf(side, name, true))
        core::EmergencyStop(
            core::OpenFailureText(name, "Unable to initialze the selected disk! Bailing out!"),
            ui::Icon::Critical);
      if (SaveSystemClustersSwitch) {
        const std::string dump = ui::Current().SaveFileDialog(
            "", "System Clusters (*.scc)|*.scc|All files|*.*");
        if (!dump.empty()) {
          ui::Current().ShowWait("Saving system clusters. Please stand by.");
          ui::Current().DoEvents(false);   // paint the notice; no user input under the save
          core::SaveTopfSystemClusters(side, dump);
          ui::Current().HideWait();
        }
      }
      core::LoadTopf(side, false);
      ShowDirList(side);
      // Open the recorder's data folder; a disk without one opens at its root.
      QString found;
      for (const QString& key : TV1[side]->Keys()) {
        if (key.toLower() == "\\datafiles\\") {
          found = key;
          break;
        }
      }
      if (found.isEmpty() && TV1[side]->Contains("\\")) found = "\\";
      if (!found.isEmpty()) {
        TV1[side]->SetSelectedKey(found);
        TV1_NodeClick(side, found);
      }
    }
  }

  // 5. Every branch.
  ResetSummary(side);
  CheckWriteMode(side);
  EnableMenus();
}

void Form1::UpdateComboBoxes() {
  core::ProcScope scope("UpdateComboBoxes");
  if ((core::Flags & core::FlagNormal) == 0) return;
  QSignalBlocker blockLeft(Combo1[0]);
  QSignalBlocker blockRight(Combo1[1]);
  for (int i = 0; i < Combo1[0]->count(); ++i) {
    QString text = Combo1[0]->itemText(i);
    const int bracket = text.lastIndexOf('[');
    if (bracket >= 0) text = text.left(bracket).trimmed();
    const int32_t id = Combo1[0]->itemData(i).toInt();
    if (id >= 1) continue;
    text += CheckSuffix(id);
    Combo1[0]->setItemText(i, text);
    for (int j = 0; j < Combo1[1]->count(); ++j)
      if (Combo1[1]->itemData(j).toInt() == id) Combo1[1]->setItemText(j, text);
  }
}

void Form1::Command1_Click(int index) {
  core::ProcScope scope("Command1_Click");
  switch (index) {
    case 0: Jobs().Copy(0, true); break;
    case 1: Jobs().Copy(0, false); break;
    case 2: Jobs().Copy(1, true); break;
    case 3: Jobs().Copy(1, false); break;
    default: return;
  }
  ReturnFocus(index < 2 ? 0 : 1);
}

void Form1::Command2_Click(int side) {
  core::ProcScope scope("Command2_Click");
  core::CheckSideIndex(side);
  if (core::DiskId[side] == core::kNoDisk) return;
  core::LoadTopf(side, false);
  ShowDirList(side);
  SetDefaultPCDir();
  ShowFileList(side);
  ResetSummary(side);
}

void Form1::Form_KeyPress(int& keyCode) {
  core::ProcScope scope("Form_KeyPress");
  if (ShortcutsOff) return;
  if (keyCode != 1 && keyCode != 3 && keyCode != 13) return;
  const int side = FocusSide;
  if (side < 0 || side > 1) return;
  // Not while a job runs. Ctrl+A ticks the pane whose list last had the
  // focus, wherever the focus is now; a copy or move only while that list
  // has the focus, has items and one of them is selected, and the pane's
  // context entry for the command would be enabled.
  ListView* list = LV1[side];
  if (!list->isEnabled() || !Menu_LVContext->isEnabled()) return;
  if (keyCode == 1) {
    keyCode = 0;
    ActiveSide = side;
    Menu_LVContext_SelectAll_Click();
    return;
  }
  if (focusWidget() != list) return;
  if (list->ItemCount() == 0 || list->SelectedKey().isEmpty()) return;
  const ContextRules rules = ComputeContextRules(*this, side, list->SelectedKey());
  switch (keyCode) {
    case 3:
      if (!rules.Copy) return;
      keyCode = 0;
      ActiveSide = side;
      Menu_LVContext_Copy_Click();
      break;
    case 13:
      if (!rules.Move) return;
      keyCode = 0;
      ActiveSide = side;
      Menu_LVContext_Move_Click();
      break;
    default:
      break;
  }
}

}  // namespace mainwindow
