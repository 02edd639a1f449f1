#include "commands/launchers.h"

#include <vector>

#include "core/disk_model.h"
#include "core/error_handler.h"
#include "core/settings.h"
#include "platform/platform.h"
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

std::string CheckProgramPath() { return core::AppDir() + "Morvessantix"; }

void StartDiskCheck() {
  core::ProcScope scope("Menu_Disk_FSCK_Click");
  // One argument, never split at blanks and never seen by a shell: a dump's
  // base path may hold blanks or shell characters.
  std::vector<std::string> args;
  if (!core::Disk[0].Name.empty()) args.push_back(core::Disk[0].Name);
  if (!platform::StartProgram(CheckProgramPath(), args)) {
    ui::Current().MsgBox("Didn't find Morvessantix.exe", ui::Buttons::OK, ui::Icon::Exclamation);
    return;
  }
  // The check program works on the disk now: leave at once, without the
  // main window's unload (no settings saved); the system closes the handles.
  ui::Current().EndProgram(ui::kExitNormal);
}

}  // namespace commands
