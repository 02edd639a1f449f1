// The Disk and Expert menu commands and the recording editors of the
// context menu. Their work lives in the command modules; until a module is
// part of the program its command does nothing, so that every menu item is
// wired and can be driven already.
#include "core/error_handler.h"
#include "mainwindow/form1.h"

namespace mainwindow {

void Form1::Menu_Disk_FSCK_Click() { core::ProcScope scope("Menu_Disk_FSCK_Click"); }
void Form1::Menu_Disk_EnableWriting_Click() {
  core::ProcScope scope("Menu_Disk_EnableWriting_Click");
}
void Form1::Menu_Disk_Scan_Click() { core::ProcScope scope("Menu_Disk_Scan_Click"); }
void Form1::Menu_Disk_WriteRecovered_Click() {
  core::ProcScope scope("Menu_Disk_WriteRecovered_Click");
}
void Form1::Menu_Disk_AddREC_Click() { core::ProcScope scope("Menu_Disk_AddREC_Click"); }
void Form1::Menu_Disk_UndoAddREC_Click() { core::ProcScope scope("Menu_Disk_UndoAddREC_Click"); }
void Form1::Menu_Disk_ChangeD0D1_Click() { core::ProcScope scope("Menu_Disk_ChangeD0D1_Click"); }
void Form1::Menu_Expert_ReadCluster_Click() {
  core::ProcScope scope("Menu_Expert_ReadCluster_Click");
}
void Form1::Menu_Expert_WriteCluster_Click() {
  core::ProcScope scope("Menu_Expert_WriteCluster_Click");
}
void Form1::Menu_Expert_SaveSystemClusters_Click() {
  core::ProcScope scope("Menu_Expert_SaveSystemClusters_Click");
}
void Form1::Menu_Expert_RestoreSystemClusters_Click() {
  core::ProcScope scope("Menu_Expert_RestoreSystemClusters_Click");
}
void Form1::Menu_Expert_ExportClusterChain_Click() {
  core::ProcScope scope("Menu_Expert_ExportClusterChain_Click");
}
void Form1::Menu_Expert_ImportFAT_Click() { core::ProcScope scope("Menu_Expert_ImportFAT_Click"); }
void Form1::Menu_Expert_Defragment_Click() {
  core::ProcScope scope("Menu_Expert_Defragment_Click");
}
void Form1::Menu_Expert_KillDisk_Click() { core::ProcScope scope("Menu_Expert_KillDisk_Click"); }

void Form1::Menu_LVContext_SetUnCrypted_Click() {
  core::ProcScope scope("Menu_LVContext_SetUnCrypted_Click");
}
void Form1::Menu_LVContext_SetPartiallyCrypted_Click() {
  core::ProcScope scope("Menu_LVContext_SetPartiallyCrypted_Click");
}
void Form1::Menu_LVContext_SetCrypted_Click() {
  core::ProcScope scope("Menu_LVContext_SetCrypted_Click");
}
void Form1::Menu_LVContext_EditEventDescriptions_Click() {
  core::ProcScope scope("Menu_LVContext_EditEventDescriptions_Click");
}
void Form1::Menu_LVContext_EditFileDate_Click() {
  core::ProcScope scope("Menu_LVContext_EditFileDate_Click");
}
void Form1::Menu_LVContext_AutoSetFileDate_Click() {
  core::ProcScope scope("Menu_LVContext_AutoSetFileDate_Click");
}

}  // namespace mainwindow
