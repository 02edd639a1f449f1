// The found-cluster table, its (Pid, FirstPts) index and the search list.
#include "tools/found_clusters.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unordered_map>

#include "core/disk_format.h"
#include "core/disk_model.h"
#include "core/error_handler.h"
#include "core/number_format.h"
#include "core/pc_helpers.h"
#include "core/settings.h"
#include "platform/platform.h"
#include "transfer/job_state.h"
#include "ui/ui.h"

namespace tools {

std::vector<FoundCluster> FoundClusters;
int32_t FoundCount = 0;
std::vector<int32_t> FoundIndex;

namespace {

RecoveryDisplay g_display;

// Head of the chain of each FAT index (-2 not known yet) and the first file
// of side 0's list per start cluster; built on demand.
std::vector<int32_t> g_headOf;
std::unordered_map<int32_t, int32_t> g_fileByStart;
bool g_ownerCacheValid = false;

constexpr double kThreeSeconds = 3.0 / 86400.0;
// Time stamps are 33-bit values.
constexpr double kMaxPts = 8589934591.0;
// A search list can hold at most one line per record; anything much larger
// is not one of ours.
constexpr long long kMaxSearchListBytes = 400LL * kFoundCapacity;

void EnsureArrays() {
  if (FoundIndex.size() != size_t(kFoundCapacity)) FoundIndex.assign(size_t(kFoundCapacity), 0);
}

void BuildOwnerCache() {
  const core::DiskRec& d = core::Disk[0];
  g_headOf.assign(d.FAT.size(), -2);
  g_fileByStart.clear();
  const int32_t count = std::min<int32_t>(d.FileCount, int32_t(d.Files.size()));
  for (int32_t i = 0; i < count; ++i) {
    const core::FileRec& f = d.Files[size_t(i)];
    if (f.Name == core::kErasedName) continue;
    g_fileByStart.emplace(f.StartCluster, i);   // keeps the first in list order
  }
  g_ownerCacheValid = true;
}

// The chain head of FAT index c: Prev followed back to the first index whose
// Prev is below 1. Bounded by LastCluster + 1 steps; a damaged Prev link (a
// loop, an index outside the FAT) ends the walk where it is.
int32_t ChainHead(int32_t c) {
  const core::DiskRec& d = core::Disk[0];
  const int32_t size = int32_t(d.FAT.size());
  if (c < 0 || c >= size) return c;
  if (g_headOf[size_t(c)] != -2) return g_headOf[size_t(c)];
  const int32_t bound = std::max<int32_t>(d.LastCluster, 0) + 1;
  std::vector<int32_t> path;
  int32_t x = c;
  int32_t head = c;
  for (int32_t steps = 0;; ++steps) {
    if (g_headOf[size_t(x)] != -2) {
      head = g_headOf[size_t(x)];
      break;
    }
    path.push_back(x);
    const int32_t p = d.FAT[size_t(x)].Prev;
    if (p < 1 || p >= size || steps >= bound) {
      head = x;
      break;
    }
    x = p;
  }
  for (int32_t v : path) g_headOf[size_t(v)] = head;
  return head;
}

bool IsHex(char ch) {
  return (ch >= '0' && ch <= '9') || (ch >= 'A' && ch <= 'F') || (ch >= 'a' && ch <= 'f');
}
bool IsDigit(char ch) { return ch >= '0' && ch <= '9'; }

// Value of `count` hex digits at `pos`; false when one is not a hex digit.
bool HexField(const std::string& s, size_t pos, size_t count, double& value) {
  value = 0;
  for (size_t i = pos; i < pos + count; ++i) {
    const char ch = s[i];
    if (!IsHex(ch)) return false;
    const int digit = IsDigit(ch) ? ch - '0' : (ch | 0x20) - 'a' + 10;
    value = value * 16 + digit;
  }
  return true;
}
bool DecField(const std::string& s, size_t pos, size_t count, double& value) {
  value = 0;
  for (size_t i = pos; i < pos + count; ++i) {
    if (!IsDigit(s[i])) return false;
    value = value * 10 + (s[i] - '0');
  }
  return true;
}

std::string PtsText(double pts) {
  int32_t high = 0, low = 0;
  core::DividePTS(pts, high, low);
  return core::Hex32(high) + core::Hex16(low);
}

std::string SixDigits(int32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%06d", value);
  return text;
}

}  // namespace

std::string SearchStateFile() { return core::AppDir() + core::Disk[0].CrcId + "_Search.ini"; }
std::string SearchListFile() { return core::AppDir() + core::Disk[0].CrcId + "_Search.txt"; }
std::string MatchListFile() { return core::AppDir() + core::Disk[0].CrcId + "_Match.txt"; }

RecoveryDisplay SetRecoveryDisplay(RecoveryDisplay display) {
  RecoveryDisplay previous = std::move(g_display);
  g_display = std::move(display);
  return previous;
}
void ShowStatus(const std::string& text) {
  if (g_display.Status) g_display.Status(text);
}
void ShowProgress(int percent) {
  if (g_display.Progress) g_display.Progress(percent);
}
int PercentOf(double done, double total) {
  if (total <= 0) return 0;
  double p = done / total * 100.0;
  if (p < 0) p = 0;
  if (p > 100) p = 100;
  return int(p);
}

namespace {

// The progress bar and pending events of a long loop: the bar follows each
// whole percent, events are processed at most every three seconds.
class ProgressPacer {
 public:
  void Step(int32_t done, int32_t total) {
    const int percent = PercentOf(done, total);
    if (percent != shown_) {
      ShowProgress(percent);
      shown_ = percent;
    }
    const double now = transfer::JobNow();
    if (now - lastEvents_ > kThreeSeconds) {
      ui::Current().DoEvents();
      lastEvents_ = now;
    }
  }

 private:
  double lastEvents_ = transfer::JobNow();
  int shown_ = -1;
};

}  // namespace

void ResetOwnerCache() {
  g_ownerCacheValid = false;
  g_headOf.clear();
  g_fileByStart.clear();
}

void ClearFoundClusters() {
  FoundClusters.clear();
  FoundCount = 0;
  FoundIndex.assign(size_t(kFoundCapacity), 0);
}

std::string FoundText(const FoundCluster& hit) {
  std::string line;
  line.reserve(64);
  line += core::Hex16(hit.Pid);
  line += ' ';
  line += PtsText(hit.FirstPts);
  line += '-';
  line += PtsText(hit.LastPts);
  line += ' ';
  line += SixDigits(hit.Cluster);
  line += ' ';
  line += hit.HasTFrc ? 'T' : ' ';
  line += ' ';
  const core::DiskRec& d = core::Disk[0];
  const int32_t c = hit.Cluster;
  const int32_t next = (c >= 0 && size_t(c) < d.FAT.size()) ? d.FAT[size_t(c)].Next : 0;
  if (next == 0) {
    line += "------";
  } else {
    line += next == -1 ? std::string("EEEEEE") : SixDigits(next);
    if (!g_ownerCacheValid || g_headOf.size() != d.FAT.size()) BuildOwnerCache();
    const int32_t head = ChainHead(c);
    const auto it = g_fileByStart.find(head);
    if (it != g_fileByStart.end() && size_t(it->second) < d.Files.size())
      line += " " + d.Files[size_t(it->second)].Name;
  }
  return line;
}

void AddRecoveredCluster(FoundCluster& hit) {
  core::ProcScope scope("AddRecoveredCluster");
  EnsureArrays();
  const int32_t n = FoundCount;
  if (n > kFoundCapacity - 1) core::Raise(9, "Subscript out of range");
  hit.Text = FoundText(hit);
  if (FoundClusters.size() <= size_t(n)) FoundClusters.resize(size_t(n) + 1);
  FoundClusters[size_t(n)] = hit;

  // Place in the index: by Pid (signed), then FirstPts.
  auto below = [&](int32_t other) {
    const FoundCluster& o = FoundClusters[size_t(other)];
    return hit.Pid < o.Pid || (hit.Pid == o.Pid && hit.FirstPts < o.FirstPts);
  };
  auto above = [&](int32_t other) {
    const FoundCluster& o = FoundClusters[size_t(other)];
    return hit.Pid > o.Pid || (hit.Pid == o.Pid && hit.FirstPts > o.FirstPts);
  };
  int32_t p;
  if (FoundCount == 0) {
    p = 0;
  } else if (below(FoundIndex[0])) {
    p = 0;
  } else if (above(FoundIndex[size_t(FoundCount - 1)])) {
    p = FoundCount;
  } else {
    int32_t lo = 0, hi = FoundCount - 1;
    do {
      const int32_t mid = lo + (hi - lo) / 2;
      if (below(FoundIndex[size_t(mid)]))
        hi = mid;
      else
        lo = mid;
    } while (hi - lo >= 2);
    p = hi;
  }
  if (p < FoundCount)
    std::memmove(&FoundIndex[size_t(p) + 1], &FoundIndex[size_t(p)],
                 sizeof(int32_t) * size_t(FoundCount - p));
  FoundIndex[size_t(p)] = n;
  FoundCount = n + 1;
}

void SaveScanner() {
  core::ProcScope scope("SaveScanner");
  ShowStatus("Saving search results");
  ui::Current().DoEvents();
  const std::string path = SearchListFile();

  std::string content;
  content.reserve(size_t(FoundCount) * 64);
  ProgressPacer pacer;
  int32_t previous = 0;
  for (int32_t i = 0; i < FoundCount; ++i) {
    pacer.Step(i, FoundCount);
    const FoundCluster& r = FoundClusters[size_t(FoundIndex[size_t(i)])];
    if (r.Cluster != previous) {
      content += r.Text;
      content += "\r\n";
    }
    previous = r.Cluster;
  }

  TRY_STATEMENT(core::SavePcFile(path, content));
  ShowProgress(0);
  ShowStatus("Ready");
}

bool ParseFoundLine(const std::string& line, int32_t lastCluster, FoundCluster& hit) {
  if (line.size() <= 45) return false;
  if (line[4] != ' ' || line[17] != '-' || line[30] != ' ' || line[37] != ' ' ||
      (line[38] != 'T' && line[38] != ' ') || line[39] != ' ')
    return false;
  if (line.size() > 46 && line[46] != ' ') return false;
  const std::string fat = line.substr(40, 6);
  if (fat != "------" && fat != "EEEEEE") {
    double ignored;
    if (!DecField(line, 40, 6, ignored)) return false;
  }
  double pid, firstHigh, firstLow, lastHigh, lastLow, cluster;
  if (!HexField(line, 0, 4, pid) || !HexField(line, 5, 6, firstHigh) ||
      !HexField(line, 11, 6, firstLow) || !HexField(line, 18, 6, lastHigh) ||
      !HexField(line, 24, 6, lastLow) || !DecField(line, 31, 6, cluster))
    return false;
  const double first = firstHigh * 16777216.0 + firstLow;
  const double last = lastHigh * 16777216.0 + lastLow;
  // A video PID is a 13-bit value other than 0; time stamps have 33 bits.
  if (pid < 1 || pid > 0x1FFF || first > kMaxPts || last > kMaxPts) return false;
  if (cluster > lastCluster || cluster > core::kMaxFatIndex) return false;
  hit = FoundCluster{};
  hit.Cluster = int32_t(cluster);
  hit.Pid = int32_t(pid);
  hit.HasTFrc = line[38] == 'T';
  hit.FirstPts = first;
  hit.LastPts = last;
  hit.Used = false;
  hit.NextRec = -1;
  hit.PrevRec = -1;
  hit.Text = line;
  return true;
}

bool LoadScanner() {
  core::ProcScope scope("LoadScanner");
  ClearFoundClusters();
  ResetOwnerCache();
  ShowStatus("Loading search results");
  ui::Current().DoEvents();

  const std::string path = SearchListFile();
  std::string content;
  bool exists = false;
  bool tooLarge = false;
  TRY_STATEMENT({
    content.clear();
    exists = false;
    tooLarge = false;
    // Through the open that takes only a regular file and never waits.
    if (!platform::PcFileRead(path, content, kMaxSearchListBytes)) {
      if (platform::LastError() == ENOENT) return;
      exists = true;
      if (platform::LastError() == EFBIG) {
        tooLarge = true;
        return;
      }
      core::RaisePcFileError(path);
    }
    exists = true;
  });

  bool accepted = true;
  if (exists) {
    // The lines, without their line ends.
    std::vector<std::string> lines;
    size_t pos = 0;
    while (pos < content.size()) {
      size_t end = content.find('\n', pos);
      if (end == std::string::npos) end = content.size();
      std::string line = content.substr(pos, end - pos);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      lines.push_back(std::move(line));
      pos = end + 1;
    }
    const int32_t lastCluster = core::Disk[0].LastCluster;
    size_t badLine = 0;
    std::vector<FoundCluster> hits;
    hits.reserve(lines.size());
    for (size_t i = 0; i < lines.size() && !tooLarge; ++i) {
      if (lines[i].size() <= 45) continue;
      FoundCluster hit;
      if (!ParseFoundLine(lines[i], lastCluster, hit)) {
        badLine = i + 1;
        break;
      }
      hits.push_back(std::move(hit));
    }
    if (tooLarge || badLine != 0 || hits.size() > size_t(kFoundCapacity)) {
      accepted = false;
      std::string where = badLine != 0 ? " (line " + std::to_string(badLine) + ")" : "";
      ui::Current().MsgBox("The search list " + path +
                               " is damaged or does not belong to this disk" + where +
                               ". It is not used; delete it to start a new search.",
                           ui::Buttons::OK, ui::Icon::Exclamation);
    } else {
      ProgressPacer pacer;
      const int32_t count = int32_t(hits.size());
      for (int32_t i = 0; i < count; ++i) {
        pacer.Step(i, count);
        AddRecoveredCluster(hits[size_t(i)]);
      }
    }
  }
  ShowProgress(0);
  ShowStatus("Ready");
  return accepted;
}

}  // namespace tools
