#include "transfer/file_create.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <vector>

#include "core/cluster_io.h"
#include "core/create_file.h"
#include "core/disk_format.h"
#include "core/disk_init.h"
#include "core/disk_load.h"
#include "core/disk_model.h"
#include "core/error_handler.h"
#include "core/fat_write.h"
#include "core/disk_io.h"
#include "core/pc_helpers.h"
#include "platform/platform.h"
#include "transfer/names.h"

namespace transfer {

namespace {

using core::Disk;

bool IsErased(const core::FileRec& r) { return r.Name == core::kErasedName; }

std::vector<std::string> Split(const std::string& path, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find(separator, start);
    if (end == std::string::npos) end = path.size();
    if (end > start) parts.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

// The live record whose name equals `lowerName` (case ignored), or -1.
int FindRecord(int side, const std::string& lowerName, bool foldersOnly) {
  const core::DiskRec& d = Disk[side];
  for (int32_t i = 0; i < d.FileCount; ++i) {
    const core::FileRec& r = d.Files[size_t(i)];
    if (IsErased(r) || r.Recovered || (foldersOnly && !r.IsDir)) continue;
    if (core::LowerCaseName(r.Name) == lowerName) return i;
  }
  return -1;
}

// The lowest free FAT index from `from` to LastCluster whose cluster lies on
// the device; -1 when there is none.
int32_t LowestFree(int side, int32_t from) {
  const core::DiskRec& d = Disk[side];
  const int32_t last = core::LastFatIndex(side);
  for (int32_t c = std::max(from, 0); c <= last; ++c) {
    if (d.FAT[size_t(c)].Next != 0) continue;
    return core::IndexOnDisk(side, c) ? c : -1;
  }
  return -1;
}

double Now() {
  const std::tm t = core::LocalNow();
  return core::DateValue(t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min,
                         t.tm_sec);
}

// A file refused: the reason is told, or handed to the caller (`why`).
bool Refused(std::string* why, const std::string& shown, const std::string& reason) {
  if (why)
    *why = reason;
  else
    Tell("Unable to create the file " + shown + ": " + reason + ".");
  return false;
}

bool PcCreateFile(int side, const std::string& path, std::string* why) {
  core::DiskRec& d = Disk[side];
  core::OpenFileRec& f = d.OpenFile;
  d.SectorsPerCluster = Disk[core::OtherSide(side)].SectorsPerCluster;

  const std::string full = PcCreateName(path);
  if (full.empty()) return Refused(why, "\"" + path + "\"", "the name is not usable");
  core::SeparatePathComponents(full, f.Dir, f.FileName, f.Ext, core::kPcSeparator);

  struct stat st {};
  if (lstat(full.c_str(), &st) == 0) {
    if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode))
      return Refused(why, "\"" + full + "\"", KindOfFile(st.st_mode) + " of that name exists there");
    unlink(full.c_str());   // a file or a link (never followed); errors are met below
  }
  // The folders of a copy were made before its files: one that is missing
  // now was taken away meanwhile, and is not made again behind the back of
  // whoever did that.
  if (!f.Dir.empty() && (stat(f.Dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)))
    return Refused(why, "\"" + full + "\"", "the folder \"" + f.Dir + "\" is gone");
  platform::FileState created, opened;
  // Never through a link, never over a name taken meanwhile.
  const int fd = platform::PcFileCreate(full, 0666);
  if (fd >= 0) {
    platform::HandleState(fd, created);
    close(fd);
  }

  // The file opened is the one just made, not one put there meanwhile.
  const bool made = fd >= 0 && core::InitTopf(side, full, true);
  const std::string reason = PcFailureText(platform::LastError());
  if (!made || !platform::HandleState(d.Handle, opened) || !platform::SameFile(created, opened)) {
    if (d.Handle >= 1) core::CloseDisk(d.Handle);
    d.Handle = 0;
    return Refused(why, "\"" + full + "\"",
                   made ? "another program put a file of that name there meanwhile" : reason);
  }
  f.ClustersDone = 0;
  f.ClusterCount = 0;
  f.CurrentCluster = 0;
  return true;
}

bool RecorderCreateFile(int side, const std::string& given, std::string* why) {
  const std::string path = core::EntryPath(given);
  core::DiskRec& d = Disk[side];
  core::OpenFileRec& f = d.OpenFile;
  core::SeparatePathComponents(path, f.Dir, f.FileName, f.Ext, core::kRecorderSeparator);
  f.ClustersDone = 0;
  f.ClusterCount = 0;
  f.CurrentCluster = -1;
  f.FreeHint = -1;

  const std::string shown = "\"" + Shown(path) + "\"";
  const int same = FindRecord(side, core::LowerCaseName(path), false);
  if (same >= 0 && d.Files[size_t(same)].IsDir)
    return Refused(why, shown, "a folder of that name exists there");
  std::string parent = f.Dir;
  if (!parent.empty()) parent.pop_back();
  if (parent.empty() || FindRecord(side, core::LowerCaseName(parent), true) < 0)
    return Refused(why, shown, "the folder \"" + Shown(f.Dir) + "\" was not found on the disk");
  f.FreeHint = LowestFree(side, 0);
  if (f.FreeHint < 0) return Refused(why, shown, "the disk is full");
  return true;
}

// The side's list is not read again here: the job reads it once at its
// end, the new-folder command after its one folder.
bool PcCreateDir(const std::string& path, const std::string& from, std::string* why) {
  std::string reason;
  bool made = false;
  if (path.empty() || HasParentComponent(path))
    reason = "the name is not usable";
  else
    made = platform::PcMakeFolder(path, from, &reason);
  if (made) return true;
  if (why)
    *why = reason;
  else
    Tell("Unable to create the folder \"" + path + "\": " + reason + ".");
  return false;
}

bool RecorderCreateDir(int side, std::string path) {
  core::DiskRec& d = Disk[side];
  while (path.size() > 1 && path.back() == '\\') path.pop_back();
  path = core::EntryPath(path);
  const std::string shown = "\"" + Shown(path) + "\"";

  const int existing = FindRecord(side, core::LowerCaseName(path), false);
  if (existing >= 0) {
    if (d.Files[size_t(existing)].IsDir) return true;
    Tell("Unable to create the folder " + shown + ": a file of that name exists there.");
    return false;
  }

  const size_t cut = path.rfind('\\');
  if (cut == std::string::npos || cut + 1 >= path.size()) {
    Tell("Unable to create the folder " + shown + ": the name is not usable.");
    return false;
  }
  const std::string parentPath = path.substr(0, cut);
  const int parent =
      parentPath.empty() ? -1 : FindRecord(side, core::LowerCaseName(parentPath), true);
  if (parent < 0) {
    Tell("Unable to create the folder " + shown + ": its parent folder \"" +
         Shown(parentPath.empty() ? "\\" : parentPath) + "\" cannot take new entries.");
    return false;
  }

  // The parent must be a readable directory cluster with a free slot.
  const int32_t parentCluster = d.Files[size_t(parent)].StartCluster;
  bool room = false;
  if (parentCluster >= 0 && parentCluster <= core::kMaxFatIndex &&
      core::ReadTopfCluster(side, parentCluster + 1) &&
      core::ClusterBuffer.size() >= 2 * size_t(core::kDirEntrySize) &&
      core::ClusterBuffer[0] == core::AttrSelf) {
    // Only the slots the loader reads back count.
    const size_t slots = size_t(core::WritableDirSlots(core::ClusterBuffer.size()));
    for (size_t s = 0; s < slots * core::kDirEntrySize; s += core::kDirEntrySize)
      if (core::ClusterBuffer[s] == core::AttrUnused) {
        room = true;
        break;
      }
  }
  if (!room) {
    Tell("Unable to create the folder " + shown + ": the folder \"" + Shown(parentPath) +
         "\" could not be read or is full.");
    return false;
  }

  const int32_t c = LowestFree(side, 3);
  if (c < 0) {
    Tell("Unable to create the folder " + shown + ": the disk is full.");
    return false;
  }
  core::BuildSubDirBuffer(side, c, path);
  if (!core::WriteTopfCluster(side, c + 1, false)) {
    Tell("Unable to create the folder " + shown + ": its cluster could not be written (" +
         core::ClusterFailure() + ").");
    return false;
  }
  core::FatLink& link = d.FAT[size_t(c)];
  link.Next = -1;
  link.Prev = 0;
  if (!core::UpdateTopfFAT(side)) {
    link = core::FatLink();
    Tell("Unable to create the folder " + shown + ": the FAT could not be written.");
    return false;
  }
  if (!core::CreateTopfFile(side, path, true, double(d.SectorsPerCluster) * core::kSectorSize,
                            Now(), c)) {
    link = core::FatLink();
    if (!core::UpdateTopfFAT(side))
      Tell("The cluster of the folder " + shown + " stays allocated: the FAT could not be "
           "written. Please run a file system check.");
    return false;
  }
  return true;
}

}  // namespace

std::string PcCreateName(const std::string& path) {
  std::string dir, name, ext;
  core::SeparatePathComponents(path, dir, name, ext, core::kPcSeparator);
  if (HasParentComponent(dir)) return std::string();
  std::string component = ext.empty() ? name : name + "." + ext;
  if (component.empty()) return std::string();
  return dir + core::SafePcComponent(component);
}

std::string FSTargetPath(int side, int entry, const std::string& sourceFolder,
                         const std::string& targetFolder) {
  core::ProcScope scope("FSTargetPath");
  core::CheckSideIndex(side);
  const core::DiskRec& d = Disk[side];
  if (entry < 0 || entry >= d.FileCount || size_t(entry) >= d.Files.size())
    core::Raise(9, "Subscript out of range (file index " + std::to_string(entry) + ")");
  const core::FileRec& e = d.Files[size_t(entry)];
  const int target = core::OtherSide(side);
  const bool fromPc = core::IsPCSide(side);
  const bool toPc = core::IsPCSide(target);
  const char sourceSep = fromPc ? '/' : '\\';
  const char targetSep = toPc ? '/' : '\\';

  std::string source = sourceFolder;
  if (!source.empty() && source.back() != sourceSep) source.push_back(sourceSep);
  std::string relative;
  if (!source.empty() && e.Name.compare(0, source.size(), source) == 0) {
    relative = e.Name.substr(source.size());
  } else {
    const size_t cut = e.Name.rfind(sourceSep);
    relative = cut == std::string::npos ? e.Name : e.Name.substr(cut + 1);
  }

  std::string out = targetFolder;
  if (!out.empty() && out.back() != targetSep) out.push_back(targetSep);
  const std::vector<std::string> parts = Split(relative, sourceSep);
  for (size_t k = 0; k < parts.size(); ++k) {
    const bool last = k + 1 == parts.size();
    std::string name;
    if (!fromPc && toPc) name = core::CleanupFileNameComponent(parts[k]);
    else if (fromPc && toPc) name = core::SafePcComponent(parts[k]);
    else if (fromPc) name = RecorderComponentFromPc(parts[k]);
    else name = parts[k];
    if (name.empty()) name = "_";
    if (!toPc) name = core::EntryNameBytes(name);
    out += name;
    if (!last) out.push_back(targetSep);
  }
  return out;
}

bool FSCreateFile(int side, const std::string& path, std::string* why) {
  core::ProcScope scope("FSCreateFile");
  core::CheckSideIndex(side);
  if (core::IsPCSide(side)) return PcCreateFile(side, path, why);
  return RecorderCreateFile(side, path, why);
}

bool FSCreateDir(int side, const std::string& path, const std::string& from, std::string* why) {
  core::ProcScope scope("FSCreateDir");
  core::CheckSideIndex(side);
  if (core::IsPCSide(side)) return PcCreateDir(path, from, why);
  return RecorderCreateDir(side, path);
}

}  // namespace transfer
