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
#include "core/dump_files.h"
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

// Writes `length` bytes or raises the system error.
void WriteAll(File& file, const void* data, size_t length, const std::string& name) {
  if (!platform::PcFileReplaceWrite(file.f, data, length)) RaisePcFileError(name);
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

// The folder walk of a dump, breadth-first from the root (FAT index 0), in
// the order the save writes its records. `visit(index, path, slots)` is
// called once for each FAT index reached; it points `slots` at that folder's
// cluster of `clusterBytes` (left nullptr: its slots are not followed) and
// returns false to end the walk. Directory and recycle-directory slots are
// followed to FAT indexes from 1 to `last`, each index once, so a loop in the
// tree ends; "." and ".." slots and files are never followed.
template <class Visit>
bool WalkDumpFolders(int32_t last, size_t clusterBytes, Visit&& visit) {
  std::vector<uint8_t> queued(size_t(kFatEntries), 0);
  queued[0] = 1;
  const uint32_t highest = uint32_t(std::clamp(last, 0, kMaxFatIndex));
  List1.Clear();
  List1.AddItem("0 \\");
  while (!List1.Empty()) {
    const std::string line = List1.TakeFirst();
    const int32_t index = int32_t(std::strtol(line.c_str(), nullptr, 10));
    const std::string folder = line.substr(line.find(' ') + 1);
    const uint8_t* slots = nullptr;
    if (!visit(index, folder, slots)) {
      List1.Clear();
      return false;
    }
    for (size_t o = 0; slots && o + kDirEntrySize <= clusterBytes; o += kDirEntrySize) {
      const uint8_t* slot = slots + o;
      if (slot[kDeAttribute] != AttrDirectory && slot[kDeAttribute] != AttrRecycle) continue;
      const uint32_t s = GetBE32(slot + kDeStartCluster);
      if (s > highest || queued[s]) continue;
      queued[s] = 1;
      List1.AddItem(std::to_string(s) + " " + folder + ReadEntryNameRaw(slot) + "\\");
    }
  }
  return true;
}

// A record's cluster is the folder at FAT index `index`: its "." entry
// names that index, a folder below the root has its ".." entry, and the
// dump's own FAT (`scc`, the system cluster) gives the index as a chain of
// its own of one cluster (`hasPredecessor`: entries some FAT entry names).
bool IsDumpFolder(const uint8_t* cluster, int32_t index, const uint8_t* scc,
                  const std::vector<uint8_t>& hasPredecessor) {
  return cluster[kDeAttribute] == AttrSelf &&
         GetBE32(cluster + kDeStartCluster) == uint32_t(index) &&
         (index == 0 || cluster[kDirEntrySize + kDeAttribute] == AttrParent) &&
         ReadFat24(scc, kFAT1, index) == kFat24End && !hasPredecessor[size_t(index)];
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
    DumpGeometry kept;
    if (ReadDumpGeometry(SccFileOf(d.Name), spc, kept)) {
      cylinders = kept.Cylinders;
      tracks = kept.TracksPerCylinder;
      sectors = kept.SectorsPerTrack;
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
  const std::vector<uint8_t> systemHead(
      ClusterBuffer.begin(), ClusterBuffer.begin() + kRootDirectoryCopy + kRootCopySlots * kDirEntrySize);

  // Both files take their names together at the end, once both are whole.
  const std::string sccName = SccFileOf(base);
  File scc;
  bool written = Guard([&] {
    platform::PcFileReplaceAbort(scc.f);
    if (!platform::PcFileReplaceBegin(sccName, scc.f)) RaisePcFileError(sccName);
    uint8_t trailer[kDumpTrailerBytes];
    PutDumpTrailer(trailer, {cylinders, tracks, sectors});
    WriteAll(scc, ClusterBuffer.data(), clusterBytes, sccName);
    WriteAll(scc, trailer, sizeof trailer, sccName);
  });
  if (!written) return false;

  const std::string scdName = ScdFileOf(base);
  File scd;
  if (!Guard([&] {
        if (!platform::PcFileReplaceBegin(scdName, scd.f)) RaisePcFileError(scdName);
      }))
    return false;

  // Each FAT index is saved once, so a loop in the tree cannot make the dump
  // grow without end.
  std::vector<std::string> unread;   // folders left out of the dump
  const bool walked = WalkDumpFolders(last, clusterBytes, [&](int32_t index, const std::string& folder,
                                                              const uint8_t*& slots) {
    // A cluster that could not be read whole is left out, so that a restore
    // never writes what the save did not read; the folders below it are
    // still followed from the sectors that were read, and below the root's
    // first slots from their copy in the system cluster.
    std::vector<int32_t> badSectors;
    const bool whole = ReadTopfClusterSectors(side, index + 1, badSectors);
    ClusterBuffer.resize(clusterBytes);
    slots = ClusterBuffer.data();
    if (whole) {
      uint8_t head[kDumpRecordHead];
      PutLE32(head, uint32_t(index));
      return Guard([&] {
        WriteAll(scd, head, sizeof head, scdName);
        WriteAll(scd, ClusterBuffer.data(), clusterBytes, scdName);
      });
    }
    if (index == 0 && !badSectors.empty() && badSectors.front() == 0)
      TakeRootCopy(ClusterBuffer.data(), systemHead.data());
    unread.push_back(platform::Cp1252ToUtf8(folder) + " (cluster " + std::to_string(index) + ")");
    return true;
  });
  if (!walked) return false;
  // Both names take their new files, or both keep what they held.
  if (!platform::PcFileReplaceCommitPair(scd.f, scc.f)) {
    ui::Current().MsgBox("Saving system clusters failed while writing " + scdName + " and " +
                             sccName + " (" + platform::PcFileErrorText(platform::LastError()) +
                             "); both files are as they were.",
                         ui::Buttons::OK, ui::Icon::Exclamation);
    return false;
  }
  if (!unread.empty())
    ui::Current().MsgBoxList("These folders could not be read and were left out of the system "
                             "clusters saved; a restore of this dump leaves them as they are on "
                             "the disk:",
                             unread, ui::Buttons::OK, ui::Icon::Exclamation);
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
    const std::string sccName = SccFileOf(base);
    const std::string scdName = ScdFileOf(base);
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

    // Check everything before the first write, on the files as opened once.
    const DumpFile sccFile(sccName), scdFile(scdName);
    platform::FileState sccState, scdState;
    if (!sccFile.IsOpen() || !scdFile.IsOpen() ||
        !platform::HandleState(sccFile.Handle(), sccState) ||
        !platform::HandleState(scdFile.Handle(), scdState))
      return refuse("the *.scc or *.scd file could not be opened (" +
                    platform::PcFileErrorText(platform::LastError()) + ").");
    uint8_t sector[512] = {};
    if (!sccFile.Read(0, sector, sizeof sector)) return refuse("the *.scc file is too short.");
    const int32_t spc = int16_t(GetBE16(sector + kSbSectorsPerCluster));
    if (!ValidSectorsPerCluster(spc))
      return refuse("the *.scc file gives an unusable cluster size (" + std::to_string(spc) +
                    " sectors).");
    const int64_t clusterBytes = int64_t(spc) * kSectorSize;
    if (sccState.Size != clusterBytes + kDumpTrailerBytes)
      return refuse("the *.scc file has " + std::to_string(sccState.Size) + " bytes instead of " +
                    std::to_string(clusterBytes + kDumpTrailerBytes) + ".");
    const int64_t record = DumpRecordBytes(spc);
    if (scdState.Size % record != 0)
      return refuse("the *.scd file does not hold whole records of " + std::to_string(record) +
                    " bytes.");
    const int32_t diskSpc = DiskClusterSize(side);
    if (spc != diskSpc)
      return refuse("the dump's cluster size (" + std::to_string(spc) +
                    " sectors) does not match the disk's (" + std::to_string(diskSpc) +
                    " sectors).");
    std::vector<uint8_t> scc(static_cast<size_t>(clusterBytes), 0);
    if (!sccFile.Read(0, scc.data(), scc.size())) return refuse("the *.scc file could not be read.");

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
    auto putBack = [&] {
      d.SectorsPerCluster = savedSpc;
      d.LastCluster = savedLast;
    };

    // A dump made by either program holds the system cluster and the folder
    // clusters reached from its own root through its own folders, nothing
    // else. Any other record (a recording's cluster, a free one, one past the
    // disk's end, one no folder of the dump names, a second record of one
    // cluster) is refused and never written.
    const int64_t records = scdState.Size / record;
    std::vector<int32_t> indexOf(static_cast<size_t>(records), -1);
    std::vector<std::string> refused(static_cast<size_t>(records));   // why, "" not refused
    std::vector<int64_t> firstRecord(size_t(kFatEntries), -1);
    std::vector<uint8_t> data(static_cast<size_t>(clusterBytes)), other(data.size());
    for (int64_t r = 0; r < records; ++r) {
      uint8_t head[kDumpRecordHead];
      if (!scdFile.Read(r * record, head, sizeof head)) {
        putBack();
        return refuse("the *.scd file could not be read.");
      }
      const int64_t index = int64_t(int32_t(GetLE32(head)));
      indexOf[size_t(r)] = int32_t(index);
      const int64_t cluster = index + 1;
      // On the disk (in file mode: in the loaded dump), FAT index 0x1FFFF included.
      const bool onDisk = index >= 0 && index <= kMaxFatIndex &&
                          (InFileMode() ? cluster <= kMaxFatIndex && ScdIndex[size_t(cluster)] != 0
                                        : ClusterOnDisk(side, cluster));
      if (!onDisk) {
        refused[size_t(r)] = "not on this disk";
      } else if (firstRecord[size_t(index)] < 0) {
        firstRecord[size_t(index)] = r;
      } else {
        // The check program saves a folder named by two entries twice; the
        // same bytes again are simply not written twice.
        const bool same =
            scdFile.Read(r * record + kDumpRecordHead, data.data(), data.size()) &&
            scdFile.Read(firstRecord[size_t(index)] * record + kDumpRecordHead, other.data(),
                         other.size()) &&
            data == other;
        refused[size_t(r)] = same ? "-" : "a second record of this cluster, with other contents";
      }
    }
    std::vector<uint8_t> hasPredecessor(size_t(kFatEntries), 0);
    for (int32_t i = 0; i <= std::min(last, kMaxFatIndex); ++i) {
      const uint32_t next = ReadFat24(scc.data(), kFAT1, i);
      if (next >= 1 && next <= uint32_t(kMaxFatIndex)) hasPredecessor[next] = 1;
    }
    // Two walks: the second also refuses a cluster at which a file of the
    // dump's folders starts (a recording of one cluster looks like a folder
    // to the FAT).
    std::vector<uint8_t> fileStart(size_t(kFatEntries), 0), accepted(static_cast<size_t>(records), 0);
    for (int pass = 0; pass < 2; ++pass) {
      std::fill(accepted.begin(), accepted.end(), 0);
      bool readable = true;
      WalkDumpFolders(last, size_t(clusterBytes), [&](int32_t index, const std::string&,
                                                      const uint8_t*& slots) {
        const int64_t r = firstRecord[size_t(index)];
        if (r < 0) {
          // A root the save could not read: its first slots are in the
          // dump's system cluster.
          std::fill(data.begin(), data.end(), AttrUnused);
          if (index == 0 && TakeRootCopy(data.data(), scc.data())) slots = data.data();
          return true;
        }
        if (!scdFile.Read(r * record + kDumpRecordHead, data.data(), data.size()))
          return readable = false;
        if (!IsDumpFolder(data.data(), index, scc.data(), hasPredecessor)) {
          refused[size_t(r)] = "not a folder cluster of the dump";
          return true;
        }
        if (fileStart[size_t(index)]) {
          refused[size_t(r)] = "a file of the dump's folders starts there";
          return true;
        }
        refused[size_t(r)].clear();
        accepted[size_t(r)] = 1;
        slots = data.data();
        for (size_t o = 0; pass == 0 && o + kDirEntrySize <= data.size(); o += kDirEntrySize) {
          const uint8_t a = data[o + kDeAttribute];
          const uint32_t start = GetBE32(data.data() + o + kDeStartCluster);
          if ((a == AttrFile || a == AttrRecording) && start <= uint32_t(kMaxFatIndex))
            fileStart[start] = 1;
        }
        return true;
      });
      if (!readable) {
        putBack();
        return refuse("the *.scd file could not be read.");
      }
    }
    std::vector<std::string> named;
    int32_t writes = 0;
    for (int64_t r = 0; r < records; ++r) {
      if (accepted[size_t(r)]) {
        ++writes;
        continue;
      }
      std::string& why = refused[size_t(r)];
      if (why == "-") continue;
      if (why.empty()) why = "not reached from the dump's root folder";
      const int32_t index = indexOf[size_t(r)];
      named.push_back("record " + std::to_string(r + 1) + " (FAT index " + std::to_string(index) +
                      ", disk cluster " + std::to_string(int64_t(index) + 1) + "): " + why);
    }
    if (!named.empty()) {
      const ui::Answer answer = ui::Current().MsgBoxList(
          "The *.scd file holds " + std::to_string(named.size()) +
              (named.size() == 1 ? " record that is" : " records that are") +
              " not a folder cluster of the dump's own folders; such records are never "
              "written.\n\nWrite the system cluster and the " + std::to_string(writes) +
              " folder clusters of the dump, and nothing else? (No writes nothing.) The "
              "records:",
          named, ui::Buttons::YesNo, ui::Icon::Exclamation);
      if (answer != ui::Answer::Yes) {
        putBack();
        return false;
      }
    }

    // The writes: only what the dump holds, read in full when it was saved,
    // so also onto a disk that this run could not read in full.
    RawWriteScope raw;
    ClusterBuffer = scc;
    total = 1 + writes;
    if (!WriteTopfCluster(side, 0, true)) failures.push_back("0");
    for (int64_t r = 0; r < records; ++r) {
      if (!accepted[size_t(r)]) continue;
      const int32_t index = indexOf[size_t(r)];
      ClusterBuffer.resize(size_t(clusterBytes));
      // What is written is still the folder that was checked.
      uint8_t head[kDumpRecordHead];
      if (!scdFile.Read(r * record, head, sizeof head) || int32_t(GetLE32(head)) != index ||
          !scdFile.Read(r * record + kDumpRecordHead, ClusterBuffer.data(), size_t(clusterBytes)) ||
          !IsDumpFolder(ClusterBuffer.data(), index, scc.data(), hasPredecessor) ||
          !WriteTopfCluster(side, index + 1, false))
        failures.push_back(std::to_string(index + 1));
    }
  }

  if (!failures.empty())
    ui::Current().MsgBoxList("Restore system clusters failed for " + std::to_string(failures.size()) +
                                 " of " + std::to_string(total) +
                                 " clusters. The disk may be inconsistent; please run a file "
                                 "system check. The disk clusters not written:",
                             failures, ui::Buttons::OK, ui::Icon::Critical);
  ui::Current().MsgBox("The program will close now. Please restart it to load the modified disk.",
                       ui::Buttons::OK, ui::Icon::Information);
  ui::Current().EndProgram(failures.empty() ? ui::kExitNormal : ui::kExitAbort);
}

}  // namespace core
