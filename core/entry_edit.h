// Rewriting single fields of an existing directory entry from its record in
// the side's file list. The caller changes the record first; the routine
// reads the directory cluster that holds the entry (DirCluster + 1), changes
// the field in slot `Slot` and writes the cluster back. A cluster whose read
// failed is never written back: the routine then returns false.
#pragma once

namespace core {

// The entry's start cluster from Files[index].StartCluster. For a folder also
// its own "." entry and the ".." entries of its subfolders, and the
// DirCluster of every record inside it. When the entry lies in the root's
// first four slots, its copy in the system cluster (and the side's RootCopy)
// follows too. False when any of these could not be read or written.
bool ModifyTopfFileStartCluster(int side, int index);

// Bytes 120 and 121 of the entry: 4 and CryptFlags when CryptValid, else 0 0.
bool ModifyTopfFileCryptFlags(int side, int index);

// Recorder side: date (MJD), hour and minute of the entry from RecDate; the
// seconds byte keeps its value. PC side: the file's times set to RecDate.
// False when the date did not reach the disk (or the PC file).
bool ModifyTopfFileDate(int side, int index);

}  // namespace core
