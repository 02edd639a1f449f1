// Rebuilding matched chains into pending recovered files of side 0.
#include "tools/rebuild.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include <QString>

#include "core/cluster_io.h"
#include "core/disk_model.h"
#include "core/error_handler.h"
#include "mainwindow/form1.h"
#include "tools/defrag_window.h"
#include "tools/found_clusters.h"
#include "transfer/job_state.h"

namespace tools {

namespace {

// The recording header's bytes that the label may be taken from.
constexpr size_t kHeaderBytes = 1656;
// A recorder name keeps at most 94 characters; "Recovered_0001_" and ".rec"
// take 19 of them.
constexpr size_t kMaxLabelBytes = 94 - 19;

// Bytes from `offset` up to the first zero (within the header), keeping
// only 32..127 and 160..255; "\" would split the path and is dropped too.
std::string HeaderText(const uint8_t* header, size_t length, size_t offset) {
  std::string out;
  const size_t end = std::min(length, kHeaderBytes);
  for (size_t i = offset; i < end && header[i] != 0; ++i) {
    const uint8_t b = header[i];
    if (b == '\\') continue;
    if ((b >= 32 && b <= 127) || b >= 160) out += char(b);
  }
  const size_t first = out.find_first_not_of(' ');
  if (first == std::string::npos) return std::string();
  const size_t last = out.find_last_not_of(' ');
  return out.substr(first, last - first + 1);
}

bool SameNameIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = char(x + 32);
    if (y >= 'A' && y <= 'Z') y = char(y + 32);
    if (x != y) return false;
  }
  return true;
}

bool NameTaken(const std::string& name) {
  const core::DiskRec& d = core::Disk[0];
  const int32_t count = std::min<int32_t>(d.FileCount, int32_t(d.Files.size()));
  for (int32_t i = 0; i < count; ++i)
    if (SameNameIgnoringCase(d.Files[size_t(i)].Name, name)) return true;
  return false;
}

// First entry of side 0's list whose StartCluster is `start`, -1 when none.
int32_t EntryStartingAt(int32_t start) {
  const core::DiskRec& d = core::Disk[0];
  const int32_t count = std::min<int32_t>(d.FileCount, int32_t(d.Files.size()));
  for (int32_t i = 0; i < count; ++i) {
    const core::FileRec& f = d.Files[size_t(i)];
    if (f.StartCluster == start && f.Name != core::kErasedName) return i;
  }
  return -1;
}

struct Chain {
  int32_t FirstRec = -1;            // table index of the chain's first hit
  std::vector<int32_t> Clusters;    // FAT indexes in playing order
  int32_t Extends = -1;             // the file whose chain it continues, -1 none
  int32_t ExtendsFrom = 0;          // that file's last cluster
};

}  // namespace

std::string RecoveredName(int32_t n, const std::string& label, bool disasterMode) {
  char number[16];
  std::snprintf(number, sizeof number, "%04d", n);
  std::string name = disasterMode ? "\\" : "\\DataFiles\\";
  name += "Recovered_";
  name += number;
  if (!label.empty()) name += "_" + label;
  name += ".rec";
  return name;
}

std::string HeaderLabel(const uint8_t* header, size_t length) {
  const std::string service = HeaderText(header, length, 28);
  const std::string event = HeaderText(header, length, 87);
  std::string label = service;
  if (!service.empty() && !event.empty()) label += "_";
  label += event;
  if (label.size() > kMaxLabelBytes) {
    label.resize(kMaxLabelBytes);
    const size_t last = label.find_last_not_of(' ');
    label.resize(last == std::string::npos ? 0 : last + 1);
  }
  return label;
}

int32_t UpdateStructure(int32_t* grown) {
  core::ProcScope scope("UpdateStructure");
  core::DiskRec& d = core::Disk[0];
  const bool disaster = (core::Flags & core::FlagDisasterMode) != 0;
  const int32_t last = core::LastFatIndex(0);
  const int32_t bound = std::max(last, 0) + 1;
  const int32_t fileCount = std::min<int32_t>(d.FileCount, int32_t(d.Files.size()));

  // What a listed entry reaches is protected: its owner, walked from every
  // entry's start (the start itself even when the FAT calls it free).
  std::vector<int32_t> owner(size_t(bound), -1);
  for (int32_t i = 0; i < fileCount; ++i) {
    const core::FileRec& f = d.Files[size_t(i)];
    if (f.Name == core::kErasedName) continue;
    int32_t c = f.StartCluster;
    for (int32_t steps = 0; steps < bound && c >= 1 && c <= last && owner[size_t(c)] == -1;
         ++steps) {
      owner[size_t(c)] = i;
      c = d.FAT[size_t(c)].Next;
    }
  }
  // What may be linked: FAT indexes 1 .. LastCluster that no entry reaches,
  // free ones and those of lost chains, each once.
  std::vector<bool> usable(size_t(bound), false);
  for (int32_t c = 1; c <= last; ++c) usable[size_t(c)] = owner[size_t(c)] == -1;
  std::vector<bool> extended(size_t(std::max(fileCount, 0)), false);

  // 1. The chains, from each chain start in table order along NextRec. A
  // cluster that may not be linked splits its chain; a part that follows
  // the last cluster of a file's chain continues that file.
  std::vector<Chain> chains;
  std::vector<bool> visited(size_t(FoundCount), false);
  for (int32_t r = 0; r < FoundCount; ++r) {
    const FoundCluster& start = FoundClusters[size_t(r)];
    if (start.PrevRec != -1 || start.Excluded || visited[size_t(r)]) continue;
    Chain current;
    int32_t extend = -1;   // the file whose last cluster came just before
    int32_t extendFrom = 0;
    for (int32_t x = r; x >= 0 && x < FoundCount && !visited[size_t(x)];
         x = FoundClusters[size_t(x)].NextRec) {
      visited[size_t(x)] = true;
      const FoundCluster& hit = FoundClusters[size_t(x)];
      const int32_t c = hit.Cluster;
      const bool inRange = !hit.Excluded && c >= 1 && c <= last;
      if (inRange && usable[size_t(c)]) {
        usable[size_t(c)] = false;
        if (current.Clusters.empty()) {
          current.FirstRec = x;
          current.Extends = extend;
          current.ExtendsFrom = extendFrom;
          if (extend >= 0) extended[size_t(extend)] = true;
        }
        current.Clusters.push_back(c);
        extend = -1;
        continue;
      }
      if (!current.Clusters.empty()) {
        chains.push_back(std::move(current));
        current = Chain{};
      }
      extend = -1;
      // The last cluster an entry reaches: an end mark, or a free link of a
      // chain that broke there.
      if (inRange && owner[size_t(c)] >= 0 && d.FAT[size_t(c)].Next <= 0) {
        const int32_t o = owner[size_t(c)];
        if (!d.Files[size_t(o)].IsDir && !extended[size_t(o)]) {
          extend = o;
          extendFrom = c;
        }
      }
    }
    if (!current.Clusters.empty()) chains.push_back(std::move(current));
  }

  // 2. Links in the in-memory FAT. A lost chain that gives clusters to a
  // found chain is cut before them, so no two chains share a cluster.
  std::vector<bool> taken(size_t(bound), false);
  for (const Chain& chain : chains)
    for (int32_t c : chain.Clusters) taken[size_t(c)] = true;
  for (int32_t c = 1; c <= last; ++c) {
    core::FatLink& link = d.FAT[size_t(c)];
    if (taken[size_t(c)]) {
      if (link.Next >= 1 && link.Next <= last && !taken[size_t(link.Next)])
        d.FAT[size_t(link.Next)].Prev = 0;
    } else if (link.Next >= 1 && link.Next <= last && taken[size_t(link.Next)]) {
      link.Next = -1;
    }
  }
  for (const Chain& chain : chains) {
    const auto& cl = chain.Clusters;
    d.FAT[size_t(cl[0])].Prev = 0;
    if (chain.Extends >= 0) {
      const int32_t end = chain.ExtendsFrom;
      d.FAT[size_t(end)].Next = cl[0];
      d.FAT[size_t(cl[0])].Prev = end;
    }
    for (size_t i = 0; i < cl.size(); ++i) {
      if (i + 1 < cl.size()) {
        d.FAT[size_t(cl[i])].Next = cl[i + 1];
        d.FAT[size_t(cl[i + 1])].Prev = cl[i];
      } else {
        d.FAT[size_t(cl[i])].Next = -1;
      }
    }
  }

  // 3. Files.
  int32_t created = 0;
  int32_t grownFiles = 0;
  int32_t n = 0;
  for (const Chain& chain : chains) {
    const FoundCluster& firstHit = FoundClusters[size_t(chain.FirstRec)];
    const int32_t head =
        chain.Extends >= 0 ? d.Files[size_t(chain.Extends)].StartCluster : chain.Clusters[0];
    // Clusters from the head to the end mark, bounded.
    int32_t count = 0;
    for (int32_t c = head; c >= 1 && c <= last && count < bound; c = d.FAT[size_t(c)].Next) {
      ++count;
      if (d.FAT[size_t(c)].Next == -1) break;
    }
    const double size = double(count) * d.SectorsPerCluster * 512.0;

    const int32_t existing = chain.Extends >= 0 ? chain.Extends : EntryStartingAt(head);
    if (existing < 0) {
      core::CheckArraySize(0);
      core::FileRec e;
      e.IsDir = false;
      e.EntryType = 0xD1;
      e.CryptValid = false;
      e.CryptFlags = 0;
      e.StartCluster = head;
      e.ClusterCount = count;
      e.Size = size;
      e.ServiceType = 0;
      e.RecDate = transfer::JobNow();
      e.Duration = 0;
      e.Recovered = true;
      e.HasRecHeader = firstHit.HasTFrc;
      e.DirCluster = -1;
      e.Slot = -1;
      e.VideoPid = firstHit.Pid;
      std::string label;
      if (firstHit.HasTFrc && core::ReadTopfCluster(0, head + 1)) {
        e.ServiceType = core::ClusterBuffer.size() > 13 ? core::ClusterBuffer[13] : 0;
        e.Duration = core::GetTopfWord(8);
        label = HeaderLabel(core::ClusterBuffer.data(), core::ClusterBuffer.size());
      }
      // The number counts this run's entries from 1; a name the disk holds
      // already is passed over, so no folder gets two entries of one name.
      std::string name;
      do {
        ++n;
        name = RecoveredName(n, label, disaster);
      } while (NameTaken(name) && n < 9999);
      e.Name = name;
      d.Files[size_t(d.FileCount)] = std::move(e);
      d.FileCount += 1;
      ++created;
    } else {
      // The found chain continues the file: it grows (Write Recovered then
      // writes its new size into its directory entry).
      core::FileRec& e = d.Files[size_t(existing)];
      if (count > e.ClusterCount) {
        e.Duration = 0;
        e.Recovered = true;
        e.VideoPid = firstHit.Pid;
        e.Size = size;
        e.ClusterCount = count;
        ++grownFiles;
      }
    }
  }
  ResetOwnerCache();
  if (grown) *grown = grownFiles;

  if (mainwindow::Form1* form = mainwindow::MainForm()) {
    form->SetPathLabel(0, disaster ? QStringLiteral("\\") : QStringLiteral("\\DataFiles\\"));
    form->ShowFileList(0);
    if (!DefragWindow()) form->EnableMenus();
  }
  return created;
}

}  // namespace tools
