// The Disk and Expert menu commands of the main window: write mode, the
// check program, the tool windows, the maintenance commands on the left
// disk and the expert cluster commands. The disk work lives in commands/;
// here the window is brought up to date afterwards.
#include <QAction>
#include <QComboBox>
#include <QSignalBlocker>
#include <QVariant>

#include "commands/cluster_cmd.h"
#include "commands/disk_maint.h"
#include "commands/fat_text.h"
#include "commands/launchers.h"
#include "core/disk_load.h"
#include "core/disk_model.h"
#include "core/error_handler.h"
#include "core/settings.h"
#include "mainwindow/form1.h"
#include "ui/ui.h"

namespace mainwindow {

namespace {

struct BusyPointer {
  BusyPointer() { ui::Current().SetBusy(true); }
  ~BusyPointer() { ui::Current().SetBusy(false); }
  BusyPointer(const BusyPointer&) = delete;
  BusyPointer& operator=(const BusyPointer&) = delete;
};

}  // namespace

// ------------------------------------------------------------- Disk menu

void Form1::Menu_Disk_FSCK_Click() {
  core::ProcScope scope("Menu_Disk_FSCK_Click");
  commands::StartDiskCheck();
}

void Form1::Menu_Disk_EnableWriting_Click() {
  core::ProcScope scope("Menu_Disk_EnableWriting_Click");
  EndLabelEdits();
  // The mode itself tells which way the switch goes; the menu item's check
  // mark follows it (a checkable action has toggled itself already).
  const bool switchOn = (core::Flags & core::FlagWriteMode) == 0;
  if (switchOn && !RWDisclaimer()) {
    Menu_Disk_EnableWriting->setChecked(false);
    return;
  }
  Menu_Disk_EnableWriting->setChecked(switchOn);

  if (!switchOn) {
    core::Flags &= ~(core::FlagWriteMode | core::FlagSide0Writable | core::FlagSide1Writable);
    for (int i = Combo1[1]->count() - 1; i >= 0; --i) {
      if (i >= Combo1[1]->count() || Combo1[1]->itemData(i).toInt() >= 1) continue;
      if (i == Combo1[1]->currentIndex()) SetDefaultPCDir();
      QSignalBlocker block(Combo1[1]);
      Combo1[1]->removeItem(i);
    }
  } else {
    core::Flags |= core::FlagWriteMode;
    for (int i = Combo1[0]->count() - 1; i >= 0; --i) {
      const int id = Combo1[0]->itemData(i).toInt();
      if (id >= 1) continue;
      // A recorder disk already offered on the right stays there once.
      if (Combo1[1]->findData(QVariant(id)) >= 0) continue;
      QSignalBlocker block(Combo1[1]);
      Combo1[1]->insertItem(0, Combo1[0]->itemText(i), QVariant(id));
    }
  }

  core::SetSetting("View", "WriteMode", switchOn ? "1" : "0");
  CheckWriteMode(0);
  CheckWriteMode(1);
  UpdateComboBoxes();
  EnableMenus();
}

void Form1::Menu_Disk_Scan_Click() {
  core::ProcScope scope("Menu_Disk_Scan_Click");
  commands::ShowScanner();
}

void Form1::Menu_Disk_WriteRecovered_Click() {
  core::ProcScope scope("Menu_Disk_WriteRecovered_Click");
  if (!commands::LeftRecorderReady()) return;
  BusyPointer busy;
  ui::Current().DoEvents(false);
  commands::WriteRecovered();
  core::LoadTopf(0, true);
  ShowFileList(0);
  // A right pane on the same disk takes the new record, so that it never
  // hands out the recovered files' clusters or writes its older FAT back.
  if (core::SameDisk()) {
    core::LoadTopf(1, false);
    ShowDirList(1);
    ShowFileList(1);
  }
  EnableMenus();
}

void Form1::Menu_Disk_ChangeD0D1_Click() {
  core::ProcScope scope("Menu_Disk_ChangeD0D1_Click");
  if (!commands::LeftRecorderReady()) return;
  const int32_t count = commands::FSChangeD0D1();
  ui::Current().MsgBox(commands::ChangeD0D1Text(count), ui::Buttons::OK, ui::Icon::Information);
  EnableMenus();
}

// ----------------------------------------------------------- Expert menu

void Form1::Menu_Expert_ReadCluster_Click() { commands::ReadClusterCommand(); }

void Form1::Menu_Expert_WriteCluster_Click() { commands::WriteClusterCommand(); }

void Form1::Menu_Expert_SaveSystemClusters_Click() { commands::SaveSystemClustersCommand(); }

void Form1::Menu_Expert_RestoreSystemClusters_Click() {
  commands::RestoreSystemClustersCommand();
}

void Form1::Menu_Expert_ExportClusterChain_Click() { commands::ExportFATCommand(); }

void Form1::Menu_Expert_ImportFAT_Click() { commands::ImportFATCommand(); }

void Form1::Menu_Expert_Defragment_Click() {
  core::ProcScope scope("Menu_Expert_Defragment_Click");
  commands::ShowDefragmenter();
}

void Form1::Menu_Expert_KillDisk_Click() {
  core::ProcScope scope("Menu_Expert_KillDisk_Click");
  // File mode works on a dump; there is no disk to wipe.
  if (core::InFileMode()) return;
  if (!commands::LeftRecorderReady()) return;
  if (ui::Current().MsgBox("Really erase the disk?", ui::Buttons::YesNo, ui::Icon::Question) !=
      ui::Answer::Yes)
    return;
  commands::KillDisk();
  core::LoadTopf(0, true);
  ShowDirList(0);
  ShowFileList(0);
  EnableMenus();
}

}  // namespace mainwindow
