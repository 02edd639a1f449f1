// Which menus, buttons, choosers and lists of the main window are visible
// and enabled: everything off while a long job runs, and the rules by mode,
// write mode, side writability and recorder roots afterwards.
#include <QAction>
#include <QComboBox>
#include <QMenu>
#include <QPushButton>
#include <QTabWidget>
#include <algorithm>
#include <string>
#include <vector>

#include "core/disk_model.h"
#include "core/error_handler.h"
#include "core/pc_helpers.h"
#include "core/settings.h"
#include "mainwindow/form1.h"
#include "mainwindow/menu_build.h"
#include "platform/platform.h"

namespace mainwindow {

namespace {

std::string Lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return text;
}

bool Live(const core::FileRec& rec) { return rec.Name != core::kErasedName; }

// Some entry of the left side's list is a recovered chain not yet written.
bool LeftHasRecovered() {
  const core::DiskRec& d = core::Disk[0];
  const size_t count = std::min(size_t(std::max(d.FileCount, 0)), d.Files.size());
  for (size_t i = 0; i < count; ++i)
    if (Live(d.Files[i]) && d.Files[i].Recovered) return true;
  return false;
}

// Some recording of the left side (extension "rec", any case) has no valid
// recording header.
bool LeftHasHeaderlessRecording() {
  const core::DiskRec& d = core::Disk[0];
  const size_t count = std::min(size_t(std::max(d.FileCount, 0)), d.Files.size());
  for (size_t i = 0; i < count; ++i) {
    const core::FileRec& r = d.Files[i];
    if (!Live(r) || r.IsDir || r.HasRecHeader) continue;
    std::string folder, name, ext;
    core::SeparatePathComponents(r.Name, folder, name, ext,
                                 core::IsPCSide(0) ? core::kPcSeparator : core::kRecorderSeparator);
    if (Lower(ext) == "rec") return true;
  }
  return false;
}

// AppDir holds a saved first cluster of the left disk: CrcId + "_Undo*.bin".
bool UndoFilesExist() {
  const std::string prefix = Lower(core::Disk[0].CrcId + "_Undo");
  std::vector<platform::FolderEntry> entries;
  if (!platform::ListFolder(core::AppDir(), entries)) return false;
  for (const platform::FolderEntry& e : entries) {
    if (e.IsDir) continue;
    const std::string name = Lower(e.Name);
    if (name.size() >= prefix.size() + 4 && name.compare(0, prefix.size(), prefix) == 0 &&
        name.compare(name.size() - 4, 4, ".bin") == 0)
      return true;
  }
  return false;
}

}  // namespace

void Form1::DisableMenus() {
  core::ProcScope scope("DisableMenus");
  EndLabelEdits();
  for (QPushButton* b : Command1) b->setEnabled(false);
  for (QPushButton* b : Command2) b->setEnabled(false);
  SetMenuEnabled(Menu_File, false);
  SetMenuEnabled(Menu_Disk, false);
  SetMenuEnabled(Menu_LVContext, false);
  SetMenuEnabled(Menu_Expert, false);
  Menu_View_ShowGB->setEnabled(false);
  Combo1[0]->setEnabled(false);
  TabStrip1[0]->setEnabled(false);
  Combo1[1]->setEnabled(false);
  TabStrip1[1]->setEnabled(false);
  LV1[0]->setEnabled(false);
  LV1[1]->setEnabled(false);
  TV1[0]->setEnabled(false);
  TV1[1]->setEnabled(false);
}

void Form1::EnableMenus() {
  core::ProcScope scope("EnableMenus");
  // 1. Recorder roots as the panes show them now.
  const bool r0 = AtRecorderRoot(0);
  const bool r1 = AtRecorderRoot(1);

  // 2. Everything a job switched off.
  for (QPushButton* b : Command1) b->setEnabled(true);
  SetMenuEnabled(Menu_File, true);
  SetMenuEnabled(Menu_Disk, true);
  SetMenuEnabled(Menu_LVContext, true);
  SetMenuEnabled(Menu_Expert, true);
  Menu_View_ShowGB->setEnabled(true);
  Combo1[0]->setEnabled(true);
  TabStrip1[0]->setEnabled(true);
  Combo1[1]->setEnabled(true);
  TabStrip1[1]->setEnabled(true);
  LV1[0]->setEnabled(true);
  LV1[1]->setEnabled(true);
  TV1[0]->setEnabled(true);
  TV1[1]->setEnabled(true);

  // 3. What only write mode offers.
  const bool w = (core::Flags & core::FlagWriteMode) != 0;
  Menu_Disk_WriteRecovered->setVisible(w);
  Menu_Disk_Sep1->setVisible(w);
  Menu_Disk_AddREC->setVisible(w);
  Menu_Disk_UndoAddREC->setVisible(w);
  Menu_Disk_ChangeD0D1->setVisible(w);
  Menu_Expert_Defragment->setVisible(w);
  Menu_Disk_EnableWriting->setChecked(w);
  Command1[0]->setVisible(w);
  Command1[1]->setVisible(true);
  Command1[2]->setVisible(w);
  Command1[3]->setVisible(w);

  // 4. By mode.
  const bool left = SideWritable(0);
  const bool right = SideWritable(1);
  switch (core::Flags & 7) {
    case core::FlagNormal: {
      Command1[1]->setEnabled(right);
      Command1[3]->setEnabled(left);
      Command1[0]->setEnabled(left && right);
      Command1[2]->setEnabled(Command1[0]->isEnabled());
      Menu_Expert_Defragment->setEnabled(Command1[3]->isEnabled());
      Menu_Disk_WriteRecovered->setEnabled(LeftHasRecovered());
      Menu_Disk_AddREC->setEnabled(LeftHasHeaderlessRecording());
      Menu_Disk_UndoAddREC->setEnabled(UndoFilesExist());
      Menu_Disk_ChangeD0D1->setEnabled(true);
      LV1[0]->SetLabelEditAutomatic(left);
      LV1[1]->SetLabelEditAutomatic(right);
      break;
    }
    case core::FlagDisasterMode:
      Command1[1]->setEnabled(true);
      Command1[3]->setEnabled(false);
      Command1[0]->setEnabled(false);
      Command1[2]->setEnabled(false);
      Menu_Expert_Defragment->setEnabled(false);
      Menu_Disk_WriteRecovered->setEnabled(false);
      Menu_Disk_AddREC->setEnabled(false);
      Menu_Disk_UndoAddREC->setEnabled(false);
      Menu_Disk_ChangeD0D1->setEnabled(false);
      Menu_Disk_Scan->setEnabled(true);
      Menu_Disk_EnableWriting->setEnabled(false);
      Menu_Disk_FSCK->setEnabled(true);
      Menu_Expert_ReadCluster->setEnabled(true);
      Menu_Expert_WriteCluster->setEnabled(true);
      Menu_Expert_KillDisk->setEnabled(true);
      break;
    case core::FlagFileMode:
      for (QPushButton* b : Command1) b->setEnabled(false);
      Menu_Expert_Defragment->setEnabled(false);
      Menu_Disk_WriteRecovered->setEnabled(false);
      Menu_Disk_AddREC->setEnabled(false);
      Menu_Disk_UndoAddREC->setEnabled(false);
      Menu_Disk_ChangeD0D1->setEnabled(false);
      Menu_Disk_Scan->setEnabled(false);
      Menu_Disk_EnableWriting->setEnabled(false);
      Menu_Disk_FSCK->setEnabled(true);
      Menu_Expert_ReadCluster->setEnabled(false);
      Menu_Expert_WriteCluster->setEnabled(false);
      Menu_Expert_KillDisk->setEnabled(false);
      break;
    default:
      break;
  }

  // 5. Nothing is copied or moved into a recorder root, nor moved out of it.
  if (r0) {
    Command1[2]->setEnabled(false);
    Command1[3]->setEnabled(false);
    Command1[0]->setEnabled(false);
  }
  if (r1) {
    Command1[0]->setEnabled(false);
    Command1[1]->setEnabled(false);
    Command1[2]->setEnabled(false);
  }

  // 6. The refresh buttons.
  Command2[0]->setEnabled(true);
  Command2[1]->setEnabled(true);
}

}  // namespace mainwindow
