#include "core/fsck.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "core/cluster_io.h"
#include "core/disk_format.h"
#include "core/disk_init.h"
#include "core/disk_io.h"
#include "core/error_handler.h"
#include "core/side_file.h"
#include "ui/ui.h"

namespace core {

FsckResult FsckResults[kFsckSteps];
int FsckSide = 0;
int32_t FsckLastCluster = -1;
std::vector<FsckLink> FsckFAT1(kFatEntries);
std::vector<FsckLink> FsckFAT2(kFatEntries);
std::vector<FileRec> FsckFiles;
int32_t FsckFileCount = 0;

namespace {

constexpr int32_t kFsckFirstFiles = 1001;

bool fsckRunning = false;
// The data-scan estimate is taken once per check (it may read 18,801 sectors).
// The last FAT index whose cluster lies wholly on the device: an entry
// used above it (on a cut index) is outside the disk's data.
int32_t fsckLastData = -1;
bool scanCached = false;
int32_t scanResult = -1;
// Sectors of the system cluster that step 1's read could not read.
std::vector<int32_t> fsckBadSystem;
// Something could not be read that nothing on the disk stands in for: the
// later steps would examine zeros.
bool fsckStop = false;
// Step 5's walk: the folders that could not be read in full, the file
// entries whose size fields are not possible.
std::vector<std::string> fsckUnreadDirs;
std::vector<std::string> fsckBadSizes;
// What this check could not read, as its steps named it.
std::vector<std::string> fsckUnreadable;

constexpr int kUnreadableBit = 8;
constexpr int32_t kFat1Sector = kFAT1 / kSectorSize;
constexpr int32_t kFat2Sector = kFAT2 / kSectorSize;
constexpr int32_t kFatSectors = kFat2Sector - kFat1Sector;

bool Contains(const std::vector<int32_t>& sorted, int32_t v) {
  return std::binary_search(sorted.begin(), sorted.end(), v);
}

std::string SectorList(const std::vector<int32_t>& sectors) {
  std::string text;
  for (int32_t n : sectors) text += (text.empty() ? "" : ", ") + std::to_string(n);
  return text;
}

void ResetStep(int step, int32_t fatalMask) {
  FsckResults[step] = FsckResult();
  FsckResults[step].FatalMask = fatalMask;
}

void SetStatus(int step) {
  FsckResult& r = FsckResults[step];
  if (r.Flags & r.FatalMask) r.Status = 2;
  else if (r.Flags != 0) r.Status = 1;
  else r.Status = 0;
}

// Byte of ClusterBuffer, 0 past its end.
uint8_t At(size_t offset) { return offset < ClusterBuffer.size() ? ClusterBuffer[offset] : 0; }

int16_t Word(size_t offset) { return int16_t(uint16_t((At(offset) << 8) | At(offset + 1))); }

uint32_t Long(size_t offset) {
  return (uint32_t(At(offset)) << 24) | (uint32_t(At(offset + 1)) << 16) |
         (uint32_t(At(offset + 2)) << 8) | At(offset + 3);
}

bool MagicOk(size_t offset) {
  return At(offset) == 0x07 && At(offset + 1) == 0x08 && At(offset + 2) == 0x26 &&
         At(offset + 3) == 0x07;
}

// The ID string: the non-zero bytes from `offset` up to the first zero byte
// found from offset + 1 on, never past the buffer.
std::string IdString(size_t offset) {
  size_t end = offset + 1;
  while (end < ClusterBuffer.size() && ClusterBuffer[end] != 0) ++end;
  std::string text;
  for (size_t i = offset; i < end && i < ClusterBuffer.size(); ++i)
    if (ClusterBuffer[i] != 0) text.push_back(char(ClusterBuffer[i]));
  return text;
}

bool IdOk(const std::string& id) { return id == kTopfieldIdShort || id == kTopfieldId; }

std::string Version(size_t offset) {
  return "V" + std::to_string(At(offset)) + "." + std::to_string(At(offset + 1));
}

int32_t DataScanEstimate() {
  if (!scanCached) {
    scanResult = ScanForClusterSize(FsckSide);
    scanCached = true;
  }
  return scanResult;
}

// GuessClusterSize with the scan taken once per check.
int32_t DiskSizeEstimate() {
  if (InFileMode()) return GuessClusterSize(FsckSide);
  const int32_t scan = DataScanEstimate();
  if (scan >= 1) return scan;
  double cylinders = 0;
  int32_t tracks = 0, sectors = 0, bytesPerSector = 0;
  DiskGeometry(Disk[FsckSide].Handle, cylinders, tracks, sectors, bytesPerSector);
  return ClusterSizeForDiskBytes(cylinders * tracks * sectors * bytesPerSector);
}

void CheckClusterSize(int step, int32_t superblockValue) {
  const int32_t diskSize = DiskSizeEstimate();
  if (!InFileMode()) {
    const int32_t scan = DataScanEstimate();
    if (!(superblockValue == diskSize && diskSize == scan))
      AddResult(step, 3,
                "Sectors per Cluster mismatch (Super Block=" + std::to_string(superblockValue) +
                    ", Disk Size=" + std::to_string(diskSize) +
                    ", Data Scan=" + std::to_string(scan) + ")");
  } else if (superblockValue != diskSize) {
    AddResult(step, 3,
              "Sectors per Cluster mismatch (Super Block=" + std::to_string(superblockValue) +
                  ", Disk Size=" + std::to_string(diskSize) + ")");
  }
}

// Restores a side's cluster size however the read in between ends.
class SpcRestore {
 public:
  explicit SpcRestore(int side) : side_(side), saved_(Disk[side].SectorsPerCluster) {}
  ~SpcRestore() { Disk[side_].SectorsPerCluster = saved_; }
  SpcRestore(const SpcRestore&) = delete;
  SpcRestore& operator=(const SpcRestore&) = delete;

 private:
  int side_;
  int32_t saved_;
};

std::string Join(const std::vector<std::string>& items) {
  std::string text;
  for (const std::string& item : items) {
    if (!text.empty()) text += ", ";
    text += item;
  }
  return text;
}

// Steps 3 and 4: decode one FAT of cluster 0 into `table` and look for
// entries out of range, broken chains, crosslinks and circular chains.
// False when the side's cluster cannot hold that FAT (the step has then
// recorded it).
void CheckFat(int step, int32_t fatOffset, std::vector<FsckLink>& table) {
  table.assign(kFatEntries, FsckLink());
  const int32_t spc = InFileMode() ? FileModeSectorsPerCluster : Disk[FsckSide].SectorsPerCluster;
  std::vector<int32_t> bad;
  ReadTopfClusterSectors(FsckSide, 0, bad);
  const int32_t last = FsckLastCluster;
  const int64_t need = int64_t(fatOffset) + 3 * (int64_t(last) + 1);
  if (spc < kMinSectorsPerCluster || int64_t(ClusterBuffer.size()) < need) {
    AddResult(step, 0, "Outside FAT Range (Sectors per Cluster=" + std::to_string(spc) + ")");
    return;
  }
  const uint8_t* view = ClusterBuffer.data();

  // Sectors of this FAT that could not be read are named; their entries are
  // taken from the other FAT where it could be read (FAT1's from FAT2 in
  // the same read, FAT2's from the FAT1 the check has already taken).
  const int32_t firstSector = fatOffset / kSectorSize;
  std::vector<int32_t> unread;
  for (int32_t sector : bad)
    if (sector >= firstSector && sector < firstSector + kFatSectors) unread.push_back(sector);
  auto unreadAt = [&](int64_t offset) {
    return !unread.empty() && (Contains(bad, int32_t(offset / kSectorSize)) ||
                               Contains(bad, int32_t((offset + 2) / kSectorSize)));
  };
  bool lost = false;
  if (!unread.empty())
    AddResult(step, kUnreadableBit, std::string(fatOffset == kFAT1 ? "Unreadable FAT1" : "Unreadable FAT2") +
                                        " (sectors " + SectorList(unread) + ")");

  // Decode.
  std::vector<std::string> list;
  for (int32_t i = 0; i <= last; ++i) {
    uint32_t raw = ReadFat24(view, fatOffset, i);
    bool fromFat1 = false;
    if (unreadAt(int64_t(fatOffset) + 3 * int64_t(i))) {
      if (fatOffset != kFAT1) {
        fromFat1 = true;
      } else if (int64_t(kFAT2) + 3 * (int64_t(i) + 1) <= int64_t(ClusterBuffer.size()) &&
                 !unreadAt(int64_t(kFAT2) + 3 * int64_t(i))) {
        raw = ReadFat24(view, kFAT2, i);
      } else {
        lost = true;
        raw = kFat24Free;
      }
    }
    int32_t v;
    if (fromFat1) v = FsckFAT1[size_t(i)].Next;
    else if (raw == kFat24Free) v = 0;
    else if (raw == kFat24End) v = -1;
    else v = int32_t(raw);
    if (v < -1 || v >= kFatEntries || (v != 0 && i > fsckLastData)) {
      list.push_back(std::to_string(i));
      v = 0;
    }
    table[size_t(i)].Next = v;
    if (v >= 1) table[size_t(v)].Referrer = i;
  }
  if (!list.empty()) AddResult(step, 0, "Outside FAT Range (" + Join(list) + ")");
  // Entries that neither FAT could give: the chains through them cannot be
  // judged, and the check ends with this step.
  if (lost) {
    fsckStop = true;
    return;
  }

  // Broken chains.
  list.clear();
  for (int32_t i = 0; i <= last; ++i) {
    const int32_t n = table[size_t(i)].Next;
    if (n > 0 && table[size_t(n)].Next == 0) list.push_back(std::to_string(i));
  }
  if (!list.empty()) AddResult(step, 1, "Broken Chains (" + Join(list) + ")");

  // Crosslinks: each further entry pointing to a marked cluster pairs with
  // the nearest earlier entry pointing there.
  list.clear();
  std::vector<uint8_t> marked(kFatEntries, 0);
  for (int32_t i = 0; i <= last; ++i) {
    const int32_t n = table[size_t(i)].Next;
    if (n <= 0) continue;
    if (marked[size_t(n)]) {
      int32_t j = i - 1;
      while (j >= 0 && table[size_t(j)].Next != n) --j;
      list.push_back(std::to_string(j) + " & " + std::to_string(i));
    }
    marked[size_t(n)] = 1;
  }
  if (!list.empty()) AddResult(step, 4, "Crosslinked Clusters (" + Join(list) + ")");

  // Circular chains: a walk along Next that comes back to itself. Each
  // circle is named by its lowest index.
  list.clear();
  std::vector<uint8_t> state(kFatEntries, 0);   // 0 new, 1 on the current walk, 2 done
  std::vector<int32_t> walk;
  for (int32_t i = 0; i <= last; ++i) {
    if (state[size_t(i)] != 0 || table[size_t(i)].Next <= 0) continue;
    walk.clear();
    int32_t c = i;
    while (c >= 0 && c <= last && state[size_t(c)] == 0) {
      state[size_t(c)] = 1;
      walk.push_back(c);
      c = table[size_t(c)].Next;
      if (c <= 0) break;
    }
    if (c > 0 && c <= last && state[size_t(c)] == 1) {
      int32_t lowest = c;
      int32_t k = table[size_t(c)].Next;
      for (int32_t steps = 0; k != c && k > 0 && steps <= last; ++steps) {
        lowest = std::min(lowest, k);
        k = table[size_t(k)].Next;
      }
      list.push_back(std::to_string(lowest));
    }
    for (int32_t w : walk) state[size_t(w)] = 2;
  }
  if (!list.empty()) AddResult(step, 2, "Circular Chains (" + Join(list) + ")");
}

void AddFsckFile(const FileRec& r) {
  if (size_t(FsckFileCount) >= FsckFiles.size())
    FsckFiles.resize(size_t(2 * FsckFileCount + 1));
  FsckFiles[size_t(FsckFileCount)] = r;
  ++FsckFileCount;
}

// The name in a slot: from +20 up to the first zero byte, at most 97 bytes,
// bytes below 32 left out.
std::string SlotName(const uint8_t* slot) {
  std::string name;
  for (int k = 0; k < kMaxReadName; ++k) {
    const uint8_t b = slot[kDeName + k];
    if (b == 0) break;
    if (b >= 32) name.push_back(char(b));
  }
  return name;
}

}  // namespace

void ResetFsckState() {
  for (FsckResult& r : FsckResults) r = FsckResult();
  FsckSide = 0;
  FsckLastCluster = -1;
  FsckFAT1.assign(kFatEntries, FsckLink());
  FsckFAT2.assign(kFatEntries, FsckLink());
  FsckFiles.clear();
  FsckFileCount = 0;
  scanCached = false;
  scanResult = -1;
  fsckBadSystem.clear();
  fsckUnreadable.clear();
  fsckStop = false;
  fsckUnreadDirs.clear();
  fsckBadSizes.clear();
}

void AddResult(int step, int bit, const std::string& text) {
  if (step < 0 || step >= kFsckSteps || bit < 0 || bit > 31) return;
  FsckResult& r = FsckResults[step];
  const int32_t m = int32_t(uint32_t(1) << bit);
  if (r.Flags & m) return;
  r.Flags |= m;
  if (!r.Text.empty()) r.Text += ", ";
  r.Text += text;
  if (bit == kUnreadableBit) fsckUnreadable.push_back(text);
}

const std::vector<std::string>& FsckUnreadableFindings() { return fsckUnreadable; }

void FSCK_01_SuperBlock() {
  ProcScope scope("FSCK_01_SuperBlock");
  ResetStep(1, kFsckFatalSuperblock);
  {
    SpcRestore restore(FsckSide);
    Disk[FsckSide].SectorsPerCluster = DiskSizeEstimate();
    ReadTopfClusterSectors(FsckSide, 0, fsckBadSystem);
  }
  if (Contains(fsckBadSystem, 0)) {
    // Nothing of the disk can be judged without it.
    AddResult(1, kUnreadableBit, "Unreadable Super Block");
    fsckStop = true;
    SetStatus(1);
    return;
  }

  if (!MagicOk(kSbMagicNumber)) {
    char hex[16];
    const uint32_t le = uint32_t(At(0)) | (uint32_t(At(1)) << 8) | (uint32_t(At(2)) << 16) |
                        (uint32_t(At(3)) << 24);
    std::snprintf(hex, sizeof hex, "%08X", le);
    AddResult(1, 0, std::string("Magic Number (found 0x") + hex + ")");
  }
  const std::string id = IdString(kSbIdString);
  if (!IdOk(id)) AddResult(1, 1, "ID String (found \"" + id + "\")");
  const std::string version = Version(kSbLayoutMajor);
  if (version != "V1.0" && version != "V1.1")
    AddResult(1, 2, "Layout Version (found " + version + ")");

  const int32_t s = Word(kSbSectorsPerCluster);
  if (InFileMode()) {
    FsckLastCluster = fsckLastData = kMaxFatIndex;
  } else if (s >= 1) {
    double cylinders = 0;
    int32_t tracks = 0, sectors = 0, bytesPerSector = 0;
    DiskGeometry(Disk[FsckSide].Handle, cylinders, tracks, sectors, bytesPerSector);
    FsckLastCluster = FsckLastIndex(cylinders * tracks * sectors, s);
    // Only an index whose cluster lies wholly on the device holds data, as
    // the check program counts them: a used entry on one the device's end
    // cuts is found (and the repair clears it).
    fsckLastData =
        LastDataIndex(ComputeLastCluster(cylinders * tracks * sectors, s), DeviceSectors[FsckSide], s);
  }
  CheckClusterSize(1, s);
  SetStatus(1);
}

void FSCK_02_BackupSuperBlock() {
  ProcScope scope("FSCK_02_BackupSuperBlock");
  ResetStep(2, kFsckFatalSuperblock);
  // The sectors outside the superblock and the FATs that step 1's read
  // could not read (the backup superblock, the root copy, ...).
  std::vector<int32_t> unread;
  for (int32_t sector : fsckBadSystem)
    if (sector != 0 && (sector < kFat1Sector || sector >= kFat2Sector + kFatSectors))
      unread.push_back(sector);
  if (!unread.empty())
    AddResult(2, kUnreadableBit, "Unreadable Sectors of the System Cluster (" + SectorList(unread) + ")");
  if (Contains(unread, kBackupSuperblock / kSectorSize)) {
    SetStatus(2);
    return;
  }
  if (!MagicOk(kBackupSuperblock + kSbMagicNumber)) AddResult(2, 0, "Magic Number");
  if (!IdOk(IdString(kBackupSuperblock + kSbIdString))) AddResult(2, 1, "ID String");
  const std::string version = Version(kBackupSuperblock + kSbLayoutMajor);
  if (version != "V1.0" && version != "V1.1") AddResult(2, 2, "Layout Version");
  CheckClusterSize(2, Word(kBackupSuperblock + kSbSectorsPerCluster));
  int differ = 0;
  for (size_t i = 0; i < 512; ++i)
    if (At(i) != At(512 + i)) ++differ;
  if (differ != 0) AddResult(2, 4, "1:1 Copy of Sector 0");
  SetStatus(2);
}

void FSCK_03_FAT1() {
  ProcScope scope("FSCK_03_FAT1");
  ResetStep(3, kFsckFatalFat);
  CheckFat(3, kFAT1, FsckFAT1);
  SetStatus(3);
}

void FSCK_04_FAT2() {
  ProcScope scope("FSCK_04_FAT2");
  ResetStep(4, kFsckFatalFat);
  CheckFat(4, kFAT2, FsckFAT2);
  for (int32_t i = 0; i <= FsckLastCluster; ++i) {
    if (FsckFAT1[size_t(i)].Next != FsckFAT2[size_t(i)].Next) {
      AddResult(4, 5, "1:1 Copy of FAT1");
      break;
    }
  }
  SetStatus(4);
}

int32_t GetFATChainLength(int32_t start) {
  if (start < 0 || start > kMaxFatIndex) return 1;
  const int32_t limit = std::max(FsckLastCluster, 0) + 1;
  int32_t n = 1;
  int32_t c = start;
  while (FsckFAT1[size_t(c)].Next >= 1 && n <= limit) {
    c = FsckFAT1[size_t(c)].Next;
    ++n;
  }
  return n;
}

void ReadDir() {
  ProcScope scope("ReadDir");
  FsckFiles.assign(kFsckFirstFiles, FileRec());
  FsckFileCount = 0;
  List1.Clear();
  List1.AddItem("0 \\");

  const int32_t spc = Disk[FsckSide].SectorsPerCluster;
  const int64_t clusterBytes = int64_t(std::max(spc, 0)) * kSectorSize;
  const int32_t highestStart = std::min<int64_t>(int64_t(FsckLastCluster) + 10, kMaxFatIndex);
  std::vector<uint8_t> walked(kFatEntries, 0);   // folders queued or walked
  walked[0] = 1;
  bool invalidAttribute = false;
  std::vector<std::string> loops;
  fsckUnreadDirs.clear();
  fsckBadSizes.clear();

  while (!List1.Empty()) {
    const std::string line = List1.TakeFirst();
    const size_t blank = line.find(' ');
    const int32_t c = int32_t(std::stol(line.substr(0, blank)));
    const std::string path = blank == std::string::npos ? std::string() : line.substr(blank + 1);

    // A folder read in part is named unreadable and the slots that were read
    // are examined; where its first sector could not be read, its "." entry
    // is unknown: every slot the loader would visit then.
    std::vector<int32_t> bad;
    ReadTopfClusterSectors(FsckSide, c + 1, bad);
    if (!bad.empty()) fsckUnreadDirs.push_back(path);
    bool headUnread = !bad.empty() && bad.front() == 0;
    if (headUnread && c == 0) {
      // The root's first slots (DataFiles among them) are kept in the system
      // cluster too: what lies below is reached through that copy.
      std::vector<uint8_t> root = ClusterBuffer;
      std::vector<int32_t> badSystem;
      ReadTopfClusterSectors(FsckSide, 0, badSystem);
      if (root.size() >= size_t(kSectorSize) &&
          ClusterBuffer.size() >= size_t(kRootDirectoryCopy + kSectorSize) &&
          !Contains(badSystem, kRootDirectoryCopy / kSectorSize) &&
          ClusterBuffer[kRootDirectoryCopy] == AttrSelf) {
        std::memcpy(root.data(), ClusterBuffer.data() + kRootDirectoryCopy, kSectorSize);
        headUnread = false;
      }
      ClusterBuffer.swap(root);
    }
    // The slots that begin below SPC x 512 - FreeBytes ("." entry, signed),
    // never beyond the cluster buffer.
    const int64_t used =
        headUnread ? kDirReadableBytes : clusterBytes - int64_t(int32_t(Long(kDeFreeBytes)));
    const int64_t size = int64_t(ClusterBuffer.size());
    // The record of the entry in the slot at offset o, starting at s.
    auto entryRecord = [&](const uint8_t* slot, int64_t o, int32_t s, bool isDir) {
      FileRec r;
      r.Name = path + SlotName(slot);
      r.IsDir = isDir;
      r.EntryType = slot[kDeAttribute];
      r.StartCluster = s;
      r.ClusterCount = int32_t(GetBE32(slot + kDeClusterCount));
      r.DirCluster = c;
      r.Slot = int32_t(o / kDirEntrySize);
      return r;
    };
    for (int64_t o = 0; o < used && o + kDirEntrySize <= size; o += kDirEntrySize) {
      const uint8_t* slot = ClusterBuffer.data() + o;
      const uint8_t a = slot[kDeAttribute];
      if (c != 0 && !headUnread) {
        if (o == 0 && a != AttrSelf) AddResult(5, 4, "Invalid . directory");
        if (o == kDirEntrySize && a != AttrParent) AddResult(5, 4, "Invalid .. directory");
      }
      if (a == 0x00 || a == AttrUnused) continue;
      if (a == AttrParent || a == AttrSelf) continue;
      const int32_t s = int32_t(GetBE32(slot + kDeStartCluster));
      if (a == AttrDirectory || a == AttrRecycle) {
        if (s < 1 || s > highestStart) continue;
        const FileRec r = entryRecord(slot, o, s, /*isDir=*/true);
        AddFsckFile(r);
        if (walked[size_t(s)]) {
          loops.push_back(r.Name);   // a folder reached a second time
        } else {
          walked[size_t(s)] = 1;
          List1.AddItem(std::to_string(s) + " " + r.Name + "\\");
        }
      } else if (a == AttrFile || a == AttrRecording) {
        if (slot[kDeSkipByte] != 0) continue;
        if (s < 1 || s > highestStart) continue;
        const FileRec r = entryRecord(slot, o, s, /*isDir=*/false);
        if (!ReadEntrySizeOf(slot, spc).Possible) fsckBadSizes.push_back(r.Name);
        AddFsckFile(r);
      } else {
        invalidAttribute = true;
      }
    }
  }
  if (invalidAttribute) AddResult(5, 3, "Invalid Attribute");
  if (!loops.empty()) AddResult(5, 5, "Directory Loop (" + Join(loops) + ")");
  if (!fsckBadSizes.empty()) AddResult(5, 7, "Invalid File Size (" + Join(fsckBadSizes) + ")");
  if (!fsckUnreadDirs.empty())
    AddResult(5, kUnreadableBit, "Unreadable Directory (" + Join(fsckUnreadDirs) + ")");
}

void FSCK_05_Files() {
  ProcScope scope("FSCK_05_Files");
  ResetStep(5, kFsckFatalFiles);
  ReadDir();

  std::vector<std::string> list;
  for (int32_t k = 0; k < FsckFileCount; ++k) {
    const FileRec& r = FsckFiles[size_t(k)];
    if (FsckFAT1[size_t(r.StartCluster)].Next == 0) list.push_back(r.Name);
  }
  if (!list.empty()) AddResult(5, 0, "File points to an Empty Cluster (" + Join(list) + ")");

  std::vector<uint8_t> owned(kFatEntries, 0);
  for (int32_t k = 0; k < FsckFileCount; ++k) owned[size_t(FsckFiles[size_t(k)].StartCluster)] = 1;
  std::string lost;
  // What lies below a folder that could not be read is not known: no chain
  // is taken for lost then.
  for (int32_t i = 3; fsckUnreadDirs.empty() && i <= FsckLastCluster; ++i) {
    if (FsckFAT1[size_t(i)].Next != 0 && FsckFAT1[size_t(i)].Referrer == 0 && !owned[size_t(i)])
      lost += "\r\n\t" + std::to_string(i) + "  [" + std::to_string(GetFATChainLength(i)) + "]";
  }
  if (!lost.empty()) AddResult(5, 1, "Lost Clusters" + lost);

  list.clear();
  for (int32_t k = 0; k < FsckFileCount; ++k) {
    const FileRec& r = FsckFiles[size_t(k)];
    if (!r.IsDir && r.ClusterCount != GetFATChainLength(r.StartCluster)) list.push_back(r.Name);
  }
  if (!list.empty()) AddResult(5, 2, "File Size vs. Cluster Length (" + Join(list) + ")");

  // Two entries on one cluster: each entry's chain is walked and its
  // clusters marked with the entry; a walk that meets a cluster of another
  // entry, or an entry whose first cluster another FAT element links to,
  // is a crosslink between entries.
  list.clear();
  std::vector<int32_t> owner(kFatEntries, -1);
  std::vector<uint8_t> paired(size_t(std::max(FsckFileCount, 0)), 0);
  const int32_t last = std::clamp(FsckLastCluster, 0, kMaxFatIndex);
  for (int32_t k = 0; k < FsckFileCount; ++k) {
    const FileRec& r = FsckFiles[size_t(k)];
    int32_t c = r.StartCluster;
    for (int32_t steps = 0; c >= 1 && c <= last && steps <= last; ++steps) {
      const int32_t o = owner[size_t(c)];
      if (o == k) break;   // a circle of its own (reported by the FAT steps)
      if (o >= 0) {
        list.push_back(FsckFiles[size_t(o)].Name + " & " + r.Name);
        paired[size_t(o)] = paired[size_t(k)] = 1;
        break;
      }
      owner[size_t(c)] = k;
      c = FsckFAT1[size_t(c)].Next;
    }
  }
  for (int32_t k = 0; k < FsckFileCount; ++k) {
    const FileRec& r = FsckFiles[size_t(k)];
    if (paired[size_t(k)] || r.StartCluster < 1 || r.StartCluster > last) continue;
    const int32_t from = FsckFAT1[size_t(r.StartCluster)].Referrer;
    if (from < 1 || from > last || FsckFAT1[size_t(from)].Next != r.StartCluster) continue;
    const int32_t o = owner[size_t(from)];
    if (o == k) continue;   // its own chain runs back to its start
    list.push_back((o >= 0 ? FsckFiles[size_t(o)].Name : std::to_string(from)) + " & " + r.Name);
  }
  if (!list.empty()) {
    AddResult(5, 6, "Crosslinked Clusters (" + Join(list) + ")");
  }
  SetStatus(5);
}

bool FSCK(int side) {
  ProcScope scope("FSCK");
  CheckSideIndex(side);
  if (fsckRunning) return false;

  struct Running {
    explicit Running(int s) : side(s) { fsckRunning = true; }
    ~Running() {
      fsckRunning = false;
      scanCached = false;
      List1.Clear();
      try {
        FSCloseFile(side);
      } catch (...) {
      }
      ui::Current().HideWait();
    }
    int side;
  } running(side);

  ui::Current().ShowWait("Scanning Topfield Disk " + std::to_string(std::abs(DiskId[side])) +
                         ". Please stand by.");
  ui::Current().DoEvents(false);  // paint the wait window; no user input now

  FsckSide = side;
  scanCached = false;
  // Each check starts from the loaded disk's last cluster, within the FAT.
  FsckLastCluster = LastTableIndex(Disk[side].LastCluster);
  fsckLastData = InFileMode() ? FsckLastCluster : LastDataIndex(side);

  fsckStop = false;
  fsckBadSystem.clear();
  fsckUnreadable.clear();

  // A step whose only fatal finding is a read that failed, where the disk
  // holds what stands in for it, does not end the check: the later steps
  // still examine what lies below. The disk is refused all the same.
  bool refused = false;
  for (int step = 1; step <= 5; ++step) {
    switch (step) {
      case 1: FSCK_01_SuperBlock(); break;
      case 2: FSCK_02_BackupSuperBlock(); break;
      case 3: FSCK_03_FAT1(); break;
      case 4: FSCK_04_FAT2(); break;
      default: FSCK_05_Files(); break;
    }
    const FsckResult& r = FsckResults[step];
    if (r.Status == 2) refused = true;
    if ((r.Flags & r.FatalMask & ~kFsckUnreadable) != 0 || fsckStop) return false;
  }
  return !refused;
}

}  // namespace core
