#include "core/dumps.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#include "core/cluster_io.h"
#include "core/disk_init.h"
#include "core/disk_io.h"
#include "core/disk_model.h"
#include "core/error_handler.h"
#include "core/pc_helpers.h"
#include "platform/platform.h"

namespace core {

namespace {

struct BusyPointer {
  BusyPointer() { ui::Current().SetBusy(true); }
  ~BusyPointer() { ui::Current().SetBusy(false); }
};

// A dump file written anew: into a new file beside its name, which takes
// the name only once complete (platform::PcFileReplaceCommit); dropped when
// the save ends before that.
struct File {
  platform::PcFileReplacement f;
  ~File() {
    if (f.Handle >= 0) platform::PcFileReplaceAbort(f);
  }
};

void PutLE32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
  p[3] = uint8_t(v >> 24);
}
uint32_t GetLE32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

// Writes `length` bytes or raises the system error.
void WriteAll(File& file, const void* data, size_t length, const std::string& name) {
  if (!platform::PcFileReplaceWrite(file.f, data, length)) RaisePcFileError(name);
}

// Reads `length` bytes at `offset` of a PC file; false when it is shorter.
bool ReadFileAt(const std::string& path, int64_t offset, void* data, size_t length) {
  int handle = platform::DriveOpen(path, false);
  if (handle < 1) return false;
  bool ok = platform::ReadAt(handle, uint64_t(offset), data, length);
  platform::DriveClose(handle);
  return ok;
}

// The cluster size the disk's own superblock gives (0 when it is no recorder
// disk or gives no usable value).
int32_t SuperblockClusterSize(int side) {
  DiskRec& d = Disk[side];
  const int32_t saved = d.SectorsPerCluster;
  d.SectorsPerCluster = 1;
  const bool read = ReadTopfSector(side, 0);
  d.SectorsPerCluster = saved;
  if (!read || ReadIdString(SectorBuffer.data()) != kTopfieldId) return 0;
  const int32_t spc = int16_t(GetBE16(SectorBuffer.data() + kSbSectorsPerCluster));
  return ValidSectorsPerCluster(spc) ? spc : 0;
}

// The cluster size of the disk shown on the side, as far as it can be told.
int32_t DiskClusterSize(int side) {
  if (InFileMode()) return FileModeSectorsPerCluster;
  int32_t spc = SuperblockClusterSize(side);
  if (spc == 0 && ValidSectorsPerCluster(Disk[side].SectorsPerCluster))
    spc = Disk[side].SectorsPerCluster;
  if (spc == 0) spc = GuessClusterSize(side);
  return spc;
}

// True when both names lead to one existing file (links and other spellings
// of a path included).
bool SameFile(const std::string& a, const std::string& b) {
  std::error_code error;
  return std::filesystem::equivalent(a, b, error) && !error;
}

double DiskSectors(int side, double& cylinders, int32_t& tracks, int32_t& sectors) {
  int32_t bytesPerSector = 0;
  DiskGeometry(Disk[side].Handle, cylinders, tracks, sectors, bytesPerSector);
  return cylinders * tracks * sectors;
}

}  // namespace

std::string DumpBasePath(const std::string& path) {
  std::string folder, name, extension;
  SeparatePathComponents(path, folder, name, extension);
  return folder + name;
}

bool SaveTopfSystemClusters(int side, const std::string& path) {
  ProcScope scope("SaveTopfSystemClusters");
  CheckSideIndex(side);
  if (IsPCSide(side)) return false;
  BusyPointer busy;
  DiskRec& d = Disk[side];
  const std::string base = DumpBasePath(path);
  const int32_t rememberedSpc = d.SectorsPerCluster;
  const int32_t rememberedLast = d.LastCluster;

  // Geometry and cluster size of what is saved.
  double cylinders = 0;
  int32_t tracks = 0, sectors = 0;
  int32_t spc = 0, last = 0;
  if (InFileMode()) {
    spc = FileModeSectorsPerCluster;
    last = kMaxFatIndex;   // a dump holds clusters of the whole FAT
    // The new dump keeps the geometry of the disk the source dump was made from.
    uint8_t trailer[16] = {};
    if (spc > 0 && ReadFileAt(d.Name + ".scc", int64_t(spc) * kSectorSize, trailer, 16)) {
      std::memcpy(&cylinders, trailer, 8);
      tracks = int32_t(GetLE32(trailer + 8));
      sectors = int32_t(GetLE32(trailer + 12));
    } else {
      DiskSectors(side, cylinders, tracks, sectors);
    }
  } else {
    // The disk's own size, never the value the side kept from the disk it
    // showed before: a pane may have switched to another disk just now.
    // Without a usable superblock the estimate decides, not the side's
    // value, which may still be the previous disk's.
    const double total = DiskSectors(side, cylinders, tracks, sectors);
    spc = SuperblockClusterSize(side);
    if (spc == 0) spc = GuessClusterSize(side);
    last = ComputeLastCluster(total, spc);
  }
  if (!ValidSectorsPerCluster(spc)) {
    ui::Current().MsgBox("Saving system clusters failed because the cluster size of the disk (" +
                             std::to_string(spc) + " sectors) is not usable.",
                         ui::Buttons::OK, ui::Icon::Exclamation);
    return false;
  }
  if (last < 1) {
    ui::Current().MsgBox(
        "Saving system clusters failed because the size of the disk is not known.",
        ui::Buttons::OK, ui::Icon::Exclamation);
    return false;
  }
  // In file mode the walk reads the loaded dump's files: writing the new
  // dump over them would destroy what is being read.
  if (InFileMode() && (SameFile(base + ".scc", d.Name + ".scc") ||
                       SameFile(base + ".scd", d.Name + ".scd") ||
                       SameFile(base + ".scc", d.Name + ".scd") ||
                       SameFile(base + ".scd", d.Name + ".scc"))) {
    ui::Current().MsgBox("Saving system clusters failed because " + base +
                             " is the dump that is loaded. Please save it under another name.",
                         ui::Buttons::OK, ui::Icon::Exclamation);
    return false;
  }
  d.SectorsPerCluster = spc;
  d.LastCluster = last;
  struct Restore {
    DiskRec& d;
    int32_t spc, last;
    ~Restore() {
      if (spc != 0) {
        d.SectorsPerCluster = spc;
        if (last != 0) d.LastCluster = last;
      }
    }
  } restore{d, rememberedSpc, rememberedLast};

  if (!ReadTopfCluster(side, 0)) {
    ui::Current().MsgBox("Saving system clusters failed because the system cluster could not be read.",
                         ui::Buttons::OK, ui::Icon::Exclamation);
    return false;
  }
  const size_t clusterBytes = size_t(spc) * kSectorSize;

  // Both files take their names together at the end, once both are whole.
  const std::string sccName = base + ".scc";
  File scc;
  bool written = Guard([&] {
    platform::PcFileReplaceAbort(scc.f);
    if (!platform::PcFileReplaceBegin(sccName, scc.f)) RaisePcFileError(sccName);
    uint8_t trailer[16];
    std::memcpy(trailer, &cylinders, 8);
    PutLE32(trailer + 8, uint32_t(tracks));
    PutLE32(trailer + 12, uint32_t(sectors));
    WriteAll(scc, ClusterBuffer.data(), clusterBytes, sccName);
    WriteAll(scc, trailer, sizeof trailer, sccName);
  });
  if (!written) return false;

  const std::string scdName = base + ".scd";
  File scd;
  if (!Guard([&] {
        if (!platform::PcFileReplaceBegin(scdName, scd.f)) RaisePcFileError(scdName);
      }))
    return false;

  // Breadth-first from the root; each FAT index is saved once, so a loop in
  // the tree cannot make the dump grow without end.
  std::vector<uint8_t> queued(size_t(kFatEntries), 0);
  queued[0] = 1;
  List1.Clear();
  List1.AddItem("0 \\");
  std::vector<std::string> unread;   // folders left out of the dump
  while (!List1.Empty()) {
    const std::string line = List1.TakeFirst();
    const int32_t index = int32_t(std::strtol(line.c_str(), nullptr, 10));
    const std::string folder = line.substr(line.find(' ') + 1);
    // A cluster that could not be read whole is left out, so that a restore
    // never writes what the save did not read; the folders below it are
    // still followed from the sectors that were read.
    std::vector<int32_t> badSectors;
    const bool whole = ReadTopfClusterSectors(side, index + 1, badSectors);
    ClusterBuffer.resize(clusterBytes);
    uint8_t head[4];
    PutLE32(head, uint32_t(index));
    if (!whole) {
      unread.push_back(platform::Cp1252ToUtf8(folder) + " (cluster " + std::to_string(index) + ")");
    } else if (!Guard([&] {
                 WriteAll(scd, head, 4, scdName);
                 WriteAll(scd, ClusterBuffer.data(), clusterBytes, scdName);
               })) {
      return false;
    }
    for (size_t o = 0; o + kDirEntrySize <= clusterBytes; o += kDirEntrySize) {
      const uint8_t* slot = ClusterBuffer.data() + o;
      if (slot[kDeAttribute] != AttrDirectory && slot[kDeAttribute] != AttrRecycle) continue;
      const uint32_t s = GetBE32(slot + kDeStartCluster);
      if (s > uint32_t(std::min(last, kMaxFatIndex)) || queued[s]) continue;
      queued[s] = 1;
      List1.AddItem(std::to_string(s) + " " + folder + ReadEntryNameRaw(slot) + "\\");
    }
  }
  // Both names take their new files, or both keep what they held.
  if (!platform::PcFileReplaceCommitPair(scd.f, scc.f)) {
    ui::Current().MsgBox("Saving system clusters failed while writing " + scdName + " and " +
                             sccName + " (" + platform::PcFileErrorText(platform::LastError()) +
                             "); both files are as they were.",
                         ui::Buttons::OK, ui::Icon::Exclamation);
    return false;
  }
  if (!unread.empty()) {
    std::string list;
    for (size_t i = 0; i < unread.size() && i < 10; ++i) list += (i ? ", " : "") + unread[i];
    if (unread.size() > 10) list += ", ...";
    ui::Current().MsgBox("These folders could not be read and were left out of the system "
                             "clusters saved: " + list +
                             ". A restore of this dump leaves them as they are on the disk.",
                         ui::Buttons::OK, ui::Icon::Exclamation);
  }
  return true;
}

bool RestoreTopfSystemClusters(int side, const std::string& path) {
  ProcScope scope("RestoreTopfSystemClusters");
  CheckSideIndex(side);
  if (IsPCSide(side)) return false;
  DiskRec& d = Disk[side];
  std::vector<std::string> failures;
  int32_t total = 0;
  {
    BusyPointer busy;
    const std::string base = DumpBasePath(path);
    const std::string sccName = base + ".scc";
    const std::string scdName = base + ".scd";
    const int64_t sccLength = platform::FileLength(sccName);
    const int64_t scdLength = platform::FileLength(scdName);
    if (sccLength < 0 || scdLength < 0) {
      ui::Current().MsgBox(
          "Restore system clusters failed because *.scc or *.scd file does not exist!",
          ui::Buttons::OK, ui::Icon::Exclamation);
      return false;
    }
    auto refuse = [&](const std::string& why) {
      ui::Current().MsgBox("Restore system clusters failed because " + why +
                               " Nothing was written.",
                           ui::Buttons::OK, ui::Icon::Exclamation);
      return false;
    };

    // Check everything before the first write.
    uint8_t sector[512] = {};
    if (!ReadFileAt(sccName, 0, sector, sizeof sector))
      return refuse("the *.scc file is too short.");
    const int32_t spc = int16_t(GetBE16(sector + kSbSectorsPerCluster));
    if (!ValidSectorsPerCluster(spc))
      return refuse("the *.scc file gives an unusable cluster size (" + std::to_string(spc) +
                    " sectors).");
    const int64_t clusterBytes = int64_t(spc) * kSectorSize;
    if (sccLength != clusterBytes + 16)
      return refuse("the *.scc file has " + std::to_string(sccLength) + " bytes instead of " +
                    std::to_string(clusterBytes + 16) + ".");
    const int64_t record = 4 + clusterBytes;
    if (scdLength % record != 0)
      return refuse("the *.scd file does not hold whole records of " + std::to_string(record) +
                    " bytes.");
    const int32_t diskSpc = DiskClusterSize(side);
    if (spc != diskSpc)
      return refuse("the dump's cluster size (" + std::to_string(spc) +
                    " sectors) does not match the disk's (" + std::to_string(diskSpc) +
                    " sectors).");

    // The disk's own cluster count, as for the save.
    int32_t last = kMaxFatIndex;
    if (!InFileMode()) {
      double cylinders = 0;
      int32_t tracks = 0, sectors = 0;
      last = ComputeLastCluster(DiskSectors(side, cylinders, tracks, sectors), spc);
    }
    if (last < 1) return refuse("the size of the disk is not known.");
    const int32_t savedSpc = d.SectorsPerCluster, savedLast = d.LastCluster;
    d.SectorsPerCluster = spc;
    d.LastCluster = last;

    std::vector<int32_t> indexes;
    const int64_t records = scdLength / record;
    indexes.reserve(size_t(records));
    for (int64_t r = 0; r < records; ++r) {
      uint8_t head[4];
      bool ok = ReadFileAt(scdName, r * record, head, 4);
      const int64_t index = ok ? int64_t(GetLE32(head)) : -1;
      const int64_t cluster = index + 1;
      // A record is good when its cluster lies on the disk (in file mode:
      // has a record in the loaded dump), FAT index 0x1FFFF included.
      bool fits = ok && index >= 0 && index <= kMaxFatIndex &&
                  (InFileMode() ? cluster <= kMaxFatIndex && ScdIndex[size_t(cluster)] != 0
                                : ClusterOnDisk(side, cluster));
      if (!fits) {
        d.SectorsPerCluster = savedSpc;
        d.LastCluster = savedLast;
        return refuse("record " + std::to_string(r + 1) + " of the *.scd file names FAT index " +
                      std::to_string(index) + ", which is not on this disk.");
      }
      indexes.push_back(int32_t(index));
    }

    // The writes: only what the dump holds, read in full when it was saved,
    // so also onto a disk that this run could not read in full.
    RawWriteScope raw;
    ClusterBuffer.assign(size_t(clusterBytes), 0);
    total = 1 + int32_t(indexes.size());
    if (!ReadFileAt(sccName, 0, ClusterBuffer.data(), size_t(clusterBytes)) ||
        !WriteTopfCluster(side, 0, true))
      failures.push_back("0");
    for (size_t r = 0; r < indexes.size(); ++r) {
      ClusterBuffer.resize(size_t(clusterBytes));
      if (!ReadFileAt(scdName, int64_t(r) * record + 4, ClusterBuffer.data(),
                      size_t(clusterBytes)) ||
          !WriteTopfCluster(side, indexes[r] + 1, false))
        failures.push_back(std::to_string(indexes[r] + 1));
    }
  }

  if (!failures.empty()) {
    std::string list;
    for (size_t i = 0; i < failures.size() && i < 10; ++i) list += (i ? ", " : "") + failures[i];
    if (failures.size() > 10) list += ", ...";
    ui::Current().MsgBox("Restore system clusters failed for " + std::to_string(failures.size()) +
                             " of " + std::to_string(total) + " clusters (disk clusters " + list +
                             "). The disk may be inconsistent; please run a file system check.",
                         ui::Buttons::OK, ui::Icon::Critical);
  }
  ui::Current().MsgBox("The program will close now. Please restart it to load the modified disk.",
                       ui::Buttons::OK, ui::Icon::Information);
  ui::Current().EndProgram(failures.empty() ? ui::kExitNormal : ui::kExitAbort);
}

}  // namespace core
