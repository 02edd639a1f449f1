// Hands the defragmenter window to the Expert menu's command: the program
// links this file as an object of its own, so the registration runs at
// start-up whether or not anything else refers to it.
#include "commands/launchers.h"
#include "tools/defrag.h"

namespace {

const bool g_registered = [] {
  commands::ToolWindows().ShowDefragmenter = &tools::ShowDefragmenter;
  return true;
}();

}  // namespace
