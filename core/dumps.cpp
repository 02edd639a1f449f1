#include "core/dumps.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <optional>
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


namespace {

// ------------------------------------------------------------ save steps

void SaveFailed(const std::string& why) {
  ui::Current().MsgBox("Saving system clusters failed because " + why, ui::Buttons::OK,
                       ui::Icon::Exclamation);
}

// Why the dump may not be written at `base`: a file of it is a disk the
// program has open, or a file of the dump it has loaded, which the save
// reads (whatever name or link leads there). "" when it may.
std::string TargetInUse(const DumpSource& source, const std::string& base) {
  for (const std::string& file : {SccFileOf(base), ScdFileOf(base)}) {
    platform::FileState target, other;
    if (!platform::PathState(file, target)) continue;   // nothing there yet
    for (const std::string& loaded : {SccFileOf(source.LoadedDump), ScdFileOf(source.LoadedDump)})
      if (!source.LoadedDump.empty() && platform::PathState(loaded, other) &&
          platform::SameFile(other, target))
        return base + " is the dump that is loaded. Please save it under another name.";
    for (int handle : source.OpenDisks)
      if (handle >= 1 && platform::HandleState(handle, other) && platform::SameFile(other, target))
        return file + " is a disk that is open. Please save it under another name.";
  }
  return "";
}

// The new B.scc: the system cluster, then the geometry trailer.
bool WriteSystemClusterFile(File& scc, const std::string& name, const std::vector<uint8_t>& system,
                            const DumpGeometry& geometry) {
  return Guard([&] {
    platform::PcFileReplaceAbort(scc.f);
    if (!platform::PcFileReplaceBegin(name, scc.f)) RaisePcFileError(name);
    uint8_t trailer[kDumpTrailerBytes];
    PutDumpTrailer(trailer, geometry);
    WriteAll(scc, system.data(), system.size(), name);
    WriteAll(scc, trailer, sizeof trailer, name);
  });
}

// The new B.scd: a record for each folder walked from the root that could
// be read whole. Each FAT index is saved once, so a loop in the tree cannot
// make the dump grow without end. The folders left out go into `leftOut`.
bool WriteFolderRecords(const DumpSource& source, File& scd, const std::string& name,
                        const std::vector<uint8_t>& system, std::vector<std::string>& leftOut) {
  if (!Guard([&] {
        if (!platform::PcFileReplaceBegin(name, scd.f)) RaisePcFileError(name);
      }))
    return false;
  const size_t clusterBytes = system.size();
  std::vector<uint8_t> cluster(clusterBytes);
  std::vector<int32_t> unreadable;
  return WalkDumpFolders(source.LastCluster, clusterBytes, [&](int32_t index, const std::string& folder,
                                                               const uint8_t*& slots) {
    // A cluster that could not be read whole is left out, so that a restore
    // never writes what the save did not read; the folders below it are
    // still followed from the sectors that were read, and below the root's
    // first slots from their copy in the system cluster.
    const bool whole = source.ReadCluster(index + 1, cluster, unreadable);
    cluster.resize(clusterBytes);
    slots = cluster.data();
    if (whole) {
      uint8_t head[kDumpRecordHead];
      PutLE32(head, uint32_t(index));
      return Guard([&] {
        WriteAll(scd, head, sizeof head, name);
        WriteAll(scd, cluster.data(), clusterBytes, name);
      });
    }
    if (index == 0 && (unreadable.empty() || unreadable.front() == 0))
      TakeRootCopy(cluster.data(), system.data());
    leftOut.push_back(platform::Cp1252ToUtf8(folder) + " (cluster " + std::to_string(index) + ")");
    return true;
  });
}

void ReportLeftOut(const std::vector<std::string>& leftOut) {
  if (leftOut.empty()) return;
  ui::Current().MsgBoxList("These folders could not be read and were left out of the system "
                           "clusters saved; a restore of this dump leaves them as they are on "
                           "the disk:",
                           leftOut, ui::Buttons::OK, ui::Icon::Exclamation);
}

}  // namespace

bool SaveDump(const DumpSource& source, const std::string& path) {
  const std::string base = DumpBasePath(path);
  const std::string inUse = TargetInUse(source, base);
  if (!inUse.empty()) {
    SaveFailed(inUse);
    return false;
  }
  if (!ValidSectorsPerCluster(source.SectorsPerCluster)) {
    SaveFailed("the cluster size of the disk (" + std::to_string(source.SectorsPerCluster) +
               " sectors) is not usable.");
    return false;
  }
  if (source.LastCluster < 1) {
    SaveFailed("the size of the disk is not known.");
    return false;
  }
  std::vector<uint8_t> system(size_t(source.SectorsPerCluster) * kSectorSize);
  std::vector<int32_t> unreadable;
  if (!source.ReadCluster(0, system, unreadable)) {
    SaveFailed("the system cluster could not be read.");
    return false;
  }
  system.resize(size_t(source.SectorsPerCluster) * kSectorSize);

  // Both files take their names together at the end, once both are whole.
  const std::string sccName = SccFileOf(base), scdName = ScdFileOf(base);
  File scc, scd;
  std::vector<std::string> leftOut;
  if (!WriteSystemClusterFile(scc, sccName, system, source.Geometry) ||
      !WriteFolderRecords(source, scd, scdName, system, leftOut))
    return false;
  if (!platform::PcFileReplaceCommitPair(scd.f, scc.f)) {
    ui::Current().MsgBox("Saving system clusters failed while writing " + scdName + " and " + sccName +
                             " (" + platform::PcFileErrorText(platform::LastError()) +
                             "); both files are as they were.",
                         ui::Buttons::OK, ui::Icon::Exclamation);
    return false;
  }
  ReportLeftOut(leftOut);
  return true;
}

bool SaveTopfSystemClusters(int side, const std::string& path) {
  ProcScope scope("SaveTopfSystemClusters");
  CheckSideIndex(side);
  if (IsPCSide(side)) return false;
  BusyPointer busy;
  DiskRec& d = Disk[side];
  DumpSource source;
  DumpGeometry& geometry = source.Geometry;
  if (InFileMode()) {
    source.SectorsPerCluster = FileModeSectorsPerCluster;
    source.LastCluster = kMaxFatIndex;   // a dump holds clusters of the whole FAT
    source.LoadedDump = d.Name;
    // The new dump keeps the geometry of the disk the source dump was made from.
    if (!ReadDumpGeometry(SccFileOf(d.Name), source.SectorsPerCluster, geometry))
      DiskSectors(side, geometry.Cylinders, geometry.TracksPerCylinder, geometry.SectorsPerTrack);
  } else {
    // The disk's own size, never the value the side kept from the disk it
    // showed before: a pane may have switched to another disk just now.
    // Without a usable superblock the estimate decides, not the side's
    // value, which may still be the previous disk's.
    const double total =
        DiskSectors(side, geometry.Cylinders, geometry.TracksPerCylinder, geometry.SectorsPerTrack);
    source.SectorsPerCluster = SuperblockClusterSize(side);
    if (source.SectorsPerCluster == 0) source.SectorsPerCluster = GuessClusterSize(side);
    source.LastCluster = ComputeLastCluster(total, source.SectorsPerCluster);
  }
  for (int s = 0; s < 2; ++s)
    if (!IsPCSide(s) && Disk[s].Handle >= 1) source.OpenDisks.push_back(Disk[s].Handle);

  // The side reads at the dump's cluster size for the save; a guessed value
  // stays only on a side that had none.
  struct Restore {
    DiskRec& d;
    int32_t spc, last;
    ~Restore() {
      if (spc != 0) {
        d.SectorsPerCluster = spc;
        if (last != 0) d.LastCluster = last;
      }
    }
  } restore{d, d.SectorsPerCluster, d.LastCluster};
  if (ValidSectorsPerCluster(source.SectorsPerCluster) && source.LastCluster >= 1) {
    d.SectorsPerCluster = source.SectorsPerCluster;
    d.LastCluster = source.LastCluster;
  }
  source.ReadCluster = [side](int32_t cluster, std::vector<uint8_t>& data,
                              std::vector<int32_t>& unreadable) {
    const bool whole = ReadTopfClusterSectors(side, cluster, unreadable);
    data.assign(ClusterBuffer.begin(), ClusterBuffer.end());
    return whole;
  };
  return SaveDump(source, path);
}

namespace {

// ------------------------------------------------------------ restore steps

// A dump opened once for a restore, and what its checks found.
struct RestoreInput {
  std::optional<DumpFile> Scc, Scd;
  int32_t Spc = 0;
  int64_t ClusterBytes = 0;
  int64_t Record = 0, Records = 0;   // bytes of one .scd record; records in the file
  int32_t Last = 0;                  // the disk's highest FAT index at the dump's cluster size
  std::vector<uint8_t> System;       // the dump's system cluster
};

// Which records a restore writes: each record's FAT index, why it is not
// written ("" when it is not refused, "-" when it holds the same bytes as an
// earlier record of its cluster), the records accepted, and the clusters
// some FAT entry of the dump names.
struct RestoreChoice {
  std::vector<int32_t> IndexOf;
  std::vector<std::string> Refused;
  std::vector<uint8_t> Accepted;
  std::vector<uint8_t> HasPredecessor;
};

// Opens and checks both files before anything is written, on the files as
// opened once. Why the dump cannot be restored; "" when it can.
std::string ReadRestoreInput(int side, const std::string& base, RestoreInput& in) {
  in.Scc.emplace(SccFileOf(base));
  in.Scd.emplace(ScdFileOf(base));
  platform::FileState sccState, scdState;
  if (!in.Scc->IsOpen() || !in.Scd->IsOpen() || !platform::HandleState(in.Scc->Handle(), sccState) ||
      !platform::HandleState(in.Scd->Handle(), scdState))
    return "the *.scc or *.scd file could not be opened (" +
           platform::PcFileErrorText(platform::LastError()) + ").";
  uint8_t sector[512] = {};
  if (!in.Scc->Read(0, sector, sizeof sector)) return "the *.scc file is too short.";
  in.Spc = int16_t(GetBE16(sector + kSbSectorsPerCluster));
  if (!ValidSectorsPerCluster(in.Spc))
    return "the *.scc file gives an unusable cluster size (" + std::to_string(in.Spc) + " sectors).";
  in.ClusterBytes = int64_t(in.Spc) * kSectorSize;
  if (sccState.Size != in.ClusterBytes + kDumpTrailerBytes)
    return "the *.scc file has " + std::to_string(sccState.Size) + " bytes instead of " +
           std::to_string(in.ClusterBytes + kDumpTrailerBytes) + ".";
  in.Record = DumpRecordBytes(in.Spc);
  if (scdState.Size % in.Record != 0)
    return "the *.scd file does not hold whole records of " + std::to_string(in.Record) + " bytes.";
  in.Records = scdState.Size / in.Record;
  const int32_t diskSpc = DiskClusterSize(side);
  if (in.Spc != diskSpc)
    return "the dump's cluster size (" + std::to_string(in.Spc) + " sectors) does not match the disk's (" +
           std::to_string(diskSpc) + " sectors).";
  in.System.assign(static_cast<size_t>(in.ClusterBytes), 0);
  if (!in.Scc->Read(0, in.System.data(), in.System.size())) return "the *.scc file could not be read.";
  // The disk's own cluster count, as for the save.
  in.Last = kMaxFatIndex;
  if (!InFileMode()) {
    DumpGeometry g;
    in.Last = ComputeLastCluster(DiskSectors(side, g.Cylinders, g.TracksPerCylinder, g.SectorsPerTrack), in.Spc);
  }
  if (in.Last < 1) return "the size of the disk is not known.";
  return "";
}

// Refuses each record that names no cluster of the disk, and a second record
// of one cluster; `firstRecord` gets the first record of each FAT index.
bool RefuseStrayRecords(int side, const RestoreInput& in, RestoreChoice& choice,
                        std::vector<int64_t>& firstRecord) {
  std::vector<uint8_t> data(static_cast<size_t>(in.ClusterBytes)), other(data.size());
  for (int64_t r = 0; r < in.Records; ++r) {
    uint8_t head[kDumpRecordHead];
    if (!in.Scd->Read(r * in.Record, head, sizeof head)) return false;
    const int64_t index = int64_t(int32_t(GetLE32(head)));
    choice.IndexOf[size_t(r)] = int32_t(index);
    const int64_t cluster = index + 1;
    // On the disk (in file mode: in the loaded dump), FAT index 0x1FFFF included.
    const bool onDisk = index >= 0 && index <= kMaxFatIndex &&
                        (InFileMode() ? cluster <= kMaxFatIndex && ScdIndex[size_t(cluster)] != 0
                                      : ClusterOnDisk(side, cluster));
    if (!onDisk) {
      choice.Refused[size_t(r)] = "not on this disk";
    } else if (firstRecord[size_t(index)] < 0) {
      firstRecord[size_t(index)] = r;
    } else {
      // A dump may name a folder twice; the same bytes again are simply not
      // written twice.
      const bool same =
          in.Scd->Read(r * in.Record + kDumpRecordHead, data.data(), data.size()) &&
          in.Scd->Read(firstRecord[size_t(index)] * in.Record + kDumpRecordHead, other.data(),
                       other.size()) &&
          data == other;
      choice.Refused[size_t(r)] = same ? "-" : "a second record of this cluster, with other contents";
    }
  }
  return true;
}

// Accepts the records of the folders reached from the dump's own root
// through its own folders. Two walks: the second also refuses a cluster at
// which a file of the dump's folders starts (a recording of one cluster
// looks like a folder to the FAT). False when the .scd file cannot be read.
bool AcceptOwnFolders(const RestoreInput& in, RestoreChoice& choice,
                      const std::vector<int64_t>& firstRecord) {
  for (int32_t i = 0; i <= std::min(in.Last, kMaxFatIndex); ++i) {
    const uint32_t next = ReadFat24(in.System.data(), kFAT1, i);
    if (next >= 1 && next <= uint32_t(kMaxFatIndex)) choice.HasPredecessor[next] = 1;
  }
  std::vector<uint8_t> fileStart(size_t(kFatEntries), 0), data(static_cast<size_t>(in.ClusterBytes));
  for (int pass = 0; pass < 2; ++pass) {
    std::fill(choice.Accepted.begin(), choice.Accepted.end(), 0);
    bool readable = true;
    WalkDumpFolders(in.Last, data.size(), [&](int32_t index, const std::string&, const uint8_t*& slots) {
      const int64_t r = firstRecord[size_t(index)];
      if (r < 0) {
        // A root the save could not read: its first slots are in the
        // dump's system cluster.
        std::fill(data.begin(), data.end(), AttrUnused);
        if (index == 0 && TakeRootCopy(data.data(), in.System.data())) slots = data.data();
        return true;
      }
      if (!in.Scd->Read(r * in.Record + kDumpRecordHead, data.data(), data.size()))
        return readable = false;
      std::string& why = choice.Refused[size_t(r)];
      if (!IsDumpFolder(data.data(), index, in.System.data(), choice.HasPredecessor)) {
        why = "not a folder cluster of the dump";
        return true;
      }
      if (fileStart[size_t(index)]) {
        why = "a file of the dump's folders starts there";
        return true;
      }
      why.clear();
      choice.Accepted[size_t(r)] = 1;
      slots = data.data();
      for (size_t o = 0; pass == 0 && o + kDirEntrySize <= data.size(); o += kDirEntrySize) {
        const uint8_t a = data[o + kDeAttribute];
        const uint32_t start = GetBE32(data.data() + o + kDeStartCluster);
        if ((a == AttrFile || a == AttrRecording) && start <= uint32_t(kMaxFatIndex)) fileStart[start] = 1;
      }
      return true;
    });
    if (!readable) return false;
  }
  return true;
}

// Names every record that is not written and asks whether to write the
// rest. True when there is none, or the user agrees.
bool AgreeToLeaveOut(const RestoreChoice& choice, int32_t writes) {
  std::vector<std::string> named;
  for (size_t r = 0; r < choice.Refused.size(); ++r) {
    if (choice.Accepted[r] || choice.Refused[r] == "-") continue;
    const std::string why = choice.Refused[r].empty() ? "not reached from the dump's root folder" : choice.Refused[r];
    const int32_t index = choice.IndexOf[r];
    named.push_back("record " + std::to_string(r + 1) + " (FAT index " + std::to_string(index) +
                    ", disk cluster " + std::to_string(int64_t(index) + 1) + "): " + why);
  }
  if (named.empty()) return true;
  return ui::Current().MsgBoxList(
             "The *.scd file holds " + std::to_string(named.size()) +
                 (named.size() == 1 ? " record that is" : " records that are") +
                 " not a folder cluster of the dump's own folders; such records are never "
                 "written.\n\nWrite the system cluster and the " + std::to_string(writes) +
                 " folder clusters of the dump, and nothing else? (No writes nothing.) The "
                 "records:",
             named, ui::Buttons::YesNo, ui::Icon::Exclamation) == ui::Answer::Yes;
}

// The writes: only what the dump holds, read in full when it was saved, so
// also onto a disk that this run could not read in full. The disk clusters
// whose write failed.
std::vector<std::string> WriteAcceptedRecords(int side, const RestoreInput& in, const RestoreChoice& choice) {
  std::vector<std::string> failures;
  RawWriteScope raw;
  ClusterBuffer = in.System;
  if (!WriteTopfCluster(side, 0, true)) failures.push_back("0: " + ClusterFailure());
  for (int64_t r = 0; r < in.Records; ++r) {
    if (!choice.Accepted[size_t(r)]) continue;
    const int32_t index = choice.IndexOf[size_t(r)];
    ClusterBuffer.resize(size_t(in.ClusterBytes));
    // What is written is still the folder that was checked.
    uint8_t head[kDumpRecordHead];
    std::string why;
    if (!in.Scd->Read(r * in.Record, head, sizeof head) ||
        !in.Scd->Read(r * in.Record + kDumpRecordHead, ClusterBuffer.data(), size_t(in.ClusterBytes)))
      why = "the record could not be read from the *.scd file (" +
            platform::PcFileErrorText(platform::LastError()) + ")";
    else if (int32_t(GetLE32(head)) != index ||
             !IsDumpFolder(ClusterBuffer.data(), index, in.System.data(), choice.HasPredecessor))
      why = "the *.scd file changed after it was checked";
    else if (!WriteTopfCluster(side, index + 1, false))
      why = ClusterFailure();
    if (!why.empty()) failures.push_back(std::to_string(index + 1) + ": " + why);
  }
  return failures;
}

}  // namespace

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
    if (platform::FileLength(SccFileOf(base)) < 0 || platform::FileLength(ScdFileOf(base)) < 0) {
      ui::Current().MsgBox(
          "Restore system clusters failed because *.scc or *.scd file does not exist!",
          ui::Buttons::OK, ui::Icon::Exclamation);
      return false;
    }
    auto refuse = [&](const std::string& why) {
      ui::Current().MsgBox("Restore system clusters failed because " + why + " Nothing was written.",
                           ui::Buttons::OK, ui::Icon::Exclamation);
      return false;
    };
    RestoreInput in;
    const std::string why = ReadRestoreInput(side, base, in);
    if (!why.empty()) return refuse(why);

    // The side works at the dump's cluster size while the dump is checked
    // and written.
    struct SideValues {
      DiskRec& d;
      int32_t spc, last;
      ~SideValues() {
        d.SectorsPerCluster = spc;
        d.LastCluster = last;
      }
    } putBack{d, d.SectorsPerCluster, d.LastCluster};
    d.SectorsPerCluster = in.Spc;
    d.LastCluster = in.Last;

    // A dump made by either program holds the system cluster and the folder
    // clusters reached from its own root through its own folders, nothing
    // else. Any other record (a recording's cluster, a free one, one past the
    // disk's end, one no folder of the dump names, a second record of one
    // cluster) is refused and never written.
    const size_t records = static_cast<size_t>(in.Records);
    RestoreChoice choice{std::vector<int32_t>(records, -1), std::vector<std::string>(records),
                         std::vector<uint8_t>(records, 0), std::vector<uint8_t>(size_t(kFatEntries), 0)};
    std::vector<int64_t> firstRecord(size_t(kFatEntries), -1);
    if (!RefuseStrayRecords(side, in, choice, firstRecord) || !AcceptOwnFolders(in, choice, firstRecord))
      return refuse("the *.scd file could not be read.");
    const int32_t writes = int32_t(std::count(choice.Accepted.begin(), choice.Accepted.end(), 1));
    if (!AgreeToLeaveOut(choice, writes)) return false;
    total = 1 + writes;
    failures = WriteAcceptedRecords(side, in, choice);
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
