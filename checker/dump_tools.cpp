#include "checker/dump_tools.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <vector>

#include "checker/checker_state.h"
#include "checker/disk_layer.h"
#include "checker/startup.h"
#include "core/disk_format.h"
#include "core/dump_files.h"
#include "core/error_handler.h"
#include "core/pc_helpers.h"
#include "core/settings.h"
#include "core/work_list.h"
#include "platform/platform.h"
#include "ui/ui.h"

namespace checker {

namespace {

// A PC file read from its start, through one open (core::DumpFile: nothing
// but a regular file, never waiting); closed with the object.
class InFile {
 public:
  explicit InFile(const std::string& path) : file_(path) {}
  bool Open() const { return file_.IsOpen(); }
  // Reads up to length bytes; the count read.
  size_t Read(void* buffer, size_t length) {
    const size_t done = file_.ReadSome(position_, buffer, length);
    position_ += int64_t(done);
    return done;
  }
  bool Seek(int64_t offset) {
    if (!Open() || offset < 0) return false;
    position_ = offset;
    return true;
  }

 private:
  core::DumpFile file_;
  int64_t position_ = 0;
};

// A PC file written anew: into a new file beside the name, which replaces
// the name only once it is complete (Commit); dropped otherwise. Nothing
// at the name (a link, a pipe, a device) is written through.
class OutFile {
 public:
  explicit OutFile(const std::string& path) : path_(path) {
    if (!platform::PcFileReplaceBegin(path, file_)) core::RaisePcFileError(path);
  }
  ~OutFile() {
    if (file_.Handle >= 0) platform::PcFileReplaceAbort(file_);
  }
  OutFile(const OutFile&) = delete;
  OutFile& operator=(const OutFile&) = delete;
  void Write(const void* buffer, size_t length) {
    if (!platform::PcFileReplaceWrite(file_, buffer, length)) core::RaisePcFileError(path_);
  }
  void Commit() {
    if (!platform::PcFileReplaceCommit(file_)) core::RaisePcFileError(path_);
  }
  // Both files take their names, or both names keep what they held.
  void CommitWith(OutFile& other) {
    if (!platform::PcFileReplaceCommitPair(file_, other.file_)) core::RaisePcFileError(path_);
  }

 private:
  std::string path_;
  platform::PcFileReplacement file_;
};

// Opened for reading; a missing file is run-time error 53 for the handler.
void RequireOpen(const InFile& file, const std::string& path) {
  if (!file.Open()) core::RaisePcFileError(path);
}

// Replaces the file at path with exactly these bytes.
void WriteClusterFile(const std::string& path, const uint8_t* data, size_t length) {
  core::SavePcFile(path, data, length);
}

int32_t RecordNumber(const uint8_t* head) { return int32_t(core::GetLE32(head)); }

size_t ClusterSize() { return size_t(SectorsPerCluster > 0 ? SectorsPerCluster : 0) * core::kSectorSize; }

bool SameFile(const std::string& a, const std::string& b) {
  std::error_code error;
  const auto ca = std::filesystem::weakly_canonical(a, error);
  if (error) return false;
  const auto cb = std::filesystem::weakly_canonical(b, error);
  if (error) return false;
  return ca == cb;
}

// Six ASCII digits.
bool SixDigits(const std::string& text) {
  if (text.size() != 6) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  return true;
}

bool EqualsNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = char(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = char(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

// What a saved dump lacks: the directory clusters that could not be read
// (sorted, each once, into `names`: the list below the text), and a walk
// that stopped after `stoppedAfter` lines (0: it did not).
std::string IncompleteDumpText(std::vector<int32_t> unreadable, int64_t stoppedAfter,
                               std::vector<std::string>& names) {
  std::sort(unreadable.begin(), unreadable.end());
  unreadable.erase(std::unique(unreadable.begin(), unreadable.end()), unreadable.end());
  std::string text;
  names.clear();
  for (const int32_t c : unreadable) names.push_back(std::to_string(c));
  if (!unreadable.empty())
    text = "These clusters could not be read and are missing from the dump:";
  if (stoppedAfter > 0)
    text = "The folder walk stopped after " + std::to_string(stoppedAfter) +
           " folders, as many as the disk has clusters; the dump may lack folders." +
           (text.empty() ? "" : " " + text);
  return text;
}

}  // namespace

std::string DumpFolder() {
  if (!FileMode) return "";
  std::string folder, name, extension;
  core::SeparatePathComponents(DiskName, folder, name, extension, core::kPcSeparator);
  return folder;
}

void SeparateSCD() {
  core::ProcScope scope("SeparateSCD");
  const std::string path = core::ScdFileOf(DiskName);
  InFile dump(path);
  RequireOpen(dump, path);
  const std::string folder = DumpFolder();
  std::vector<uint8_t> data(ClusterSize());
  for (;;) {
    uint8_t head[core::kDumpRecordHead];
    if (dump.Read(head, sizeof head) != sizeof head) break;
    if (dump.Read(data.data(), data.size()) != data.size()) break;   // a record cut short
    const std::string name = folder + ClusterFileStem(RecordNumber(head)) + ".bin";
    core::Guard([&] { WriteClusterFile(name, data.data(), data.size()); });
  }
}

void CombineSCD() {
  core::ProcScope scope("CombineSCD");
  const std::string folder = DumpFolder();
  core::WorkList& list = List1();
  list.Clear();
  std::vector<platform::FolderEntry> entries;
  platform::ListFolder(folder.empty() ? "." : folder, entries);
  for (const auto& e : entries) {
    if (!e.IsRegular || e.Name.size() != 18) continue;
    if (!EqualsNoCase(e.Name.substr(0, 8), "Cluster_") || !EqualsNoCase(e.Name.substr(14), ".bin"))
      continue;
    // Only six digits name a cluster: "Cluster_-000001.bin" (the system
    // cluster) and names with other characters never go into the dump.
    if (!SixDigits(e.Name.substr(8, 6))) continue;
    list.AddItem(e.Name);
  }
  if (list.Empty()) return;

  const int64_t recordBytes = platform::FileLength(folder + list.List(0));
  if (recordBytes <= 0) return;
  // The new dump is written beside the old one and replaces it only when
  // it is complete.
  const std::string target = core::ScdFileOf(DiskName);
  core::Guard([&] {
    OutFile out(target);
    std::vector<uint8_t> data(static_cast<size_t>(recordBytes));
    for (size_t i = 0; i < list.ListCount(); ++i) {
      const std::string name = list.List(i);
      if (platform::FileLength(folder + name) != recordBytes) continue;   // not one cluster
      InFile in(folder + name);
      RequireOpen(in, folder + name);
      if (in.Read(data.data(), data.size()) != data.size()) core::RaiseSystemError(EIO, folder + name);
      uint8_t head[core::kDumpRecordHead];
      core::PutLE32(head, uint32_t(std::stol(name.substr(8, 6))));
      out.Write(head, sizeof head);
      out.Write(data.data(), data.size());
    }
    out.Commit();
  });
  list.Clear();
}

void CompareSCD(const std::string& secondPath) {
  core::ProcScope scope("CompareSCD");
  const std::string second = DumpBasePath(secondPath);
  const std::string folder = DumpFolder();
  const size_t clusterBytes = ClusterSize();

  // System clusters.
  {
    std::vector<uint8_t> mine(clusterBytes, 0), theirs(clusterBytes, 0);
    InFile a(core::SccFileOf(DiskName));
    RequireOpen(a, core::SccFileOf(DiskName));
    const size_t got = a.Read(mine.data(), mine.size());
    InFile b(core::SccFileOf(second));   // a missing file reads as empty
    const size_t gotSecond = b.Read(theirs.data(), theirs.size());
    if (got != gotSecond || mine != theirs)
      core::Guard([&] { WriteClusterFile(folder + ClusterFileStem(-1) + ".bin", mine.data(), got); });
  }

  // The second dump's records by number (the first record of a number
  // counts, as a search from the start would find it).
  std::map<int32_t, int64_t> index;
  {
    InFile b(core::ScdFileOf(second));
    int64_t position = 0;
    uint8_t head[core::kDumpRecordHead];
    while (b.Open() && b.Seek(position) && b.Read(head, sizeof head) == sizeof head) {
      index.emplace(RecordNumber(head), position + core::kDumpRecordHead);
      position += core::kDumpRecordHead + int64_t(clusterBytes);
    }
  }

  InFile a(core::ScdFileOf(DiskName));
  RequireOpen(a, core::ScdFileOf(DiskName));
  InFile b(core::ScdFileOf(second));
  std::vector<uint8_t> mine(clusterBytes), theirs(clusterBytes);
  for (;;) {
    uint8_t head[core::kDumpRecordHead];
    if (a.Read(head, sizeof head) != sizeof head) break;
    if (a.Read(mine.data(), mine.size()) != mine.size()) break;
    const int32_t n = RecordNumber(head);
    bool unchanged = false;
    auto found = index.find(n);
    if (found != index.end() && b.Seek(found->second))
      unchanged = b.Read(theirs.data(), theirs.size()) == theirs.size() && theirs == mine;
    if (!unchanged)
      core::Guard([&] { WriteClusterFile(folder + ClusterFileStem(n) + ".bin", mine.data(), mine.size()); });
  }
}

void SaveTopfSystemClusters(const std::string& path) {
  core::ProcScope scope("SaveTopfSystemClusters");
  BusyPointer busy;
  const int32_t savedSpc = SectorsPerCluster;
  const std::string base = DumpBasePath(path);
  const std::string scc = core::SccFileOf(base), scd = core::ScdFileOf(base);
  const bool replacesOwnDump = FileMode && (SameFile(scd, core::ScdFileOf(DiskName)) || SameFile(scc, core::SccFileOf(DiskName)));

  double cylinders = 0;
  int32_t tracks = 0, sectors = 0, bytes = 0;
  DiskGeometry(DiskHandle, cylinders, tracks, sectors, bytes);
  if (FileMode && DumpCylinders > 0) {
    // A dump keeps the geometry of the disk it came from.
    cylinders = DumpCylinders;
    tracks = DumpTracksPerCylinder;
    sectors = DumpSectorsPerTrack;
  }
  if (!ReadTopfCluster(0)) {
    // Zeros in its place would be taken for the disk's system cluster.
    if (savedSpc != 0) SectorsPerCluster = savedSpc;
    ui::Current().MsgBox("Saving system clusters failed because the system cluster could not be read.",
                         ui::Buttons::OK, ui::Icon::Exclamation);
    return;
  }

  // Like every walk over the disk, this one ends after as many lines as the
  // disk has clusters: a damaged tree that names folders many times over
  // (without a cycle) cannot make it write records until the PC's disk is
  // full. A directory reachable by two entries is still saved twice.
  const int64_t mostLines = int64_t(core::LastTableIndex(LastCluster)) + 1;
  int64_t lines = 0;
  bool stopped = false;
  std::vector<int32_t> unreadable;
  bool done = core::Guard([&] {
    // Both files replace their names only once both are complete.
    OutFile sccOut(scc);
    sccOut.Write(ClusterBuffer.data(), ClusterBuffer.size());
    uint8_t trailer[core::kDumpTrailerBytes];
    core::PutDumpTrailer(trailer, {cylinders, tracks, sectors});
    sccOut.Write(trailer, sizeof trailer);
    OutFile out(scd);
    core::WorkList& list = List1();
    list.Clear();
    // The directories above each pending line: a directory entry that leads
    // back to one of them (a cycle) is not walked again.
    std::multimap<std::string, std::vector<int32_t>> ancestors;
    auto add = [&](const std::string& line, std::vector<int32_t> above) {
      if (lines >= mostLines) {
        stopped = true;
        return;
      }
      ++lines;
      list.AddItem(line);
      ancestors.emplace(line, std::move(above));
    };
    add("0 \\", {});
    while (!list.Empty()) {
      const std::string line = list.TakeFirst();
      std::vector<int32_t> above;
      auto it = ancestors.find(line);
      if (it != ancestors.end()) {
        above = std::move(it->second);
        ancestors.erase(it);
      }
      const size_t blank = line.find(' ');
      const int64_t c = int64_t(core::NumericValue(line.substr(0, blank)));
      const std::string p = blank == std::string::npos ? std::string() : line.substr(blank + 1);
      if (c < 0 || c >= core::kMaxFatIndex) continue;   // no directory cluster
      if (!ReadTopfCluster(int32_t(c + 1))) {
        unreadable.push_back(int32_t(c));   // left out of the dump, and named
        continue;
      }
      if (c >= 0) {
        uint8_t head[core::kDumpRecordHead];
        core::PutLE32(head, uint32_t(c));
        out.Write(head, sizeof head);
        out.Write(ClusterBuffer.data(), ClusterBuffer.size());
      }
      above.push_back(int32_t(c));
      for (size_t slot = 0; slot + core::kDirEntrySize <= ClusterBuffer.size(); slot += core::kDirEntrySize) {
        const uint8_t* e = ClusterBuffer.data() + slot;
        if (e[core::kDeAttribute] != core::AttrDirectory && e[core::kDeAttribute] != core::AttrRecycle) continue;
        const std::string name = core::ReadEntryNameRaw(e);
        const int32_t s = int32_t(core::GetBE32(e + core::kDeStartCluster));
        bool cycle = false;
        for (int32_t a : above) cycle = cycle || a == s;
        if (cycle) continue;
        add(std::to_string(s) + " " + p + name + "\\", above);
      }
    }
    list.Clear();
    sccOut.CommitWith(out);
  });
  if (savedSpc != 0) SectorsPerCluster = savedSpc;
  if (replacesOwnDump) IndexDumpRecords();
  if (done && (stopped || !unreadable.empty())) {
    std::vector<std::string> names;
    const std::string text = IncompleteDumpText(unreadable, stopped ? mostLines : 0, names);
    ui::Current().MsgBoxList(text, names, ui::Buttons::OK, ui::Icon::Exclamation);
  }
}

int32_t ClusterNumberFromText(const std::string& text) {
  double value = std::nearbyint(core::NumericValue(text));
  if (!std::isfinite(value)) value = 0;
  if (value < -2147483647.0) value = -2147483647.0;
  if (value > 2147483646.0) value = 2147483646.0;
  return int32_t(value);
}

void ReadClusterToFile(int32_t fatIndex) {
  core::ProcScope scope("Menu_Expert_ReadCluster_Click");
  // What could not be read is never saved as the cluster: written back,
  // the zeros would wipe it.
  if (fatIndex == INT32_MAX || !ReadTopfCluster(fatIndex + 1)) {
    ui::Current().MsgBox("Cluster " + std::to_string(fatIndex) + " could not be read. No file has been written.",
                         ui::Buttons::OK, ui::Icon::Exclamation);
    return;
  }
  const std::string name = ClusterFileStem(fatIndex) + ".bin";
  core::Guard([&] { WriteClusterFile(name, ClusterBuffer.data(), ClusterBuffer.size()); });
}

bool WriteClusterFromFile(int32_t fatIndex, const std::string& file) {
  core::ProcScope scope("Menu_Expert_WriteCluster_Click");
  const size_t clusterBytes = ClusterSize();
  std::vector<uint8_t> data(clusterBytes);
  InFile in(file);
  RequireOpen(in, file);
  if (clusterBytes == 0 || in.Read(data.data(), data.size()) != data.size()) {
    // Whatever the buffer held before would fill the rest of the cluster.
    ui::Current().MsgBox("The file is smaller than one cluster! Nothing has been written.",
                         ui::Buttons::OK, ui::Icon::Exclamation);
    return false;
  }
  // Asked before the cluster buffer changes: a disk that is no recorder's is
  // written only when the user says so.
  if (!MayWriteDisk()) {
    Addinfo(kError, NotRecorderDiskText());
    return false;
  }
  ClusterBuffer = std::move(data);
  MarkClusterBufferLoaded();
  return WriteTopfCluster(fatIndex + 1, true);
}

}  // namespace checker
