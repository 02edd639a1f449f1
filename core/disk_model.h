// The in-memory disk model: what each side (0 left pane, 1 right pane)
// shows, the mode flags, the per-drive check state and the shared buffers.
//
// All of it is process-global state of the disk core, used by the window
// thread only. A side's record is refilled whenever a disk is chosen for it
// (InitTopf, then LoadTopf). ResetState() brings everything back to the
// start-up state (tests).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "core/disk_format.h"
#include "core/work_list.h"

namespace core {

// One FAT element in memory.
struct FatLink {
  int32_t Next = 0;   // 0 free, -1 end of chain, else the next FAT index (1..0x1FFFF)
  int32_t Prev = 0;   // the FAT index whose Next points here; 0 for a chain head or free
};

// One entry of a side's file list (and of the copy queue).
struct FileRec {
  std::string Name;            // recorder: "\DataFiles\name.rec" (cp1252 bytes); PC: full path
  uint8_t EntryType = 0;       // the entry's Attribute (0xD0, 0xD1, 0xF2, 0xF3); 0 on a PC side
  bool IsDir = false;
  bool CryptValid = false;     // bit 0x04 of entry byte 120
  uint8_t CryptFlags = 0;      // entry byte 121, the crypt value
  int32_t StartCluster = 0;    // first FAT index (0 on a PC side)
  int32_t ClusterCount = 0;
  double Size = 0;             // bytes; a directory: the total below it after a load
  int32_t ServiceType = 2;     // 0 television, 1 radio, 2 no header / directory
  double RecDate = 0;          // date value (days since 30 Dec 1899)
  int32_t Duration = 0;        // minutes, header bytes 8..9; 0 without header
  bool Recovered = false;      // a recovered chain not yet written to the disk
  bool HasRecHeader = false;
  int32_t DirCluster = 0;      // FAT index of the holding directory (-1 pending recovered)
  int32_t Slot = 0;            // slot in that directory cluster
  int32_t ParentCluster = 0;   // StartCluster of the last ".." read before the entry
  int32_t VideoPid = 0;        // recovered chains
  bool Contiguous = false;     // defragmenter work flag
};

// The name of an erased record until the list is compressed or reloaded.
constexpr const char* kErasedName = "~~~~~";

// The file being transferred on a side.
struct OpenFileRec {
  int32_t EntryIndex = 0;
  std::string Dir;             // directory part of the name (with its trailing separator)
  std::string FileName;        // name without extension
  std::string Ext;             // extension without the point
  int32_t ClustersDone = 0;
  int32_t ClusterCount = 0;
  int32_t FreeHint = 0;        // first free FAT index for a new file
  int32_t CurrentCluster = 0;  // next cluster to read / last written (-1 before the first)
  double Size = 0;
  // A PC file opened by FSOpenFile: its identity and modification time as
  // fstat showed them when it was opened (Size is its length then).
  uint64_t PcDevice = 0, PcInode = 0;
  int64_t PcModifiedNs = 0;
};

struct RootCopyEntry {
  int32_t StartCluster = 0;
  int32_t Slot = 0;            // 0..3
};

struct DiskRec {
  std::string Name;            // "PhysicalDriveN", a dump's base path, or the open PC file
  int32_t Handle = 0;          // >= 1 open, 0 closed, < 1 failed open
  std::string IdString;
  int32_t SectorsPerCluster = 0;
  int32_t LastCluster = 0;
  std::vector<FatLink> FAT;    // kFatEntries elements (0 .. 0x1FFFF)
  std::string CrcId;
  std::string BackupCrcId;
  std::vector<FileRec> Files;  // used elements 0 .. FileCount - 1
  int32_t FileCount = 0;
  OpenFileRec OpenFile;
  std::vector<RootCopyEntry> RootCopy;
  int32_t RootCopyCount = 0;
};

// Initial sizes of the growable arrays (upper bounds 1000 and 10).
constexpr size_t kInitialFiles = 1001;
constexpr size_t kInitialRootCopy = 11;

extern DiskRec Disk[2];

// What a side shows.
constexpr int32_t kNoDisk = -9999;   // nothing chosen
// DiskId > 0: a PC drive, its 1-based position in platform::ListVolumes().
// DiskId <= 0: the recorder disk on physical drive -DiskId (0 is drive 0).
extern int32_t DiskId[2];
inline bool IsPCSide(int side) { return DiskId[side] > 0; }

// Per physical drive 0..31: 0 not checked, 1 errors found (read-only), 2 passed.
extern int32_t CheckState[32];
// Per physical drive 0..31 (the CheckState slot, DiskId + 31): a load of this
// run found parts of the disk's system cluster or folders that could not be
// read. The drive then takes no write until the program ends (cluster_io's
// DiskWriteRefused); only a restore of a dump lifts that.
extern bool ReadIncomplete[32];
// The CheckState / ReadIncomplete slot of a recorder disk id; -1 for an id
// that names no physical drive (a PC drive, or nothing chosen).
inline int DriveSlot(int32_t diskId) {
  const int64_t slot = int64_t(diskId) + 31;
  return slot >= 0 && slot <= 31 && diskId <= 0 ? int(slot) : -1;
}

// Mode word.
constexpr int32_t FlagNormal = 0x01;
constexpr int32_t FlagDisasterMode = 0x02;
constexpr int32_t FlagFileMode = 0x04;
constexpr int32_t FlagWriteMode = 0x08;
constexpr int32_t FlagSide0Writable = 0x10;
constexpr int32_t FlagSide1Writable = 0x20;
extern int32_t Flags;
inline bool InFileMode() { return (Flags & FlagFileMode) != 0; }

// Shared buffers.
extern std::vector<uint8_t> ClusterBuffer;          // one cluster, the view
extern std::array<uint8_t, 512> SectorBuffer;       // first sector of a cluster, the view
extern std::array<uint8_t, 512> ProbeBuffer;        // target of the link check
extern std::vector<uint8_t> DataBuffer;             // transfer buffer (5 clusters of the larger side)
extern int32_t DataBufferFill;
extern std::vector<uint8_t> SubDirBuffer;           // template of a new directory cluster

// Cache of disk clusters 0..5 per side (disk mode only).
constexpr int32_t kCachedClusters = 6;
struct CacheSlot {
  std::vector<uint8_t> Data;
  bool Valid = false;
};
extern CacheSlot ClusterCache[2][kCachedClusters];

// File mode: for each disk cluster 0..0x1FFFF the 1-based position of its
// record in the .scd file, 0 when the dump has none.
extern std::vector<int64_t> ScdIndex;
// File mode: the dump's cluster size in sectors, the size of every file-mode
// cluster transfer (set by InitTopf).
extern int32_t FileModeSectorsPerCluster;

// Size in 512-byte sectors of the device behind each side's handle, taken
// when InitTopf opens it; -1 when unknown. Cluster I/O refuses clusters that
// do not lie wholly on the device.
extern int64_t DeviceSectors[2];

// The PC folder each side shows (the pane's path label), with a trailing "/".
// The main window keeps it in step with its label; LoadTopf lists it.
extern std::string CurrentFolder[2];

// Work lists: List1 the directory walk ("<FAT index> <path>" lines, first in
// first out), List4 per side the sorted directory-size work list.
extern WorkList List1;
extern WorkList List4[2];

// ------------------------------------------------------------ what the disk probe found
// FSShowDisks (core/disk_probe.h) fills these; ResetState empties them.

struct ChooserEntry {
  std::string Text;     // "Topfield Disk, Drive 1  (ST3160023A)", "/home  [data]"
  int32_t DiskId = 0;   // -drive for a recorder disk, the volume position for a PC drive
};

// The entries of Combo1[0] and Combo1[1], in order.
extern std::vector<ChooserEntry> ChooserEntries[2];

// Recorder disks the probe found in use by the system or another program
// (platform::DriveInUse): left out of the choosers, since this program may
// not write them; their drive numbers, in order.
extern std::vector<int> InUseRecorderDrives;

// Drives that are there but whose sector 0 the probe could not look at:
// the drive number, its device or image path ("" when the entry for it
// cannot be reached), and the system's error code of the failed open (0
// when the open worked and the read of sector 0 failed).
struct UnopenedDrive {
  int Number = 0;
  std::string Path;
  int Error = 0;
};
extern std::vector<UnopenedDrive> UnopenedDrives;

// Drives the probe read whose sector 0 does not carry the recorder's
// identity: their drive numbers, in order.
extern std::vector<int> ForeignDrives;

// Makes sure `side` is 0 or 1; anything else is a run-time error of the caller.
void CheckSideIndex(int side);
// The highest FAT index of the side: its LastCluster, never beyond the FAT
// (0x1FFFF) nor the table in memory; -1 when there is none. The clusters of
// the last one or two may be cut by the device's end (LastDataIndex).
int32_t LastFatIndex(int side);
inline int OtherSide(int side) { return 1 - side; }
// Both sides show the same disk (and a side is chosen).
inline bool SameDisk() { return DiskId[0] == DiskId[1] && DiskId[0] != kNoDisk; }

// Start-up state: DiskId -9999 on both sides, FAT 0..0x1FFFF, Files 0..1000,
// RootCopy 0..10, empty cache and buffers, Flags 0, every check state 0.
void ResetState();

}  // namespace core
