// Making new entries in a recorder disk's directory tree: the cluster image
// of a new, empty subdirectory, and the directory entry of a new file or
// subdirectory (with the parent's "." free-byte count, the new folder's ".."
// free-byte count, the directory-size queue and the side's file list).
//
// Neither routine allocates clusters or writes the FAT: the caller has linked
// the chain in Disk[side].FAT and writes it with UpdateTopfFAT afterwards.
#pragma once

#include <cstdint>
#include <string>

namespace core {

// Builds the new directory cluster of FAT index `own` in ClusterBuffer (made
// the side's cluster size): "." (own index, FreeBytes SPC x 512 - 256) and
// ".." (the parent folder's index, or 0 for the root), every further slot
// unused. The parent is the live folder record whose name, compared without
// regard to case, is the part of `path` before its last "\".
void BuildSubDirBuffer(int side, int32_t own, const std::string& path);

// Writes the entry for `path` ("\DataFiles\Film.rec") into its parent folder
// and appends its record to Disk[side].Files. `size` in bytes (a folder: its
// cluster size), `date` a date value, `first` the FAT index of the first
// cluster (already linked in memory).
//
// Order: the parent (a live folder record) and a free slot are found first;
// the new entry is written into that slot, and only then is an older entry
// of the same name (case ignored, a file replaced by a file only) erased,
// its chain freed unless another entry - such as the new one - still
// reaches it. A cut between the two writes leaves both listed, never
// neither; a full folder refuses the new entry even when an older one of
// that name is there. A file of 0 bytes, a `first` that is not a used
// FAT index, a missing or full parent, an existing entry of the other kind,
// and a parent cluster that cannot be read or written are reported to the
// user (message box) and nothing is added.
//
// True when the entry is on the disk and in the list; false otherwise, so
// that the caller can undo its chain in memory.
bool CreateTopfFile(int side, const std::string& path, bool isDir, double size, double date,
                    int32_t first);

// The free slots of the folder that would hold `path` ("\DataFiles\Film.rec")
// among those the loader reads back (a folder holds at most 998 entries);
// -1 when that folder is not a live folder of the list, -2 when its cluster
// cannot be read or is no folder cluster. Uses ClusterBuffer.
int32_t FreeEntrySlots(int side, const std::string& path);

// The bytes every writer stores for the entry name `name` (Windows-1252,
// without a folder): create, copy and move onto a recorder disk, moves
// within and between recorder disks, rename and New Folder all form a name
// here, so that the loader reads back exactly what was written:
// - the byte 0xFF (y with diaeresis; the loader ends a name there) becomes
//   "y", as the PC name adaptation replaces it; NUL and the bytes 1 to 31
//   (which the loader leaves out) become "_";
// - final "." characters go (unless the name is nothing but dots);
// - a name longer than an entry holds loses characters of its name part,
//   never its "." and extension: the name part keeps at most 94 minus the
//   extension's length, so the whole is at most 95 bytes with an extension
//   and 94 without. An extension too long to leave one character before it
//   counts as part of the name, and the whole is cut to 94.
// Names the loader reads from a disk this system wrote come back unchanged,
// and forming a formed name changes nothing.
std::string EntryNameBytes(const std::string& name);
// `path` ("\DataFiles\Film.rec") with its last component formed by
// EntryNameBytes; the folder part stays as it is.
std::string EntryPath(const std::string& path);

// Windows-1252 text in lower case (A-Z and the accented capitals of the code
// page), as the recorder names are compared.
std::string LowerCaseName(const std::string& name);

}  // namespace core
