// Entry point of the lost-recording scanner for the Disk menu.
#pragma once

namespace tools {

// Shows the recovery window modeless (loading and preparing it when it is not
// open yet, bringing it to the front otherwise). It always works on the left
// pane's disk.
void ShowRecovery();

}  // namespace tools
