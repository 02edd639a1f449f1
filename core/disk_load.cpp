#include "core/disk_load.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <unordered_map>

#include "core/cluster_io.h"
#include "core/disk_io.h"
#include "core/disk_model.h"
#include "core/error_handler.h"
#include "platform/platform.h"

namespace core {

namespace {

// Closes the wait window on every way out of the load.
struct WaitWindow {
  explicit WaitWindow(const std::string& text) {
    ui::Current().ShowWait(text);
    ui::Current().DoEvents(false);  // paint the wait window; no user input now
  }
  ~WaitWindow() { ui::Current().HideWait(); }
};

void ApplyHeaderTest(FileRec& rec, const uint8_t* sector) {
  if (IsRecHeader(sector)) {
    rec.ServiceType = sector[kRhServiceType];
    rec.Duration = GetBE16(sector + kRhDuration);
    rec.HasRecHeader = true;
  } else {
    rec.ServiceType = 2;
    rec.Duration = 0;
    rec.HasRecHeader = false;
  }
}

// Every field of a reused record is set: records beyond FileCount carry old data.
FileRec& NextRecord(DiskRec& d, int side) {
  CheckArraySize(side);
  FileRec& rec = d.Files[size_t(d.FileCount)];
  rec.EntryType = 0;
  rec.IsDir = false;
  rec.CryptValid = false;
  rec.CryptFlags = 0;
  rec.StartCluster = 0;
  rec.ClusterCount = 0;
  rec.Size = 0;
  rec.ServiceType = 2;
  rec.RecDate = 0;
  rec.Duration = 0;
  rec.Recovered = false;
  rec.HasRecHeader = false;
  rec.DirCluster = 0;
  rec.Slot = 0;
  rec.ParentCluster = 0;
  rec.VideoPid = 0;
  rec.Contiguous = false;
  return rec;
}

// ------------------------------------------------------------- PC folder

bool LoadPCFolder(int side) {
  DiskRec& d = Disk[side];
  std::string folder = CurrentFolder[side];
  if (folder.empty()) return false;
  if (folder.back() != '/') folder.push_back('/');
  DIR* probe = opendir(folder.c_str());
  if (!probe) return false;
  closedir(probe);

  const int32_t spc0 = Disk[0].SectorsPerCluster;
  List1.Clear();
  List1.AddItem(folder);
  d.FileCount = 0;
  while (!List1.Empty()) {
    const std::string f = List1.TakeFirst();
    DIR* dir = opendir(f.c_str());
    if (!dir) continue;
    while (dirent* e = readdir(dir)) {
      const char* name = e->d_name;
      if (name[0] == '.') continue;   // ".", ".." and hidden files
      const std::string path = f + name;
      struct stat st {};
      if (lstat(path.c_str(), &st) != 0) continue;
      bool isDir = false;
      if (S_ISDIR(st.st_mode)) {
        isDir = true;
      } else if (S_ISLNK(st.st_mode)) {
        // A link to a file is listed as that file; links to folders are not followed.
        if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
      } else if (!S_ISREG(st.st_mode)) {
        continue;   // devices, pipes, sockets
      }

      // Opened so that it cannot block: what became a pipe or a device since
      // it was looked at is not listed.
      int handle = 0;
      platform::FileState opened;
      if (!isDir) {
        handle = platform::PcFileOpen(path, false, &opened);
        if (handle < 1 && opened.Mode != 0 && !opened.Regular) continue;
      }
      FileRec& rec = NextRecord(d, side);
      rec.Name = path;
      rec.IsDir = isDir;
      rec.RecDate = DateValueFromTimeT(int64_t(st.st_mtime));
      if (!isDir) {
        uint8_t sector[512] = {};
        if (handle >= 1) {
          const int64_t length = platform::DriveSize(handle);
          rec.Size = length > 0 ? double(length) : 0.0;
          const size_t head = size_t(std::min<int64_t>(std::max<int64_t>(length, 0), 512));
          if (head > 0 && !platform::ReadAt(handle, 0, sector, head)) std::memset(sector, 0, 512);
          platform::DriveClose(handle);
        }
        std::memcpy(SectorBuffer.data(), sector, 512);
        ApplyHeaderTest(rec, sector);
      }
      rec.ClusterCount =
          spc0 > 0 ? int32_t(std::ceil(rec.Size / 512.0 / double(spc0))) : 0;
      ++d.FileCount;
    }
    closedir(dir);
  }
  // The PC side works in the other side's cluster size; a recorder side's own
  // value is never touched by a PC load.
  d.SectorsPerCluster = Disk[1 - side].SectorsPerCluster;
  return true;
}

// ------------------------------------------------------------ recorder

void DecodeFAT(DiskRec& d, const uint8_t* view, int32_t last) {
  std::fill(d.FAT.begin(), d.FAT.end(), FatLink());
  for (int32_t i = 0; i <= last; ++i) {
    const int32_t next = DecodeFatLink(ReadFat24(view, kFAT1, i));
    d.FAT[size_t(i)].Next = next;
    if (next >= 1) d.FAT[size_t(next)].Prev = i;
  }
}

// Names the parts of the system cluster whose sectors `bad` (ascending,
// sector 0 read) could not be read, and puts FAT2's copy of each FAT1 sector
// that could not be read in its place when that copy was read: on a sound
// disk the two FATs are the same byte for byte.
void MendSystemCluster(std::vector<uint8_t>& view, const std::vector<int32_t>& bad, int32_t spc,
                       std::vector<std::string>& parts) {
  constexpr int32_t fat1 = kFAT1 / kSectorSize, fat2 = kFAT2 / kSectorSize;
  constexpr int32_t fatSectors = fat2 - fat1;
  bool backup = false, root = false, fat1Mended = false, fat1Lost = false, fat2Bad = false,
       trailer = false, unused = false;
  for (int32_t s : bad) {
    if (s == spc - 1) trailer = true;
    if (s == 1) {
      backup = true;
    } else if (s == 2) {
      root = true;
    } else if (s >= fat1 && s < fat2) {
      if (std::binary_search(bad.begin(), bad.end(), s + fatSectors) ||
          size_t(s + fatSectors + 1) * kSectorSize > view.size()) {
        fat1Lost = true;
      } else {
        std::memcpy(view.data() + size_t(s) * kSectorSize,
                    view.data() + size_t(s + fatSectors) * kSectorSize, kSectorSize);
        fat1Mended = true;
      }
    } else if (s >= fat2 && s < fat2 + fatSectors) {
      fat2Bad = true;
    } else if (s != spc - 1) {
      unused = true;
    }
  }
  if (backup) parts.push_back("the backup superblock");
  if (root) parts.push_back("the root directory copy");
  if (fat1Lost)
    parts.push_back("FAT1 (FAT2 could not be read in the same place either: FAT entries are lost)");
  else if (fat1Mended)
    parts.push_back("FAT1 (FAT2 was used in its place)");
  if (fat2Bad) parts.push_back("FAT2");
  if (trailer) parts.push_back("the backup FAT CRC");
  if (unused) parts.push_back("unused sectors of the system cluster");
}

// A load found parts of the disk that could not be read: the drive takes no
// write in this run, no pane showing it stays writable, and the user is
// told once a run.
void TellUnreadableParts(int side, const std::vector<std::string>& parts) {
  const int slot = DriveSlot(DiskId[side]);
  const bool told = slot >= 0 && ReadIncomplete[slot];
  if (slot >= 0) ReadIncomplete[slot] = true;
  for (int s = 0; s < 2; ++s)
    if (DiskId[s] == DiskId[side]) Flags &= ~(s == 0 ? FlagSide0Writable : FlagSide1Writable);
  if (told) return;
  ui::Current().MsgBoxList("Topfield Disk " + std::to_string(std::abs(DiskId[side])) +
                               " could not be read in full (bad sectors). The folders and "
                               "recordings are shown as far as they could be read and can be "
                               "copied off; the disk takes no write until the program is closed. "
                               "These parts could not be read:",
                           parts, ui::Buttons::OK, ui::Icon::Exclamation, Program().Title);
}

// `systemHead`: the system cluster's first sectors up to the end of the
// root directory copy, empty when the copy could not be read.
void WalkDirectories(int side, const std::vector<uint8_t>& systemHead,
                     std::vector<std::string>& unreadable) {
  DiskRec& d = Disk[side];
  const int32_t spc = d.SectorsPerCluster;
  const int64_t clusterBytes = int64_t(spc) * kSectorSize;
  const int64_t limit = int64_t(d.LastCluster) + 10;
  // Each directory cluster is walked once, so a loop in the tree ends.
  std::vector<uint8_t> queued(size_t(kFatEntries) + 16, 0);
  queued[0] = 1;

  List1.Clear();
  List1.AddItem("0 \\");
  d.FileCount = 0;
  int32_t parent = 0;
  std::string name;
  while (!List1.Empty()) {
    const std::string line = List1.TakeFirst();
    const size_t blank = line.find(' ');
    const int32_t dir = int32_t(std::strtol(line.c_str(), nullptr, 10));
    const std::string path = line.substr(blank + 1);

    // A folder that reads only in part shows the entries that were read.
    std::vector<int32_t> badSectors;
    ReadTopfClusterSectors(side, dir + 1, badSectors);
    const bool headUnread = !badSectors.empty() && badSectors.front() == 0;
    // The root's first slots, DataFiles among them, are kept in the system
    // cluster too: what lies below them is reached through that copy.
    const bool fromCopy = headUnread && dir == 0 && !systemHead.empty() &&
                          ClusterBuffer.size() >= size_t(kSectorSize) &&
                          TakeRootCopy(ClusterBuffer.data(), systemHead.data());
    if (!badSectors.empty())
      unreadable.push_back("the folder '" + platform::Cp1252ToUtf8(path) + "' (cluster " +
                           std::to_string(dir) +
                           (fromCopy ? "; its first entries were taken from the root directory "
                                       "copy in the system cluster)"
                                     : ")"));
    const uint8_t* b = ClusterBuffer.data();
    const int64_t available = int64_t(ClusterBuffer.size());
    int64_t used = available >= 20 ? clusterBytes - int32_t(GetBE32(b + kDeFreeBytes)) : -1;
    const bool sound = available >= 256 && b[0] == AttrSelf &&
                       (b[kDirEntrySize] == AttrParent || dir == 0) && used >= 0 &&
                       used <= kDirReadableBytes;
    if (!sound) {
      if (!headUnread)   // unread, not damaged: told with the other unread parts
        ui::Current().MsgBox("Damaged subdirectory '" + platform::Cp1252ToUtf8(path) +
                                 "'; Cluster " + std::to_string(dir) +
                                 "\nPlease run a file system check.",
                             ui::Buttons::OK, ui::Icon::Exclamation, Program().Title);
      used = kDirReadableBytes;
    }
    // The copy's "." entry does not follow the root's later entries.
    if (fromCopy) used = kDirReadableBytes;
    used = std::min<int64_t>(used, available);

    // Every slot that begins below `used`, as the check visits them.
    for (int64_t o = 0; o < used && o + kDirEntrySize <= available; o += kDirEntrySize) {
      const uint8_t* slot = b + o;
      const uint8_t a = slot[kDeAttribute];
      if (a == AttrUnused) continue;
      const int32_t s = int32_t(GetBE32(slot + kDeStartCluster));
      if (a == AttrFile || a == AttrRecording) {
        if (slot[kDeSkipByte] != 0 || s < 1 || s > limit) continue;
        FileRec& rec = NextRecord(d, side);
        rec.Name.assign(path).append(ReadEntryName(slot));
        rec.EntryType = a;
        rec.CryptValid = (slot[kDeCryptFlags] & kCryptValidBit) != 0;
        rec.CryptFlags = slot[kDeCryptValue];
        rec.StartCluster = s;
        rec.ClusterCount = int32_t(GetBE32(slot + kDeClusterCount));
        rec.Size = EntrySizeOf(slot, spc);
        rec.RecDate = TopfDateToDateValue(ReadTopfDate(slot + kDeDate));
        ReadTopfSector(side, s + 1);
        ApplyHeaderTest(rec, SectorBuffer.data());
        rec.DirCluster = dir;
        rec.Slot = int32_t(o / kDirEntrySize);
        rec.ParentCluster = parent;
        ++d.FileCount;
      } else if (a == AttrParent) {
        parent = s;
      } else if (a == AttrDirectory || a == AttrRecycle) {
        if (s < 1 || s > limit) continue;
        name = ReadEntryName(slot);
        if (size_t(s) < queued.size() && !queued[size_t(s)]) {
          queued[size_t(s)] = 1;
          List1.AddItem(std::to_string(s) + " " + path + name + "\\");
        }
        FileRec& rec = NextRecord(d, side);
        rec.Name.assign(path).append(name);
        rec.EntryType = a;
        rec.IsDir = true;
        rec.StartCluster = s;
        rec.ClusterCount = int32_t(GetBE32(slot + kDeClusterCount));
        rec.DirCluster = dir;
        rec.Slot = int32_t(o / kDirEntrySize);
        rec.ParentCluster = a == AttrDirectory ? parent : 0;
        ++d.FileCount;
      }
    }
  }
}

bool LoadRecorder(int side, bool force) {
  DiskRec& d = Disk[side];
  WaitWindow wait("Loading Topfield Disk " + std::to_string(std::abs(DiskId[side])) +
                  ". Please stand by.");

  if (DiskId[0] == DiskId[1] && !force) {
    const int32_t handle = d.Handle;
    d = Disk[OtherSide(side)];
    d.Handle = handle;
    return false;
  }

  d.FileCount = 0;
  d.SectorsPerCluster = 1;
  ReadTopfSector(side, 0);
  d.IdString = ReadIdString(SectorBuffer.data());
  if (d.IdString != kTopfieldId) return false;

  int32_t spc = int16_t(GetBE16(SectorBuffer.data() + kSbSectorsPerCluster));
  if (spc == 0 && InFileMode()) spc = FileModeSectorsPerCluster;
  if (!ValidSectorsPerCluster(spc)) {
    d.SectorsPerCluster = 0;
    ui::Current().MsgBox("The superblock of Topfield Disk " +
                             std::to_string(std::abs(DiskId[side])) +
                             " gives an unusable cluster size of " + std::to_string(spc) +
                             " sectors. The disk is not loaded.\nPlease run a file system check.",
                         ui::Buttons::OK, ui::Icon::Exclamation);
    return false;
  }
  d.SectorsPerCluster = spc;

  if (InFileMode()) {
    d.LastCluster = kMaxFatIndex;
  } else {
    double cylinders = 0;
    int32_t tracks = 0, sectors = 0, bytesPerSector = 0;
    DiskGeometry(d.Handle, cylinders, tracks, sectors, bytesPerSector);
    d.LastCluster = ComputeLastCluster(cylinders * tracks * sectors, spc);
  }

  // A device smaller than one cylinder has no cluster the program may write
  // (LastCluster is below 1): the load goes on with what it could read, and
  // the walk reports the damaged root. On a disk of usable size a system
  // cluster that cannot be read ends the load, and the side takes no write
  // until a load succeeds: neither a FAT of zeros nor the FAT of the disk
  // shown before may ever be written back as this disk's.
  // One that reads only in part is loaded as far as it was read (sector 0
  // with it), and the disk then takes no write in this run.
  std::vector<int32_t> bad;
  const bool whole = ReadTopfClusterSectors(side, 0, bad);
  if (!whole && (bad.empty() || bad.front() == 0) && d.LastCluster >= 1) {
    d.LastCluster = -1;
    std::fill(d.FAT.begin(), d.FAT.end(), FatLink());
    return false;
  }
  std::vector<std::string> unreadable;
  if (!bad.empty()) MendSystemCluster(ClusterBuffer, bad, spc, unreadable);
  const uint8_t* b = ClusterBuffer.data();
  const int64_t clusterBytes = int64_t(spc) * kSectorSize;

  d.RootCopyCount = 0;
  for (int32_t k = 0; k < kRootCopySlots; ++k) {
    const uint8_t* slot = b + kRootDirectoryCopy + k * kDirEntrySize;
    if (slot[0] < 1 || slot[0] > 254) continue;
    if (size_t(d.RootCopyCount) + 1 > d.RootCopy.size())
      d.RootCopy.resize(size_t(d.RootCopyCount) * 2 + 1);
    d.RootCopy[size_t(d.RootCopyCount)] = {int32_t(GetBE32(slot + kDeStartCluster)), k};
    ++d.RootCopyCount;
  }

  d.CrcId = CrcIdText(GetBE32(b + kSbFatCrc));
  if (GetBE32(b + BackupCrcMarkerOffset(clusterBytes)) == kBackupCrcMarker)
    d.BackupCrcId = CrcIdText(GetBE32(b + BackupCrcOffset(clusterBytes)));
  else
    d.BackupCrcId.clear();

  std::vector<uint8_t> systemHead;
  const size_t headBytes = size_t(kRootDirectoryCopy + kRootCopySlots * kDirEntrySize);
  if ((whole || !bad.empty()) && ClusterBuffer.size() >= headBytes &&
      !std::binary_search(bad.begin(), bad.end(), kRootDirectoryCopy / kSectorSize))
    systemHead.assign(b, b + headBytes);
  DecodeFAT(d, b, d.LastCluster);
  WalkDirectories(side, systemHead, unreadable);
  SumDirectorySizes(side);
  if (!unreadable.empty()) TellUnreadableParts(side, unreadable);
  return true;
}

}  // namespace

bool LoadTopf(int side, bool force) {
  ProcScope scope("LoadTopf");
  CheckSideIndex(side);
  if (IsPCSide(side)) return LoadPCFolder(side);
  return LoadRecorder(side, force);
}

void LoadTopfFAT(int side) {
  ProcScope scope("LoadTopfFAT");
  CheckSideIndex(side);
  if (IsPCSide(side)) return;
  // A FAT that could not be read is not replaced by an empty one.
  if (!ReadTopfCluster(side, 0) || ClusterBuffer.size() < size_t(kFAT2)) return;
  DecodeFAT(Disk[side], ClusterBuffer.data(), kMaxFatIndex);
}

void SumDirectorySizes(int side) {
  CheckSideIndex(side);
  DiskRec& d = Disk[side];
  std::unordered_map<std::string_view, std::vector<int32_t>> directories;
  directories.reserve(size_t(d.FileCount) / 8 + 16);
  for (int32_t i = 0; i < d.FileCount; ++i) {
    FileRec& rec = d.Files[size_t(i)];
    if (!rec.IsDir) continue;
    rec.Size = 0;
    directories[std::string_view(rec.Name)].push_back(i);
  }
  if (directories.empty()) return;
  for (int32_t i = 0; i < d.FileCount; ++i) {
    const FileRec& rec = d.Files[size_t(i)];
    if (rec.IsDir || rec.Size == 0) continue;
    const std::string_view name(rec.Name);
    for (size_t p = name.find('\\', 1); p != std::string_view::npos; p = name.find('\\', p + 1)) {
      auto it = directories.find(name.substr(0, p));
      if (it == directories.end()) continue;
      for (int32_t dirIndex : it->second) d.Files[size_t(dirIndex)].Size += rec.Size;
    }
  }
}

}  // namespace core
