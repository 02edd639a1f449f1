// The long jobs the main window starts on the checked items of a pane: copy
// and move, erase, and the stream scan of recordings.
//
// Each takes the source side (0 left pane, 1 right pane) and reports to the
// user itself. The callers decide beforehand whether the job may run (side
// writable, no recorder root as target); the jobs do not test it again.
#pragma once

namespace mainwindow {

// Copies the checked entries of pane `side` into the folder the other pane
// shows; with `move` each source is erased after its copy is complete.
// Disables the window's controls while it runs (DisableMenus) and reloads
// both panes and calls EnableMenus at its end.
void DoCopy(int side, bool move);

// Asks, then erases the checked files and folders of pane `side` and
// refreshes both panes.
void DoErase(int side);

// Scans the streams of the checked recordings of pane `side` and records
// whether each is scrambled.
void DoScan(int side);

// The jobs the window's commands start, as replaceable entries: the
// defaults are DoCopy, DoErase and DoScan above; tests put recorders in.
struct JobTable {
  void (*Copy)(int side, bool move) = &DoCopy;
  void (*Erase)(int side) = &DoErase;
  void (*Scan)(int side) = &DoScan;
};
JobTable& Jobs();

}  // namespace mainwindow
