// What the jobs need of the main window, as a small interface: the panes'
// file lists (keys, check marks, bold marks, icons), the path labels, the
// menu state and the redrawing of a pane. The main window implements it
// (mainwindow/form1_jobhost.cpp); tests give a fake one.
//
// Items are addressed by their 1-based number in the list's display order,
// as the copy queue records them.
#pragma once

#include <string>

#include "transfer/copy_queue.h"

namespace transfer {

class JobHost {
 public:
  virtual ~JobHost();

  // Number of items of LV1(side).
  virtual int ItemCount(int side) = 0;
  // Key and check mark of every item of LV1(side), in display order.
  virtual PaneItems Items(int side) = 0;
  // Number of checked items of LV1(side).
  virtual int CountSelected(int side) = 0;
  // Checks the list's selected (highlighted) item; nothing when there is none.
  virtual void CheckSelectedItem(int side) = 0;
  // Marks of item `item` (1-based); an item that does not exist is ignored.
  virtual void SetItemBold(int side, int item, bool bold) = 0;
  virtual void SetItemChecked(int side, int item, bool checked) = 0;
  virtual void SetItemIcon(int side, int item, const std::string& iconKey) = 0;
  // The folder the pane shows (Label1(side + 2)) in the side's own form:
  // a recorder path in Windows-1252 bytes ending with "\", or a native PC
  // path ending with "/".
  virtual std::string PathLabel(int side) = 0;
  // The window's controls off while a job runs, and on again.
  virtual void DisableMenus() = 0;
  virtual void EnableMenus() = 0;
  // Redrawing a pane from its side's record (after LoadTopf).
  virtual void ShowDirList(int side) = 0;
  virtual void ShowFileList(int side) = 0;
  virtual void ResetSummary(int side) = 0;
  // Check mark of View > Absolute ETA.
  virtual bool AbsoluteETA() = 0;
};

// The host the jobs work with (not owned); nullptr when none is set.
JobHost* Host();
// Sets the host; returns the previous one.
JobHost* SetJobHost(JobHost* host);

}  // namespace transfer
