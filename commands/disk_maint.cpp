#include "commands/disk_maint.h"

#include <algorithm>
#include <vector>

#include "commands/cluster_cmd.h"
#include "core/cluster_io.h"
#include "core/create_file.h"
#include "core/disk_format.h"
#include "core/disk_model.h"
#include "core/erase.h"
#include "core/error_handler.h"
#include "core/fat_write.h"
#include "core/pc_helpers.h"
#include "platform/platform.h"
#include "ui/ui.h"

namespace commands {

namespace {

// The number of sectors at the start of the disk that Kill Disk covers.
constexpr int32_t kKillSectors = 25000;

struct BusyPointer {
  BusyPointer() { ui::Current().SetBusy(true); }
  ~BusyPointer() { ui::Current().SetBusy(false); }
  BusyPointer(const BusyPointer&) = delete;
  BusyPointer& operator=(const BusyPointer&) = delete;
};

std::string UpperAscii(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
  return s;
}

// The last component of a recorder path.
std::string LastComponent(const std::string& path) {
  const size_t cut = path.rfind('\\');
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

// Frees a chain in memory only: each index visited once, at most LastCluster
// + 1 steps, every link range-checked.
void ReleaseChain(int32_t first) {
  core::DiskRec& d = core::Disk[0];
  const int32_t last = core::LastFatIndex(0);
  std::vector<bool> seen(size_t(std::max(last, 0)) + 1, false);
  int32_t c = first;
  while (c >= 1 && c <= last && !seen[size_t(c)]) {
    seen[size_t(c)] = true;
    const int32_t next = d.FAT[size_t(c)].Next;
    d.FAT[size_t(c)].Next = 0;
    d.FAT[size_t(c)].Prev = 0;
    c = next;
  }
}

// Writes the size fields of a file that grew behind its end (a found chain
// continued it) into its directory entry, and into the root-slot copy of the
// system cluster when it has one. The slot must still hold the file.
bool WriteGrownSize(int32_t index) {
  core::DiskRec& d = core::Disk[0];
  const core::FileRec& f = d.Files[size_t(index)];
  const int64_t clusterBytes = LeftClusterBytes();
  if (f.DirCluster < 0 || f.DirCluster > d.LastCluster || f.Slot < 0 || clusterBytes <= 0 ||
      f.Slot >= clusterBytes / core::kDirEntrySize)
    return false;
  const core::EntrySizeFields fields = core::SizeToEntryFields(f.Size, d.SectorsPerCluster);
  auto put = [&](uint8_t* slot) {
    core::PutBE32(slot + core::kDeClusterCount, uint32_t(fields.ClusterCount));
    core::PutBE32(slot + core::kDeFreeBytes, uint32_t(fields.FreeBytes));
    core::PutBE16(slot + core::kDeLastSectorBytes, fields.LastSectorBytes);
    slot[core::kDeCheckByte] = fields.CheckByte;
  };
  if (!core::ReadTopfCluster(0, f.DirCluster + 1)) return false;
  uint8_t* slot = core::ClusterBuffer.data() + size_t(f.Slot) * core::kDirEntrySize;
  if (int32_t(core::GetBE32(slot + core::kDeStartCluster)) != f.StartCluster) return false;
  put(slot);
  if (!core::WriteTopfCluster(0, f.DirCluster + 1, false)) return false;
  if (f.DirCluster == 0 && f.Slot < core::kRootCopySlots) {
    // The entry holds the new size; its copy in the system cluster follows,
    // and the user hears when it cannot.
    bool copied = core::ReadTopfCluster(0, 0) &&
                  int64_t(core::ClusterBuffer.size()) >= core::kMinClusterBytes;
    uint8_t* copy = core::ClusterBuffer.data() + core::kRootDirectoryCopy +
                    size_t(f.Slot) * core::kDirEntrySize;
    if (copied && int32_t(core::GetBE32(copy + core::kDeStartCluster)) == f.StartCluster) {
      put(copy);
      copied = core::WriteTopfCluster(0, 0, true);
    }
    if (!copied)
      ui::Current().MsgBox("The new size of \"" + platform::Cp1252ToUtf8(f.Name) +
                               "\" could not be copied into the system cluster. Please run a "
                               "file system check.",
                           ui::Buttons::OK, ui::Icon::Exclamation);
  }
  return true;
}

}  // namespace

bool LeftRecorderReady() {
  const core::DiskRec& d = core::Disk[0];
  const bool recorder = core::DiskId[0] <= 0 && core::DiskId[0] != core::kNoDisk;
  const bool open = core::InFileMode() || d.Handle >= 1;
  if (recorder && open && LeftClusterBytes() > 0 && d.LastCluster >= 1) return true;
  ui::Current().MsgBox("There is no Topfield disk in the left pane.", ui::Buttons::OK,
                       ui::Icon::Exclamation);
  return false;
}

int32_t KillDiskLastCluster(int32_t sectorsPerCluster) {
  return sectorsPerCluster >= 1 ? kKillSectors / sectorsPerCluster : 0;
}

int32_t WipeDiskStart(int32_t& wanted) {
  core::ProcScope scope("WipeDiskStart");
  const int32_t spc = core::Disk[0].SectorsPerCluster;
  wanted = 0;
  // The wipe is meant for the disk itself, never for the dump files of file
  // mode; a side without a cluster size has nothing to wipe.
  if (spc < 1 || core::InFileMode()) return 0;
  const int32_t last = KillDiskLastCluster(spc);
  wanted = last + 1;
  // Without a real cluster size (a disk that did not load) the clusters are
  // not those of the recorder: nothing is written.
  if (!core::ValidSectorsPerCluster(spc)) return 0;
  const size_t bytes = size_t(spc) * core::kSectorSize;
  int32_t written = 0;
  for (int32_t c = 0; c <= last; ++c) {
    // Clusters beyond the device (or beyond LastCluster + 1) are left alone.
    if (!core::ClusterOnDisk(0, c)) continue;
    // Zeroed afresh each time: the write of cluster 0 stores the FAT CRC in
    // the buffer, which must not reach the other clusters.
    core::ClusterBuffer.assign(bytes, 0);
    if (core::WriteTopfCluster(0, c, true)) ++written;
  }
  return written;
}

void KillDisk() {
  core::ProcScope scope("Menu_Expert_KillDisk_Click");
  int32_t wanted = 0;
  int32_t written = 0;
  {
    BusyPointer busy;
    written = WipeDiskStart(wanted);
  }
  core::Flags = (core::Flags & 0xC0) | core::FlagDisasterMode;
  if (written < wanted)
    ui::Current().MsgBox("Only " + std::to_string(written) + " of the " + std::to_string(wanted) +
                             " clusters at the start of the disk could be erased.",
                         ui::Buttons::OK, ui::Icon::Exclamation);
}

int32_t FSChangeD0D1() {
  core::ProcScope scope("FSChangeD0D1");
  core::DiskRec& d = core::Disk[0];
  const int64_t clusterBytes = LeftClusterBytes();
  const int32_t slots = int32_t(clusterBytes / core::kDirEntrySize);
  int32_t count = 0;
  for (int32_t i = 0; i < d.FileCount && i < int32_t(d.Files.size()); ++i) {
    const core::FileRec& f = d.Files[size_t(i)];
    if (f.EntryType != core::AttrFile || f.Recovered) continue;
    std::string folder, name, ext;
    core::SeparatePathComponents(f.Name, folder, name, ext, core::kRecorderSeparator);
    if (UpperAscii(ext) != "REC") continue;
    // Where the entry lies must be a directory cluster and a slot of it.
    if (f.DirCluster < 0 || f.DirCluster > d.LastCluster || f.Slot < 0 || f.Slot >= slots)
      continue;
    const int32_t dirCluster = f.DirCluster;
    const int32_t slot = f.Slot;
    const std::string entryName = LastComponent(f.Name);
    const int32_t start = f.StartCluster;
    // A cluster that could not be read is never written back.
    if (!core::ReadTopfCluster(0, dirCluster + 1)) continue;
    uint8_t* p = core::ClusterBuffer.data() + size_t(slot) * core::kDirEntrySize;
    // The slot must still hold this entry; otherwise the list is out of date.
    if (p[core::kDeAttribute] != core::AttrFile || core::ReadEntryName(p) != entryName ||
        int32_t(core::GetBE32(p + core::kDeStartCluster)) != start)
      continue;
    p[core::kDeAttribute] = core::AttrRecording;
    if (!core::WriteTopfCluster(0, dirCluster + 1, false)) continue;
    d.Files[size_t(i)].EntryType = core::AttrRecording;
    ++count;
    // The right pane on the same disk holds the same entry.
    if (core::SameDisk()) {
      core::DiskRec& r = core::Disk[1];
      for (int32_t j = 0; j < r.FileCount && j < int32_t(r.Files.size()); ++j) {
        core::FileRec& g = r.Files[size_t(j)];
        if (g.DirCluster == dirCluster && g.Slot == slot && !g.Recovered)
          g.EntryType = core::AttrRecording;
      }
    }
  }
  return count;
}

std::string ChangeD0D1Text(int32_t count) {
  if (count == 0) return "No attributes to modify.";
  if (count == 1) return "1 file attribute has been modified.";
  return std::to_string(count) + " file attributes have been modified.";
}

int32_t WriteRecovered() {
  core::ProcScope scope("Menu_Disk_WriteRecovered_Click");
  core::DiskRec& d = core::Disk[0];
  core::FSRecalculateDirSizes(0, core::kDirSizesClear, 0);
  // The chains reach the disk before any entry that names them: a cut in
  // between leaves lost clusters, never an entry on free clusters.
  if (!core::UpdateTopfFAT(0)) {
    ui::Current().MsgBox("The FAT could not be written to the disk.", ui::Buttons::OK,
                         ui::Icon::Exclamation);
    return 0;
  }
  int32_t written = 0;
  bool released = false;
  // CreateTopfFile appends to the list: only the entries there now count.
  const int32_t count = std::min<int32_t>(d.FileCount, int32_t(d.Files.size()));
  for (int32_t i = 0; i < count; ++i) {
    if (!d.Files[size_t(i)].Recovered) continue;
    const core::FileRec f = d.Files[size_t(i)];   // a copy: the list may grow
    if (f.DirCluster >= 0) {
      // A file that a found chain continued: its entry gets the new size.
      if (WriteGrownSize(i)) {
        d.Files[size_t(i)].Recovered = false;
        core::FSRecalculateDirSizes(0, core::kDirSizesAdd, f.DirCluster);
        ++written;
      }
      continue;
    }
    if (core::CreateTopfFile(0, f.Name, false, f.Size, f.RecDate, f.StartCluster)) {
      d.Files[size_t(i)].Recovered = false;
      ++written;
    } else {
      // No entry for it (the user was told why): its chain is freed again,
      // so that the FAT on the disk keeps no chain without an entry.
      ReleaseChain(f.StartCluster);
      released = true;
    }
  }
  core::FSRecalculateDirSizes(0, core::kDirSizesRun, 0);
  if (released && !core::UpdateTopfFAT(0))
    ui::Current().MsgBox("The FAT could not be written to the disk.", ui::Buttons::OK,
                         ui::Icon::Exclamation);
  return written;
}

}  // namespace commands
