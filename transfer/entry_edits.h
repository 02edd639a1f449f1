// Entry edits on a side: renaming, dropping erased records from the list,
// and moving one cluster of a chain to another FAT index.
#pragma once

#include <cstdint>
#include <string>

namespace transfer {

// Renames entry `index` of the side's list to `newName` (a name without a
// folder). Refused with a message, nothing changed: an empty name, ".", "..",
// a name holding "\", "/" or control characters, a name another entry of the
// same folder already has (case ignored on a recorder disk).
// Recorder side: the entry's name field (bytes 20..119) is zeroed and gets
// the name as core::EntryNameBytes forms it (its name part cut to 94 - length
// of the extension characters, then "." and the extension); a pending
// recovered entry is renamed in the list only. In the list, a file gets
// folder + that name; a folder, and every record whose name begins with the
// folder's name followed by "\", get the new name in place of the old.
// PC side: the file or folder is renamed and the side's list reloaded.
// True when renamed.
bool FSRenameFile(int side, int index, const std::string& newName);

// Drops the records named "~~~~~" from the side's list, keeping the order,
// and lowers FileCount.
void FSCompressFileList(int side);

// Gives FAT index `dst` the place of `src` in its chain and frees `src`
// (in memory only). With copyData the cluster's content is copied first; a
// failed read or write changes nothing. Indexes outside 0..LastCluster, or
// src = dst, change nothing. True when relinked. `nextSrc`, when given, is
// the index the caller redirects next: its cluster is read while this one
// is written (see core::CopyTopfCluster).
bool FSRedirectFAT(int side, int32_t src, int32_t dst, bool copyData, int32_t nextSrc = -1);

}  // namespace transfer
