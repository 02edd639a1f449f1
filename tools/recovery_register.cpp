// Hands the recovery window to the Disk menu's "Scan / Match..." command:
// linked into the program as an object of its own, so the registration runs
// at start-up whether or not anything else refers to it.
#include "commands/launchers.h"
#include "tools/recovery.h"

namespace {

const bool g_registered = [] {
  commands::ToolWindows().ShowScanner = &tools::ShowRecovery;
  return true;
}();

}  // namespace
