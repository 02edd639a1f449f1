// What the check program works on: the command line, the drive dialog's
// entries and the settings read at start-up. The window (form1.h) runs the
// start-up in its Form_Load with these pieces.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace checker {

// What a command line asks for.
struct StartTarget {
  enum class Kind { Dialog, Drive, Dump };
  Kind What = Kind::Dialog;
  std::string Name;   // Drive: the whole command line; Dump: folder + name (no extension)
};

// Empty: the drive dialog. Beginning with "PhysicalDrive" (case-sensitive):
// that drive, the whole text. Anything else: the base path of a dump (its
// extension dropped, so "x.scc" and "x" both mean "x").
StartTarget ParseCommandLine(const std::string& commandLine);

// The base path (folder + name, extension dropped) of a PC path.
std::string DumpBasePath(const std::string& path);

// The drive dialog's entries (text, item data): "Disk " + d + ": " + TAB +
// size + TAB + extra for every drive 0 .. 31 that opens, then "File Mode"
// with -2. Leaves SectorsPerCluster at 1 and no drive open.
std::vector<std::pair<std::string, int>> DriveDialogEntries();

// What "Select" takes when no entry was clicked: the first drive that looks
// like a recorder disk and is not in use, or -1 (as Cancel) when there is
// none. Never just drive 0, which may be any disk of the machine.
int DefaultDriveChoice(const std::vector<std::pair<std::string, int>>& entries);

// True when the first sectors of the open drive look like a recorder disk.
bool LooksLikeTopfieldDisk(int32_t handle);

// [View] Extras of the settings file (".\Quenbrix.ini" for this program,
// read only when core::IgnoredConfigFile lets it) is exactly "1".
bool ExtrasEnabled();

// Opens a drive (FileMode off) or a dump (FileMode on) through InitTopf,
// allocates the found entries and sets LostCounter to 0.
void OpenTarget(const StartTarget& target);

}  // namespace checker
