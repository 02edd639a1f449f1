// The chain matcher.
#include "tools/chain_match.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "core/cluster_io.h"
#include "core/disk_model.h"
#include "core/error_handler.h"
#include "core/pc_helpers.h"
#include "tools/found_clusters.h"
#include "transfer/job_state.h"
#include "ui/ui.h"

namespace tools {

namespace {

constexpr double kThreeSeconds = 3.0 / 86400.0;
constexpr double kMinStep = 2000;      // about 22 ms
constexpr double kMaxStep = 216000;    // 2.4 s

// Leaves out every hit whose cluster is no FAT index of side 0 that may hold
// data (1 .. LastCluster, its cluster wholly on the device: a search list
// read from a file may name any index), and every later hit of a cluster
// already taken.
// Hits on used clusters take part: the rebuild protects what a listed entry
// reaches and may relink clusters of lost chains.
void ExcludeUnusable() {
  const int32_t last = std::min(core::LastDataIndex(0), core::LastFatIndex(0));
  std::vector<bool> taken(size_t(std::max(last, 0)) + 1, false);
  for (int32_t i = 0; i < FoundCount; ++i) {
    FoundCluster& r = FoundClusters[size_t(i)];
    const int32_t c = r.Cluster;
    const bool usable = c >= 1 && c <= last && !taken[size_t(c)];
    if (usable) {
      taken[size_t(c)] = true;
      r.Excluded = false;
    } else {
      r.Excluded = true;
      r.Used = true;
    }
  }
}

}  // namespace

bool PtsContinues(double d) {
  if (!(d > kMinStep && d < kMaxStep)) return false;
  if (d >= 7199 && d <= 7201) return true;
  if (d >= 10799 && d <= 10801) return true;
  if (std::fmod(d, 7200.0) == 0) return true;
  if (std::fmod(d, 10800.0) == 0) return true;
  return false;
}

void MatchLoadedTable(bool writeList) {
  core::ProcScope scope("MatchLoadedTable");
  for (int32_t i = 0; i < FoundCount; ++i) {
    FoundCluster& r = FoundClusters[size_t(i)];
    r.Used = false;
    r.NextRec = -1;
    r.PrevRec = -1;
  }
  ExcludeUnusable();

  std::string content;
  bool first = true;
  double lastEvents = transfer::JobNow();
  // Hits never become unused again, so the lowest unused index only grows.
  int32_t k = 0;
  for (;;) {
    while (k < FoundCount && FoundClusters[size_t(k)].Used) ++k;
    ShowProgress(PercentOf(k, FoundCount));
    const double now = transfer::JobNow();
    if (now - lastEvents > kThreeSeconds) {
      ui::Current().DoEvents();
      lastEvents = now;
    }
    if (k >= FoundCount) break;

    if (!first) content += std::string(100, '-') + "\r\n";
    first = false;
    content += FoundClusters[size_t(k)].Text + "\r\n";
    FoundClusters[size_t(k)].Used = true;
    int32_t e = k;
    // Each link is searched forward from the current end; the step limit
    // ends the search, and every index is examined at most once per chain.
    int32_t j = e + 1;
    while (j < FoundCount) {
      FoundCluster& end = FoundClusters[size_t(e)];
      FoundCluster& cand = FoundClusters[size_t(j)];
      const double d = cand.FirstPts - end.LastPts;
      if (d >= kMaxStep) break;
      if (!cand.Used && cand.Pid == end.Pid && PtsContinues(d)) {
        content += cand.Text + "\r\n";
        cand.Used = true;
        cand.PrevRec = e;
        end.NextRec = j;
        e = j;
      }
      ++j;
    }
  }
  if (writeList) {
    const std::string path = MatchListFile();
    TRY_STATEMENT(core::SavePcFile(path, content));
  }
}

bool Matcher() {
  core::ProcScope scope("Matcher");
  if (!LoadScanner()) return false;
  if (FoundCount == 0) return true;
  ShowStatus("Matching");
  ui::Current().DoEvents();
  MatchLoadedTable(true);
  ShowProgress(0);
  ShowStatus("Ready");
  return true;
}

}  // namespace tools
