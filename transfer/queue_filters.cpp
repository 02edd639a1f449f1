#include "transfer/queue_filters.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>

#include "core/create_file.h"
#include "core/disk_format.h"
#include "core/disk_model.h"
#include "core/error_handler.h"
#include "core/pc_helpers.h"
#include "core/side_file.h"
#include "platform/platform.h"
#include "transfer/file_create.h"
#include "transfer/names.h"
#include "ui/ui.h"

namespace transfer {

namespace {

using core::Disk;

void Mark(std::vector<int32_t>& list, int32_t& count, size_t line) {
  if (count < 0) count = 0;
  if (list.size() <= size_t(count)) list.resize(size_t(count) + 1);
  list[size_t(count)] = int32_t(line);
  ++count;
}

// The queue's file lines with a valid entry: position, parsed line.
template <class Visit>
void ForEachFileLine(int side, Visit&& visit) {
  const core::DiskRec& d = Disk[side];
  QueueLine line;
  for (size_t i = 0; i < List3.ListCount(); ++i) {
    if (!ParseQueueLine(List3.List(i), line) || line.Kind != 'F') continue;
    if (line.Entry >= d.FileCount || size_t(line.Entry) >= d.Files.size()) continue;
    visit(i, line, d.Files[size_t(line.Entry)]);
  }
}

void OverFolderMessage(const std::string& source, const std::string& target) {
  ui::Current().MsgBox("You're trying to write the file\r\n\r\n" + source +
                           "\r\n\r\nover the directory\r\n\r\n" + target +
                           "\r\n\r\nPlease rename one of the two objects first!",
                       ui::Buttons::OK, ui::Icon::Exclamation);
}

std::string ShownPath(int side, const std::string& name) {
  return core::IsPCSide(side) ? name : Shown(name);
}

}  // namespace

void FSDeselectDestExists(int side, const std::string& sourceFolder,
                          const std::string& targetFolder, std::vector<int32_t>& DeselectList,
                          int32_t& DeselectCount) {
  core::ProcScope scope("FSDeselectDestExists");
  core::CheckSideIndex(side);
  const int target = core::OtherSide(side);
  ForEachFileLine(side, [&](size_t i, const QueueLine& line, const core::FileRec& rec) {
    const std::string path = FSTargetPath(side, line.Entry, sourceFolder, targetFolder);
    if (core::IsPCSide(target)) {
      const std::string full = PcCreateName(path);
      struct stat st {};
      if (full.empty() || lstat(full.c_str(), &st) != 0) return;
      if (S_ISDIR(st.st_mode)) OverFolderMessage(ShownPath(side, rec.Name), full);
      Mark(DeselectList, DeselectCount, i);
      return;
    }
    // A recorder target: the name CreateTopfFile would replace (case
    // ignored, formed as an entry holds it).
    const std::string key = core::LowerCaseName(core::EntryPath(path));
    const core::DiskRec& t = Disk[target];
    for (int32_t j = 0; j < t.FileCount; ++j) {
      const core::FileRec& r = t.Files[size_t(j)];
      if (r.Name == core::kErasedName || r.Recovered) continue;
      if (core::LowerCaseName(r.Name) != key) continue;
      if (r.IsDir) OverFolderMessage(ShownPath(side, rec.Name), Shown(r.Name));
      Mark(DeselectList, DeselectCount, i);
      break;
    }
  });
}

void FSDeselectSourceToNonNTFS(int side, const PaneItems& items, const std::string& targetFolder,
                               std::vector<int32_t>& DeselectList, int32_t& DeselectCount) {
  core::ProcScope scope("FSDeselectSourceToNonNTFS");
  core::CheckSideIndex(side);
  const int target = core::OtherSide(side);
  if (!core::IsPCSide(target)) return;
  std::string label, fileSystem, serial;
  double total = 0, freeKiB = 0;
  if (!core::DriveInformation(targetFolder, label, fileSystem, serial, total, freeKiB)) return;
  if (!platform::IsFat4GBLimited(fileSystem)) return;
  DeselectOver4GB(side, items, DeselectList, DeselectCount);
}

void DeselectOver4GB(int side, const PaneItems& items, std::vector<int32_t>& DeselectList,
                     int32_t& DeselectCount) {
  core::CheckSideIndex(side);
  constexpr double kLimit = 4294967296.0;   // a FAT file holds at most 4 GiB - 1 byte
  ForEachFileLine(side, [&](size_t i, const QueueLine& line, const core::FileRec& rec) {
    if (ItemChecked(items, line.Item) && rec.Size >= kLimit) Mark(DeselectList, DeselectCount, i);
  });
}

void FSDeselectNoSpace(int side, const PaneItems& items, std::vector<int32_t>& DeselectList,
                       int32_t& DeselectCount) {
  core::ProcScope scope("FSDeselectNoSpace");
  core::CheckSideIndex(side);
  const int target = core::OtherSide(side);
  double free = core::FSGetFreeSpace(target);
  const bool recorder = !core::IsPCSide(target);
  const double clusterBytes = double(Disk[target].SectorsPerCluster) * core::kSectorSize;
  ForEachFileLine(side, [&](size_t i, const QueueLine& line, const core::FileRec& rec) {
    if (!ItemChecked(items, line.Item)) return;
    double need = rec.Size > 0 ? rec.Size : 0;
    if (recorder && clusterBytes > 0) need = std::ceil(need / clusterBytes) * clusterBytes;
    if (need <= free) {
      free -= need;
    } else {
      Mark(DeselectList, DeselectCount, i);
    }
  });
}

void FSRemoveDeselected(int side, std::vector<int32_t>& DeselectList, int32_t& DeselectCount) {
  core::ProcScope scope("FSRemoveDeselected");
  core::CheckSideIndex(side);
  if (DeselectCount < 1) {
    DeselectCount = 0;
    return;
  }
  const int32_t count = std::min<int32_t>(DeselectCount, int32_t(DeselectList.size()));
  for (int32_t k = count - 1; k >= 0; --k) {
    const int32_t position = DeselectList[size_t(k)];
    if (position >= 0 && size_t(position) < List3.ListCount()) List3.RemoveItem(size_t(position));
  }
  DeselectCount = 0;
}

}  // namespace transfer
