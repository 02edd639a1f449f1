// The check-and-repair program's own disk and cluster layer: one recorder
// disk per run, or one dump of its system and directory clusters (the files
// DiskName + ".scc" and ".scd"). Unlike the main program's layer it has no
// sides, no cache and no I/O debug log, and every cluster write leaves undo
// copies in the current folder:
//   SessionPrefix + "Cluster_" + Format(c - 1, "000000") + "_Original.bin"
//     the cluster as it was before its first write in this run,
//   SessionPrefix + "Cluster_" + Format(c - 1, "000000") + "_Fixed.bin"
//     the content of its last write,
// both exactly SectorsPerCluster x 512 bytes in view order (words reversed,
// every multi-byte field big-endian). Disk cluster 0 is "Cluster_-000001".
//
// Cluster numbers here are disk clusters: disk cluster 0 is the system
// cluster, disk cluster c holds FAT index c - 1 and starts at sector
// c x SectorsPerCluster.
//
// Sound behaviour on a damaged disk or dump:
//   - a cluster is written only after its current content was read
//     successfully and saved whole as this run's "_Original.bin" copy; when
//     that read fails the write is refused (WriteTopfCluster returns false)
//     and nothing on the disk or in the dump changes, and when the copy
//     cannot be saved the run writes nothing more;
//   - nothing is written at a cluster size the disk's own content
//     contradicts (InitTopf, ClusterSizeDoubt);
//   - nothing is written to a disk or dump that does not show it is a
//     recorder's (neither superblock carries the magic number or the
//     identification), unless the user answers Yes to a question whose
//     default is No (MayWriteDisk);
//   - a dump's cluster size is validated (1 to 0x7FFF sectors) before it
//     is used, and a ".scd" record that ends early or carries a number outside
//     the FAT is never indexed.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "core/disk_format.h"

namespace checker {

// ------------------------------------------------------------ module state

// True: work on the dump files DiskName + ".scc" / ".scd".
extern bool FileMode;
// "PhysicalDrive" + number, or the dump's base path (folder + name).
extern std::string DiskName;
// The open drive (disk mode); 0 when none.
extern int32_t DiskHandle;
// Cluster size in 512-byte sectors.
extern int32_t SectorsPerCluster;
// Highest FAT index the summary and the FAT loops use.
extern int32_t LastCluster;
// Disk mode: how many indexes past LastCluster the FAT loops take in too (0
// or 1), up to the last one the main program's check looks at
// (core::FsckLastIndex); none of them holds data, so an entry used there is
// cleared.
extern int32_t CheckedPastLast;
// The one cluster buffer (view order): target of reads, source of writes.
// Always SectorsPerCluster x 512 bytes after InitTopf.
extern std::vector<uint8_t> ClusterBuffer;
// Target of ReadTopfSector.
extern std::array<uint8_t, 512> SectorBuffer;
// File mode: for disk cluster c (0 .. 0x1FFFF) the 1-based byte position in
// the ".scd" file of the record that holds it; 0 = not in the dump.
extern std::vector<int64_t> ScdIndex;
// The four cluster-size estimates; -1 = invalid or not found.
extern int32_t SpcFromSize;
extern int32_t SpcFromSuperblock;
extern int32_t SpcFromBackup;
extern int32_t SpcFromDirScan;
// Prefix of the undo copies: Format(now, "yyyymmdd hhnn") + " - ".
extern std::string SessionPrefix;
// File mode: the drive geometry stored behind the system cluster in the
// ".scc" file (0 when it holds none).
extern double DumpCylinders;
extern int32_t DumpTracksPerCylinder;
extern int32_t DumpSectorsPerTrack;

// Puts every variable above back to its start state and closes the drive
// (tests).
void ResetDiskState();

// ------------------------------------------------------------ names

// "Cluster_" + Format(fatIndex, "000000"); "Cluster_-000001" for -1.
std::string ClusterFileStem(int32_t fatIndex);
// The undo copies of disk cluster c (relative names: the current folder).
std::string OriginalClusterFile(int32_t diskCluster);
std::string FixedClusterFile(int32_t diskCluster);
// How the messages name disk cluster c: "cluster " + its FAT index, or "the
// system cluster" for disk cluster 0.
std::string ClusterText(int32_t diskCluster);
// Format(now, "yyyymmdd hhnn") + " - " for the given local time.
std::string MakeSessionPrefix();

// ------------------------------------------------------------ disk access

// Opens a drive ("PhysicalDriveN") or file: read, or read and write
// (write-through). Handle >= 1, or -1 on failure.
int32_t OpenDisk(const std::string& name, bool readWrite);
void CloseDisk(int32_t handle);

// Disk mode: the drive's geometry (core::HandleGeometry; all 0 when it
// cannot be queried). File mode: 1, 1, length of DiskName + ".scc" / 512,
// 512 (core::FileModeGeometry).
void DiskGeometry(int32_t handle, double& Cylinders, int32_t& TracksPerCylinder,
                  int32_t& SectorsPerTrack, int32_t& BytesPerSector);

// Reads sector 0 of DiskHandle; when that fails shows "Quenbrix has lost the
// link to the hard drive! Terminating now!" and ends the program.
void CheckHDConnection();

// Fills SectorBuffer with the first sector of disk cluster n (n is a plain
// sector number while SectorsPerCluster is 1). Zeros when it cannot be read.
void ReadTopfSector(int32_t n);

// Fills ClusterBuffer with disk cluster c in view order. False (buffer
// zeroed) when c is neither the system cluster nor the cluster of a data
// index (IndexOnDisk, disk mode), not in the dump (file mode) or
// unreadable.
bool ReadTopfCluster(int32_t c);
// ReadTopfCluster for a caller that takes what can be read (the save of a
// dump): when the whole read of a cluster on the drive fails, each sector is
// read alone; ClusterBuffer then holds every sector that read and zeros for
// the others, whose numbers within the cluster go into `unreadable`. True
// when every sector was read. A cluster read only in part stands for a
// failed read: it is never written back.
bool ReadTopfClusterSectors(int32_t c, std::vector<int32_t>& unreadable);

// True when FAT index i is a data cluster: in disk mode an index up to
// LastCluster whose cluster (disk cluster i + 1) lies wholly on the device
// (core::LastDataIndex, as the main program counts them; the index or two
// the device's end cuts hold no data), in file mode 0 .. LastCluster. In
// disk mode only these clusters (and the system cluster) are read or
// written.
bool IndexOnDisk(int32_t fatIndex);
// The highest FAT index that IndexOnDisk takes (-1: none).
int32_t LastDataIndex();

// Disk mode: the device holds no cluster beyond the system cluster (it is
// smaller than one cylinder, or its geometry cannot be read): LastCluster is
// below 1, nothing can be read or written, and the check says so.
bool DiskTooSmall();

// Disk mode: why the cluster size cannot be confirmed: the disk's own
// content (the root lying at cluster 1, folders' "." slots at the start of
// their clusters) contradicts the size the superblock words give without
// clearly naming another one (core::ConfirmedClusterSize). Nothing is then
// checked or written; empty when the size is confirmed.
extern std::string ClusterSizeDoubt;
// Nothing on the disk can be checked: DiskTooSmall, ClusterSizeDoubt, or
// a disk that is no recorder's and that the user did not let be written
// (MayWriteDisk).
bool NothingToCheck();

// What the opened disk or dump holds where a recorder's superblock belongs
// ("an ext2/3/4 file system", "only zeros", ...; core::ForeignContentName),
// or "" when at least one of its two superblocks carries the recorder's
// magic number or identification. Set by InitTopf, once per opened disk.
extern std::string ForeignContent;
// Whether the check program may write to the opened disk or dump: always
// when it shows it is a recorder's; otherwise only after the user answered
// Yes to a question that names what it holds (default No). Asked at most
// once per opened disk; the answer holds for the rest of the run.
bool MayWriteDisk();
// The one "Error:" text (without the kind) of a check refused by
// MayWriteDisk.
std::string NotRecorderDiskText();

// True once a cluster's before-image could not be saved on the PC: the run
// then writes nothing more (said in an "Error:" line naming the folder and
// the reason).
bool WritesStopped();
// The file that holds this run's before-image of disk cluster c ("" when
// the cluster was not written in this run).
std::string OriginalCopyOf(int32_t diskCluster);

// Writes ClusterBuffer to disk cluster c, keeping the undo copies. Below 1
// without allowSystem: emergency stop. Disk cluster 0 gets the FAT CRC
// computed into the buffer first. A cluster is written only after its whole
// content before its first write in this run is saved as a new
// "_Original.bin" file (a name already taken gets "_2" and so on; nothing
// placed at the name is ever taken as the copy). Returns false, writing
// nothing, when that content could not be read or saved (after a failed
// save the run writes nothing more: WritesStopped), when the cluster size
// is in doubt, or, in disk mode, when c is no cluster ReadTopfCluster may
// read, or when the disk is no recorder's and may not be written
// (MayWriteDisk); true otherwise. A "_Fixed.bin" copy that cannot be saved is
// reported as an "Error:" line. The buffer is in view order again when it
// returns.
bool WriteTopfCluster(int32_t c, bool allowSystem);
// Writes ClusterBuffer to disk cluster c (WriteTopfCluster) and settles the
// held lines of its fixes (SettleHeldLines: "Fixed:" only when written);
// when the disk layer refuses, reports "Error:" prefix + "Couldn't write " +
// ClusterText (the FAT index, or the system cluster) and returns false.
bool WriteBackCluster(int32_t diskCluster, bool allowSystem, const std::string& prefix);

// Tells the layer that ClusterBuffer was filled from elsewhere (a PC file),
// so it no longer stands for a failed read.
void MarkClusterBufferLoaded();

// File mode: rebuilds ScdIndex from the ".scd" file (core::IndexDumpRecords:
// complete records numbered with a FAT index below 0x1FFFF only).
void IndexDumpRecords();

// Sets the four estimates and SectorsPerCluster (= SpcFromSize), sizes the
// buffer and reads cluster 0 into it.
void GuessClusterSize();

// How many of the four cluster-size sources name `spc`: the superblock's
// word, the backup's word (as read, any size the format allows), the disk
// size (whose table stops at 4512: a disk above 250 GiB names every size
// from 4512 up) and the directory scan, which counts twice when two or more
// "." slots agree on it; a word at whose cluster 1 the root lies (its first
// sector as cluster 0's copy of it) gains two more. 0 for a value the format
// allows for no cluster (both FATs must fit into the system cluster, at most
// 0x7FFF sectors).
int32_t ClusterSizeVotes(int32_t spc);
// The cluster size the superblock words give: the superblock's word when
// its backup holds the same size the format allows (the disk size, whose
// table ends at 4512, cannot overrule the two; InitTopf then checks the
// size against the disk's own content). Otherwise the word was damaged: of the directory
// scan, the superblock word, the backup word and the disk size (in that
// order of precedence on a tie), the valid one that most sources name; a
// word that is no cluster size at all never stands.
int32_t VotedClusterSize();

// Opens the disk or dump and sets DiskName, SectorsPerCluster, LastCluster,
// ClusterBuffer and ScdIndex. FileMode must be set before. A drive's
// cluster size is the words' (VotedClusterSize) when the disk's own
// content confirms it or names no size, else the size that content names
// clearly; where it only contradicts the words, ClusterSizeDoubt says why
// nothing is checked or written. A drive is
// opened for writing, which only one program may do at a time: one in use
// is waited for a few seconds (the main program lets it go as it hands it
// over), then refused with core::DiskInUseText. Ends the program
// with "Unable to open the disk!" when the drive cannot be opened, and with
// a message when the dump cannot be used (missing ".scc", no valid cluster
// size).
void InitTopf(const std::string& name);

// "512  B", "1.00 kB", "1.5 MB": divided by 1024 while above 1024 and a
// larger unit of " kMGT" is left; bytes or decimals 0 as a whole number.
std::string FileSizeToString(double size, int32_t decimals);

}  // namespace checker
