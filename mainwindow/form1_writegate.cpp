// The write-mode gate: the one-time disclaimer and the per-side decision
// whether a pane may be written.
#include <string>
#include <vector>

#include "core/disk_model.h"
#include "core/error_handler.h"
#include "core/fsck.h"
#include "core/settings.h"
#include "mainwindow/form1.h"
#include "ui/ui.h"

namespace mainwindow {

namespace {

// CheckState slot of a recorder disk id (drive n at 31 - n); -1 for an id
// that names no physical drive (a PC drive, or nothing chosen).
int CheckStateSlot(int32_t diskId) {
  const int64_t slot = int64_t(diskId) + 31;
  return slot >= 0 && slot <= 31 && diskId <= 0 ? int(slot) : -1;
}

// The side's disk could not be read in full: the text the load's refusal
// gives, then what could not be read (`parts`, the check's findings; none
// when the load already named them).
void TellNotReadInFull(int side, const std::vector<std::string>& parts) {
  ui::Current().MsgBoxList(std::string("The ") + (side == 0 ? "left" : "right") +
                               " disk could not be read in full (bad sectors)! Write disabled for "
                               "that disk!",
                           parts, ui::Buttons::OK, ui::Icon::Exclamation);
}

}  // namespace

bool Form1::RWDisclaimer() {
  core::ProcScope scope("RWDisclaimer");
  if (core::GetSetting("View", "WriteModeDisclaimer") == "1") return true;
  const ui::Answer answer = ui::Current().MsgBox(
      "Remember that YOU are responsible for your data. So do not work without a backup!"
      "\r\n\r\nDo you want to take the risk?",
      ui::Buttons::YesNo, ui::Icon::Question);
  // Only an explicit Yes is consent; a box closed any other way is not.
  if (answer != ui::Answer::Yes) return false;
  core::SetSetting("View", "WriteModeDisclaimer", "1");
  return true;
}

void Form1::CheckWriteMode(int side) {
  core::ProcScope scope("CheckWriteMode");
  core::CheckSideIndex(side);
  const int32_t bit = side == 0 ? core::FlagSide0Writable : core::FlagSide1Writable;
  const int32_t id = core::DiskId[side];
  if (id >= 1)
    core::Flags |= bit;
  else
    core::Flags &= ~bit;
  if (id >= 1 || (core::Flags & core::FlagWriteMode) == 0) return;

  // A pane with nothing chosen stays read-only and is not checked.
  const int slot = CheckStateSlot(id);
  if (slot < 0) return;

  int32_t& state = core::CheckState[slot];
  if (core::ReadIncomplete[slot]) {
    // Parts of the disk could not be read: it takes no write in this run,
    // and the check is not what stops it.
    core::Flags &= ~bit;
    if (state != 1) {
      state = 1;
      TellNotReadInFull(side, {});
      UpdateComboBoxes();
    }
    return;
  }
  if (state == 0) {
    if (core::FSCK(side)) {
      state = 2;
      core::Flags |= bit;
    } else if (!core::FsckUnreadableFindings().empty()) {
      // Refused for what it could not read, which it names.
      state = 1;
      TellNotReadInFull(side, core::FsckUnreadableFindings());
    } else {
      state = 1;
      ui::Current().MsgBox(side == 0
                               ? "The filesystem check has found one or more errors on the left "
                                 "disk! Write disabled for that disk!"
                               : "The filesystem check has found one or more errors on the right "
                                 "disk! Write disabled for that disk!",
                           ui::Buttons::OK, ui::Icon::Exclamation);
    }
    UpdateComboBoxes();
  } else if (state == 2) {
    core::Flags |= bit;
  }
}

}  // namespace mainwindow
