// Adding a minimal recording header to a recording that has none (one
// rebuilt from lost clusters starts straight with transport-stream data),
// and putting the saved first cluster back.
//
// Before the header is written, the recording's unchanged first cluster is
// saved to an undo copy in the program folder, AppDir + CrcId + "_Undo_" +
// the start cluster (FAT index) as seven digits + ".bin", holding exactly
// the cluster's bytes as the cluster read delivers them. An undo copy is
// written once and never overwritten. The undo puts it back only when it
// belongs to that recording: the copy has exactly one cluster's length and
// agrees with the recording's first cluster everywhere but in the header
// bytes; then it is deleted.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace commands {

// Size of the recording header at the start of a recording's first cluster.
constexpr int32_t kRecHeaderBytes = 1656;

// Outcome of one add or undo (the menu commands go on with the next item
// whatever happens).
enum class RecHeaderResult {
  Done,            // header written / first cluster restored
  NotQualified,    // not a headerless .rec file (or no undo copy for it)
  NoStream,        // the first cluster holds no PMT or no video stream
  BadEntry,        // the entry's first cluster is not a cluster of its own
  ReadFailed,      // the first cluster could not be read: nothing written
  UndoFailed,      // the undo copy could not be written or read
  UndoMismatch,    // the undo copy does not belong to this recording
  WriteFailed,     // the cluster write failed
};

// True for a recorder name whose extension is "rec" (case ignored).
bool IsRecName(const std::string& name);

// The undo copy's path for a recording starting at FAT index `startCluster`
// on the side.
std::string RECUndoFile(int side, int32_t startCluster);

// The 1656 header bytes the add writes: "TFrc", 0x50, the service id, the
// PMT, PCR, video and audio PIDs (low 16 bits, big-endian) and the service
// name "Recovered"; everything else zero.
std::vector<uint8_t> BuildRECHeader(int32_t serviceId, int32_t pmtPid, int32_t pcrPid,
                                    int32_t videoPid, int32_t audioPid);

// True when entry `index` of the side's list has a first cluster that only
// it uses: a file (not a folder) with at least one cluster, starting at a
// FAT index 1..LastCluster that the FAT marks used, that is no folder's
// cluster and that no other entry's chain reaches (no other entry starts
// there, no FAT element links to it). Writers of a recording's first
// cluster test this first.
bool OwnFirstCluster(int side, int index);

// Adds the header to entry `index` of Disk(side).Files when it is a ".rec"
// file (any case) without header whose first cluster shows a PMT and a video
// stream. Sets HasRecHeader after the write.
RecHeaderResult FSAddRECHeader(int side, int index);

// Restores the first cluster of entry `index` (a ".rec" file) from its undo
// copy and deletes the copy. Clears HasRecHeader after the write.
RecHeaderResult FSUndoAddRECHeader(int side, int index);

}  // namespace commands
