#include "transfer/copy_queue.h"

#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <cmath>
#include <cstdio>
#include <set>
#include <utility>

#include "core/cluster_io.h"
#include "core/disk_format.h"
#include "core/disk_model.h"
#include "core/error_handler.h"
#include "platform/platform.h"
#include "transfer/names.h"
#include "ui/ui.h"

namespace transfer {

core::WorkList List3;

namespace {

using core::Disk;

// The entry index of a list item key ("D000012", "i000007"); -1 for the
// parent item "D.." and anything that is not a letter and digits.
int64_t KeyEntry(const std::string& key) {
  if (key.size() < 2 || (key[0] != 'D' && key[0] != 'i')) return -1;
  int64_t value = 0;
  for (size_t k = 1; k < key.size(); ++k) {
    if (key[k] < '0' || key[k] > '9') return -1;
    value = value * 10 + (key[k] - '0');
    if (value > INT32_MAX) return -1;
  }
  return value;
}

std::string BuildingText() {
  return "Building file list - please wait (" + std::to_string(List3.ListCount()) + " files)";
}

void ShowStatus(const StatusHook& status) {
  if (status) status(BuildingText());
  ui::Current().DoEvents();
}

// Why a name in a PC folder is not queued, or "" when it is.
std::string LeftOut(const platform::FolderEntry& fe) {
  if (fe.IsDir || fe.IsRegular) return std::string();
  if (fe.IsSymlink && fe.LinkError == ELOOP) return "a link that loops; not copied";
  if (fe.IsSymlink && fe.LinkError != 0) return "a link whose target is missing; not copied";
  if (fe.LinkToDir) return "a link to a folder; links to folders are not followed, not copied";
  return KindOfFile(fe.Mode) + ", not a regular file; not copied";
}

class Builder {
 public:
  Builder(int side, const StatusHook& status, std::vector<std::string>* skipped)
      : side_(side), status_(status), skipped_(skipped) {}

  // False when a number does not fit six digits.
  bool Add(char kind, int64_t item, int64_t entry) {
    if (item < 0 || item > kMaxQueueNumber || entry < 0 || entry > kMaxQueueNumber) return false;
    List3.AddItem(FormatQueueLine(kind, int32_t(item), int32_t(entry)));
    return true;
  }

  bool RecorderFolder(int64_t item, int32_t entry) {
    const core::DiskRec& d = Disk[side_];
    const std::string& name = d.Files[size_t(entry)].Name;
    const std::string below = name + "\\";
    for (int32_t j = 0; j < d.FileCount; ++j) {
      const core::FileRec& r = d.Files[size_t(j)];
      if (r.Name != name && r.Name.compare(0, below.size(), below) != 0) continue;
      if (!Add(r.IsDir ? 'D' : 'F', item, j)) return false;
    }
    return true;
  }

  bool PcFolder(int64_t item, int32_t entry) {
    core::DiskRec& d = Disk[side_];
    if (!Add('D', item, entry)) return false;
    core::List1.Clear();
    core::List1.AddItem(d.Files[size_t(entry)].Name);
    std::set<std::pair<dev_t, ino_t>> visited;
    std::vector<platform::FolderEntry> entries;
    while (!core::List1.Empty()) {
      const auto now = std::chrono::steady_clock::now();
      if (now - lastStatus_ > std::chrono::milliseconds(4320)) {
        ShowStatus(status_);
        lastStatus_ = now;
      }
      std::string folder = core::List1.TakeFirst();
      if (folder.empty() || folder.back() != '/') folder.push_back('/');
      struct stat st {};
      if (stat(folder.c_str(), &st) != 0) {
        Skip(folder, "the folder is gone; what it held was not copied");
        continue;
      }
      if (!visited.insert({st.st_dev, st.st_ino}).second) {
        Skip(folder, "the same folder was reached twice (it is mounted twice); copied once");
        continue;
      }
      if (!platform::ListFolder(folder, entries)) {
        Skip(folder, "the folder could not be read (" +
                         std::string(std::strerror(platform::LastError())) +
                         "); what it holds was not copied");
        continue;
      }
      for (const platform::FolderEntry& fe : entries) {
        if (fe.Hidden || fe.Name == "." || fe.Name == "..") continue;
        const std::string why = LeftOut(fe);
        if (!why.empty()) {
          Skip(folder + fe.Name, why);
          continue;
        }
        platform::FileState opened;
        const int handle = fe.IsDir ? 0 : platform::PcFileOpen(folder + fe.Name, false, &opened);
        if (!fe.IsDir && handle < 1 && opened.Mode != 0 && !opened.Regular) {
          Skip(folder + fe.Name, KindOfFile(opened.Mode) + ", not a regular file; not copied");
          continue;
        }
        core::CheckArraySize(side_);
        core::FileRec& r = d.Files[size_t(d.FileCount)];
        r = core::FileRec();
        r.Name = folder + fe.Name;
        r.ServiceType = 0;
        r.RecDate = core::DateValueFromTimeT(fe.ModifiedTime);
        if (fe.IsDir) {
          r.EntryType = 0xF1;
          r.IsDir = true;
          if (!Add('D', item, d.FileCount)) return false;
          core::List1.AddItem(r.Name);
        } else {
          r.EntryType = 0xD1;
          r.Size = 0;
          if (handle >= 1) {
            const int64_t length = platform::DriveSize(handle);
            platform::DriveClose(handle);
            if (length > 0) r.Size = double(length);
          }
          if (d.SectorsPerCluster == 0) d.SectorsPerCluster = Disk[core::OtherSide(side_)].SectorsPerCluster;
          r.ClusterCount = d.SectorsPerCluster > 0
                               ? int32_t(std::ceil(r.Size / 512.0 / d.SectorsPerCluster))
                               : 0;
          if (!Add('F', item, d.FileCount)) return false;
        }
        d.FileCount += 1;
      }
    }
    return true;
  }

 private:
  void Skip(const std::string& path, const std::string& why) {
    if (skipped_) skipped_->push_back(path + ": " + why);
  }

  int side_;
  const StatusHook& status_;
  std::vector<std::string>* skipped_;
  std::chrono::steady_clock::time_point lastStatus_ = std::chrono::steady_clock::now();
};

}  // namespace

bool ItemChecked(const PaneItems& items, int32_t item) {
  return item >= 1 && size_t(item) <= items.size() && items[size_t(item) - 1].Checked;
}

std::string FormatQueueLine(char kind, int32_t item, int32_t entry) {
  char text[32];
  std::snprintf(text, sizeof text, "%c %06d %06d", kind, int(item), int(entry));
  return text;
}

bool ParseQueueLine(const std::string& line, QueueLine& out) {
  if (line.size() != 15 || (line[0] != 'F' && line[0] != 'D') || line[1] != ' ' || line[8] != ' ')
    return false;
  int32_t numbers[2] = {0, 0};
  for (int n = 0; n < 2; ++n)
    for (size_t k = 0; k < 6; ++k) {
      const char c = line[2 + size_t(n) * 7 + k];
      if (c < '0' || c > '9') return false;
      numbers[n] = numbers[n] * 10 + (c - '0');
    }
  out.Kind = line[0];
  out.Item = numbers[0];
  out.Entry = numbers[1];
  return true;
}

bool FSBuildCopyList(int side, const PaneItems& items, const StatusHook& status,
                     std::vector<std::string>* skipped) {
  core::ProcScope scope("FSBuildCopyList");
  core::CheckSideIndex(side);
  List3.Clear();
  Builder builder(side, status, skipped);
  bool fits = true;
  for (size_t k = 0; k < items.size() && fits; ++k) {
    if (!items[k].Checked) continue;
    const int64_t item = int64_t(k) + 1;
    const int64_t entry = KeyEntry(items[k].Key);
    const core::DiskRec& d = Disk[side];
    if (entry < 0 || entry >= d.FileCount || size_t(entry) >= d.Files.size()) continue;
    const core::FileRec& rec = d.Files[size_t(entry)];
    if (rec.Name == core::kErasedName) continue;
    if (!rec.IsDir) fits = builder.Add('F', item, entry);
    else if (core::IsPCSide(side)) fits = builder.PcFolder(item, int32_t(entry));
    else fits = builder.RecorderFolder(item, int32_t(entry));
  }
  if (!fits) {
    List3.Clear();
    Tell("The selection holds too many files for one job (item and entry numbers must stay "
         "below 1000000). Please select fewer files.");
    ShowStatus(status);
    return false;
  }
  ShowStatus(status);
  return true;
}

int64_t FSGetSelectedClusters(int side, const PaneItems& items) {
  core::ProcScope scope("FSGetSelectedClusters");
  core::CheckSideIndex(side);
  core::DiskRec& d = Disk[side];
  if (d.SectorsPerCluster < 10) d.SectorsPerCluster = Disk[core::OtherSide(side)].SectorsPerCluster;
  const double clusterBytes = double(d.SectorsPerCluster) * 512.0;
  if (clusterBytes <= 0) return 0;
  int64_t total = 0;
  QueueLine line;
  for (size_t i = 0; i < List3.ListCount(); ++i) {
    if (!ParseQueueLine(List3.List(i), line) || line.Kind != 'F') continue;
    if (!ItemChecked(items, line.Item)) continue;
    if (line.Entry >= d.FileCount || size_t(line.Entry) >= d.Files.size()) continue;
    const double size = d.Files[size_t(line.Entry)].Size;
    if (size > 0) total += int64_t(std::ceil(size / clusterBytes));
  }
  return total;
}

}  // namespace transfer
