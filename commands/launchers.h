// The tools the Disk and Expert menus hand the left disk to: the check and
// repair program Morvessantix (a separate process), the defragmenter window
// and the lost-recording scanner window.
//
// The two windows live in tools/, which the commands do not depend on: the
// tools register how to show them in ToolWindows() (see tools/). Until a
// window is registered its command shows "<name> is not available.".
#pragma once

#include <string>

namespace commands {

// How to show each tool window (modeless); nullptr = not available.
struct ToolWindowTable {
  void (*ShowDefragmenter)() = nullptr;
  void (*ShowScanner)() = nullptr;
};
ToolWindowTable& ToolWindows();

// Shows the defragmenter / scanner window, or the "not available" message.
void ShowDefragmenter();
void ShowScanner();

// The program file of the check and repair program: "Morvessantix" in the
// folder of the running program (not AppDir, which QUENBRIX_APPDIR may move).
std::string CheckProgramPath();
// Looks for the check program in `folder` instead ("" goes back; tests).
void SetCheckProgramFolder(const std::string& folder);

// Starts the check and repair program on the left disk (its one argument is
// Disk(0).Name, a drive name or a dump's base path, passed as one argument
// without any shell), in AppDir as its current folder, and then ends this program at once, without the main
// window's unload handler. When it cannot be started: "Didn't find
// Morvessantix.exe" and this program goes on (the function returns).
void StartDiskCheck();

}  // namespace commands
