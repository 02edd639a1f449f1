#include "commands/launchers.h"

#include <vector>

#include "core/disk_init.h"
#include "core/disk_io.h"
#include "core/disk_model.h"
#include "core/error_handler.h"
#include "core/settings.h"
#include "platform/platform.h"
#include "ui/runs.h"
#include "ui/ui.h"

namespace commands {

ToolWindowTable& ToolWindows() {
  static ToolWindowTable table;
  return table;
}

namespace {

void NotAvailable(const std::string& what) {
  ui::Current().MsgBox(what + " is not available.", ui::Buttons::OK, ui::Icon::Exclamation);
}

}  // namespace

void ShowDefragmenter() {
  core::ProcScope scope("Menu_Expert_Defragment_Click");
  if (ToolWindows().ShowDefragmenter)
    ToolWindows().ShowDefragmenter();
  else
    NotAvailable("The defragmenter");
}

void ShowScanner() {
  core::ProcScope scope("Menu_Disk_Scan_Click");
  if (ToolWindows().ShowScanner)
    ToolWindows().ShowScanner();
  else
    NotAvailable("The scanner");
}

namespace {
std::string& CheckProgramFolder() {
  static std::string folder;
  return folder;
}
}  // namespace

void SetCheckProgramFolder(const std::string& folder) {
  CheckProgramFolder() = folder;
  if (!folder.empty() && folder.back() != '/') CheckProgramFolder() += '/';
}

// The check program is installed beside this one; the program folder
// (AppDir, which QUENBRIX_APPDIR may move) holds only settings and data.
std::string CheckProgramPath() {
  const std::string& folder = CheckProgramFolder();
  return (folder.empty() ? platform::ExeDir() : folder) + "Morvessantix";
}

void StartDiskCheck() {
  core::ProcScope scope("Menu_Disk_FSCK_Click");
  // It ends this program at once: never under a run that uses the disk.
  const auto run = ui::TryStartRun();
  if (!run) return;
  // One argument, never split at blanks and never seen by a shell: a dump's
  // base path may hold blanks or shell characters.
  std::vector<std::string> args;
  if (!core::Disk[0].Name.empty()) args.push_back(core::Disk[0].Name);
  // Only one program at a time may have a disk open for writing: let it go
  // before the check program opens it, and take it back should that fail.
  std::vector<int> released;
  for (int side = 0; side < 2; ++side) {
    core::DiskRec& d = core::Disk[side];
    if (core::DiskId[side] > 0 || d.Handle < 1 || core::InFileMode()) continue;
    core::CloseDisk(d.Handle);
    d.Handle = 0;
    released.push_back(side);
  }
  // It runs in the program folder: it reads Quenbrix.ini and keeps the
  // copies of the clusters it changes in its current folder, so they land
  // beside this program's settings and undo copies.
  if (!platform::StartProgram(CheckProgramPath(), args, core::AppDir())) {
    for (int side : released)
      if (!core::InitTopf(side, core::Disk[side].Name, true))
        core::EmergencyStop(core::OpenFailureText(core::Disk[side].Name,
                                                  "Unable to initialze the selected disk! Bailing out!"),
                            ui::Icon::Critical);
    ui::Current().MsgBox("Didn't find Morvessantix.exe", ui::Buttons::OK, ui::Icon::Exclamation);
    return;
  }
  // The check program works on the disk now: leave at once, without the
  // main window's unload (no settings saved).
  ui::Current().EndProgram(ui::kExitNormal);
}

}  // namespace commands
