#include "transfer/entry_edits.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "core/cluster_io.h"
#include "core/create_file.h"
#include "core/disk_format.h"
#include "core/disk_load.h"
#include "core/disk_model.h"
#include "core/error_handler.h"
#include "core/pc_helpers.h"
#include "platform/platform.h"
#include "transfer/names.h"

namespace transfer {

namespace {

using core::Disk;

bool IsErased(const core::FileRec& r) { return r.Name == core::kErasedName; }

// Why a new name cannot be used; "" when it can.
std::string NameProblem(const std::string& newName) {
  if (newName.empty()) return "the name is empty";
  if (newName == "." || newName == "..") return "\".\" and \"..\" are not names";
  for (char ch : newName) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (c == '\\' || c == '/') return "a name cannot hold \"\\\" or \"/\"";
    if (c < 0x20 || c == 0x7F) return "a name cannot hold control characters";
  }
  return std::string();
}

void StoreName(uint8_t* slot, const std::string& text) {
  std::memset(slot + core::kDeName, 0, size_t(core::kDeNameField));
  std::memcpy(slot + core::kDeName, text.data(), std::min<size_t>(text.size(), 95));
}

bool RenamePc(int side, int index, const std::string& newName) {
  core::FileRec& rec = Disk[side].Files[size_t(index)];
  std::string folder, name, ext;
  core::SeparatePathComponents(rec.Name, folder, name, ext, core::kPcSeparator);
  const std::string target = folder + newName;
  if (target == rec.Name) return true;
  // Never over a name that is taken, whenever it was taken.
  const bool ok = platform::PcRenameNoReplace(rec.Name, target);
  const int error = platform::LastError();
  if (!ok && error == EEXIST)
    Tell("Unable to rename \"" + rec.Name + "\": \"" + newName + "\" already exists.");
  else if (!ok)
    Tell("Unable to rename \"" + rec.Name + "\": " + platform::PcFileErrorText(error) + ".");
  core::LoadTopf(side, true);
  return ok;
}

bool RenameRecorder(int side, int index, const std::string& newName) {
  core::DiskRec& d = Disk[side];
  core::FileRec& rec = d.Files[size_t(index)];
  std::string folder, name, ext;
  core::SeparatePathComponents(rec.Name, folder, name, ext, core::kRecorderSeparator);
  // The list holds the name as written, which a reload reads back.
  const std::string text = core::EntryNameBytes(newName);
  const std::string newPath = folder + text;

  // No other entry of the folder may carry the new name (case ignored).
  const std::string lowerNew = core::LowerCaseName(newPath);
  for (int32_t j = 0; j < d.FileCount; ++j) {
    if (j == index) continue;
    const core::FileRec& r = d.Files[size_t(j)];
    if (IsErased(r)) continue;
    if (core::LowerCaseName(r.Name) == lowerNew) {
      Tell("Unable to rename \"" + Shown(rec.Name) + "\": \"" + Shown(text) +
           "\" already exists in that folder.");
      return false;
    }
  }

  if (rec.Slot >= 0) {
    const int32_t dir = rec.DirCluster;
    const int64_t slots = int64_t(d.SectorsPerCluster) * (core::kSectorSize / core::kDirEntrySize);
    if (dir < 0 || dir > core::kMaxFatIndex || rec.Slot >= slots) {
      Tell("The entry of \"" + Shown(rec.Name) + "\" has no valid place on the disk; it was not renamed.");
      return false;
    }
    if (!core::ReadTopfCluster(side, dir + 1)) {
      Tell("The folder holding \"" + Shown(rec.Name) + "\" could not be read; it was not renamed.");
      return false;
    }
    uint8_t* slot = core::ClusterBuffer.data() + size_t(rec.Slot) * core::kDirEntrySize;
    if (slot[core::kDeAttribute] != rec.EntryType ||
        int32_t(core::GetBE32(slot + core::kDeStartCluster)) != rec.StartCluster) {
      Tell("The entry of \"" + Shown(rec.Name) +
           "\" on the disk does not match; it was not renamed. Please run a file system check.");
      return false;
    }
    StoreName(slot, text);
    if (!core::WriteTopfCluster(side, dir + 1, false)) {
      Tell("The folder holding \"" + Shown(rec.Name) + "\" could not be written; it was not renamed.");
      return false;
    }
    // An entry of the root's first slots has a copy in the system cluster.
    if (dir == 0 && rec.Slot < core::kRootCopySlots) {
      bool copied = core::ReadTopfCluster(side, 0) &&
                    int64_t(core::ClusterBuffer.size()) >= core::kMinClusterBytes;
      if (copied) {
        uint8_t* copy = core::ClusterBuffer.data() + core::kRootDirectoryCopy +
                        size_t(rec.Slot) * core::kDirEntrySize;
        if (int32_t(core::GetBE32(copy + core::kDeStartCluster)) == rec.StartCluster) {
          StoreName(copy, text);
          copied = core::WriteTopfCluster(side, 0, true);
        }
      }
      if (!copied)
        Tell("\"" + Shown(rec.Name) + "\" was renamed, but the copy of its entry in the system "
             "cluster could not be written. Please run a file system check.");
    }
  }

  if (!rec.IsDir) {
    rec.Name = newPath;
    return true;
  }
  const std::string old = rec.Name;
  for (int32_t j = 0; j < d.FileCount; ++j) {
    core::FileRec& r = d.Files[size_t(j)];
    if (r.Name.size() < old.size() || r.Name.compare(0, old.size(), old) != 0) continue;
    if (r.Name.size() > old.size() && r.Name[old.size()] != '\\') continue;
    r.Name = newPath + r.Name.substr(old.size());
  }
  return true;
}

}  // namespace

bool FSRenameFile(int side, int index, const std::string& newName) {
  core::ProcScope scope("FSRenameFile");
  core::CheckSideIndex(side);
  core::DiskRec& d = Disk[side];
  if (index < 0 || index >= d.FileCount || size_t(index) >= d.Files.size())
    core::Raise(9, "Subscript out of range (file index " + std::to_string(index) + ")");
  if (IsErased(d.Files[size_t(index)])) return false;
  const std::string problem = NameProblem(newName);
  if (!problem.empty()) {
    Tell("Unable to rename \"" +
         (core::IsPCSide(side) ? d.Files[size_t(index)].Name : Shown(d.Files[size_t(index)].Name)) +
         "\": " + problem + ".");
    return false;
  }
  if (core::IsPCSide(side)) return RenamePc(side, index, newName);
  return RenameRecorder(side, index, newName);
}

void FSCompressFileList(int side) {
  core::ProcScope scope("FSCompressFileList");
  core::CheckSideIndex(side);
  core::DiskRec& d = Disk[side];
  const int32_t count = std::min<int32_t>(d.FileCount, int32_t(d.Files.size()));
  int32_t j = 0;
  for (int32_t i = 0; i < count; ++i) {
    if (d.Files[size_t(i)].Name == core::kErasedName) continue;
    if (i != j) d.Files[size_t(j)] = std::move(d.Files[size_t(i)]);
    ++j;
  }
  d.FileCount = j;
}

bool FSRedirectFAT(int side, int32_t src, int32_t dst, bool copyData, int32_t nextSrc) {
  core::ProcScope scope("FSRedirectFAT");
  core::CheckSideIndex(side);
  core::DiskRec& d = Disk[side];
  auto& fat = d.FAT;
  const int32_t last = core::LastFatIndex(side);
  if (src < 0 || src > last || dst < 0 || dst > last || src == dst) return false;

  const int32_t readNext = nextSrc > 0 && nextSrc <= last ? nextSrc + 1 : -1;
  if (copyData && !core::CopyTopfCluster(side, src + 1, dst + 1, false, readNext)) return false;
  fat[size_t(dst)] = fat[size_t(src)];
  const int32_t prev = fat[size_t(dst)].Prev;
  const int32_t next = fat[size_t(dst)].Next;
  if (prev > 0 && prev <= last) fat[size_t(prev)].Next = dst;
  if (next > 0 && next <= last) fat[size_t(next)].Prev = dst;
  fat[size_t(src)] = core::FatLink();
  return true;
}

}  // namespace transfer
