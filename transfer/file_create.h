// Creating files and folders on a side, and the target paths of a copy.
//
// Paths are in the form the side uses: on a recorder disk a path from the
// root ("\DataFiles\Film.rec", Windows-1252 bytes); on a PC drive a native
// path ("/home/user/Videos/Film.rec", UTF-8).
//
// Target paths of a copy are built by FSTargetPath only: it takes an entry's
// path below the source pane's folder and makes every component of it a
// valid, safe name on the target side, one component at a time (no "/",
// "\", NUL or control characters, never "." or ".."), so that nothing a
// recorder disk holds can make a copy land outside the target folder.
#pragma once

#include <string>

namespace transfer {

// The full target path, in the target side's form, of entry `entry` of the
// source side's list, copied from the folder `sourceFolder` (the source pane's
// folder, a path that ends with a separator) into `targetFolder` (the target
// pane's folder). Used for the copy job's FSCreateFile / FSCreateDir calls and
// by the exists filter. Components: recorder -> PC adapted (CleanupFileName)
// and converted to UTF-8; PC -> recorder converted to Windows-1252 with "\"
// and control characters replaced; folders bound for a recorder disk cut to
// the 94 characters an entry holds.
std::string FSTargetPath(int side, int entry, const std::string& sourceFolder,
                         const std::string& targetFolder);

// The PC file FSCreateFile creates for `path` on a PC side: the folder part
// as given, the name and extension made safe, joined by "." only when the
// extension is not empty (never a trailing dot). "" when the path names no
// file (ends with "/", or holds a ".." component).
std::string PcCreateName(const std::string& path);

// Prepares the target side of a transfer for a new file.
// PC side: takes the other side's cluster size, removes an existing file or
// link of that name (never a folder, pipe, socket or device: those refuse
// the file), creates the file empty and opens it for reading and writing as
// the side's handle. A missing folder refuses the file too: it is not made
// again (the copy job makes its folders first).
// Recorder side: resets the open-file state (CurrentCluster -1) and finds
// FreeHint, the lowest free FAT index. Refused with a message: a folder of
// that name, a missing parent folder, a full disk. Nothing is written.
// True when the side is ready for FSDataBufferWrite / FSDataBufferFlush.
// With `why` given, a refusal is not told: its reason goes there (the
// system's own, "Read-only file system", for a PC file that cannot be made).
bool FSCreateFile(int side, const std::string& path, std::string* why = nullptr);

// Creates a folder on a side.
// PC side: the folder and its parents (platform::PcMakeFolder: below the
// folder `from`, the one a job copies into, a link of another user is
// neither followed nor replaced); the side's list is not reloaded (the
// caller does that once). A failure is named by its reason: in `why` when
// given, else in a message.
// Recorder side: nothing when a folder of that path exists (case ignored);
// otherwise the parent must be a folder of the list with a free slot, the
// lowest free FAT index from 3 gets a new directory cluster, the FAT and the
// entry are written, and the record is added to the side's list. On a
// failure after the allocation the cluster is freed again.
// True when the folder exists afterwards.
bool FSCreateDir(int side, const std::string& path, const std::string& from = std::string(),
                 std::string* why = nullptr);

}  // namespace transfer
