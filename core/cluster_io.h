// Cluster and sector I/O of a recorder disk by side (0 or 1) and disk cluster
// number (FAT index + 1): the byte order (callers always see the view), the
// write-through cache of disk clusters 0..5 per side, the guard that keeps
// unintended writes off the system cluster, the FAT CRC refreshed on every
// write of cluster 0, and file mode, where the same calls work on the
// system-cluster dump (.scc/.scd) instead of the disk.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace core {

// Reads disk cluster `cluster` of the side into ClusterBuffer (made SPC x 512
// bytes). True on success; on failure the buffer is all zeros. Clusters that
// do not lie on the disk (above LastCluster + 1, or past the device's end)
// are refused without a device access.
bool ReadTopfCluster(int side, int32_t cluster);

// ReadTopfCluster for a caller that takes what can be read: when the whole
// read fails on a drive that still answers, each sector of the cluster is
// read alone. ClusterBuffer then holds (in the view) every sector that read
// and zeros for the others, whose numbers within the cluster go into
// `unreadable` (ascending; all of them when nothing could be read, none when
// the cluster was refused as ReadTopfCluster refuses it). True when every
// sector was read, whole or one by one; what was read only in part is never
// cached, so no read-modify-write takes it for the cluster.
bool ReadTopfClusterSectors(int side, int32_t cluster, std::vector<int32_t>& unreadable);

// The side shows a recorder disk that a load of this run could not read in
// full (ReadIncomplete): it takes no write. WriteTopfCluster,
// CopyTopfCluster, ZeroTopfCluster and the transfer buffer refuse, except
// while a RawWriteScope lives.
bool DiskWriteRefused(int side);
// What such a refused write is told with.
constexpr const char* kTakesNoWriteText =
    "the disk could not be read in full in this run and takes no write";
// Why the last ReadTopfCluster, WriteTopfCluster or CopyTopfCluster of this
// thread that gave false failed, in the user's words: "writing the cluster
// failed (Input/output error)", "reading the cluster failed (...)",
// kTakesNoWriteText, ...
const std::string& ClusterFailure();
// An expert's explicit whole-cluster writes (Write Cluster, Kill Disk, the
// restore of a dump) store nothing that was not read: while one of these
// lives, they reach a disk that could not be read in full too.
struct RawWriteScope {
  RawWriteScope();
  ~RawWriteScope();
  RawWriteScope(const RawWriteScope&) = delete;
  RawWriteScope& operator=(const RawWriteScope&) = delete;
};

// Writes ClusterBuffer to disk cluster `cluster`. Disk cluster 0 needs
// allowSystem; without it the program stops with an emergency message.
// Every write of cluster 0 first stores the FAT CRC (for LastCluster
// entries) at offsets 48 and 560. Afterwards the buffer again holds the view.
// Clusters that do not lie on the disk are refused like reads. A failed
// write invalidates the cache slot it touched (both sides on one disk).
bool WriteTopfCluster(int side, int32_t cluster, bool allowSystem);

// Copies disk cluster `from` to disk cluster `to` of the same side: the
// bytes go from the disk to the disk as they are (the reversal a read and a
// write would each make cancels out), through a buffer of its own, so
// ClusterBuffer keeps what it held. One device read, then one write, with
// the same guards, failure handling and log lines as ReadTopfCluster
// followed by WriteTopfCluster (`to` 0 needs allowSystem); cached clusters
// and file mode go that way. True when both succeeded.
// `next`, when given, is the cluster the caller will copy next: it is read
// on a helper thread while this one is written, and taken by the next call
// if that copies it and no other write reached the disks in between (else
// it is dropped and read again). The disk's writes are the same, in the
// same order.
bool CopyTopfCluster(int side, int32_t from, int32_t to, bool allowSystem, int32_t next = -1);

// Waits for and forgets a cluster read ahead by CopyTopfCluster (before the
// disk it reads from is closed, and when a run of copies ends).
void DropClusterReadAhead();

// Makes disk cluster `cluster` (1 or more) read back as zeros: on an image
// file it is deallocated rather than written, on a device zeros are written
// (ZeroSectors). ClusterBuffer is left all zeros. Refused like
// WriteTopfCluster for clusters not on the disk.
bool ZeroTopfCluster(int side, int32_t cluster);

// The first sector of the cluster into SectorBuffer (the view); zeros and
// false on failure. No cache. With the side's SectorsPerCluster set to 1 it
// reads sector `cluster`.
bool ReadTopfSector(int side, int32_t cluster);

// Big-endian fields of ClusterBuffer; a field outside the buffer is a
// run-time error.
int16_t GetTopfWord(int32_t offset);
int32_t GetTopfLong(int32_t offset);
void SetTopfLong(int32_t offset, int32_t value);

// Grows Disk[side].Files to 0 .. 2 x FileCount (keeping its contents) when
// FileCount is beyond its upper bound. Call before adding at FileCount.
void CheckArraySize(int side);

// Invalidates the cache slots that the sectors [firstSector, firstSector +
// count) of the side's disk touch, on both sides when both show that disk.
// The transfer layer calls it after every direct sector write.
void InvalidateCachedSectors(int side, uint32_t firstSector, int64_t count);
// Invalidates the six slots of one side.
void InvalidateSideCache(int side);

// True when disk cluster `cluster` (FAT index cluster - 1, or the system
// cluster 0) may be read or written on the side in disk mode: 0 <= cluster
// <= LastCluster + 1 and the cluster lies wholly on the device (when its
// size is known).
bool ClusterOnDisk(int side, int64_t cluster);
// The same for FAT index `fatIndex` (0 .. LastDataIndex): its cluster holds data.
bool IndexOnDisk(int side, int64_t fatIndex);

// The highest FAT index of the side that may hold data (the disk-format
// rule LastDataIndex): nothing is read from, written to or allocated on a
// higher one.
int32_t LastDataIndex(int side);

}  // namespace core
