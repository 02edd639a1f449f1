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

// A step of one frame distance (two or three frames of the stream's
// reference pictures): the next hit follows without a gap.
bool OneStep(double d) { return (d >= 7199 && d <= 7201) || (d >= 10799 && d <= 10801); }

// The video time a hit's cluster spans, 0 when unknown.
double Span(const FoundCluster& hit) {
  return hit.LastPts > hit.FirstPts ? hit.LastPts - hit.FirstPts : 0;
}

// A gap between two hits can be a cluster of the recording that was not
// found (overwritten, unreadable, outside the scan) only when it is about as
// long as a cluster of the stream holds; half the longer of the two clusters
// is taken as the least, leaving room for a changing bit rate. A shorter gap
// tells two recordings apart (a second timer of the same channel that
// started just after the first ended).
bool GapHoldsACluster(const FoundCluster& end, const FoundCluster& next, double d) {
  return 2 * d >= std::max(Span(end), Span(next));
}

// A possible link from the end of one hit to the start of a later one.
struct Link {
  bool Gap;        // across a gap (a whole multiple of the step)
  double Step;     // FirstPts of `to` - LastPts of `from`
  int32_t From;
  int32_t To;
  bool operator<(const Link& o) const {
    if (Gap != o.Gap) return !Gap;
    if (Step != o.Step) return Step < o.Step;
    if (From != o.From) return From < o.From;
    return To < o.To;
  }
};

// Links every hit to its continuation. The candidates of a hit are the later
// hits of its PID whose first time stamp continues its last one within the
// search window (the table is in time-stamp order per PID; the window's
// limit ends the search), across a gap only where a cluster fits in it. Of
// all candidates, those without a gap are linked before any across a gap,
// and of those the nearest in time first; a hit that has its successor, or
// its predecessor, takes no other. So a hit that continues one recording
// without a gap never becomes the continuation of another across a gap, and
// a chain reaches across a gap only to a hit that nothing follows without
// one. Links lead forward in the table: no circle.
void LinkBestContinuations() {
  std::vector<Link> links;
  for (int32_t e = 0; e < FoundCount; ++e) {
    const FoundCluster& end = FoundClusters[size_t(e)];
    if (end.Excluded) continue;
    for (int32_t j = e + 1; j < FoundCount; ++j) {
      const FoundCluster& cand = FoundClusters[size_t(j)];
      // The table is in (Pid, FirstPts) order: nothing further on is
      // within the window.
      const double d = cand.FirstPts - end.LastPts;
      if (d >= kMaxStep || cand.Pid > end.Pid) break;
      if (cand.Excluded || cand.Pid != end.Pid || !PtsContinues(d)) continue;
      const bool gap = !OneStep(d);
      if (!gap || GapHoldsACluster(end, cand, d)) links.push_back(Link{gap, d, e, j});
    }
  }
  std::sort(links.begin(), links.end());
  for (const Link& l : links) {
    FoundCluster& from = FoundClusters[size_t(l.From)];
    FoundCluster& to = FoundClusters[size_t(l.To)];
    if (from.NextRec != -1 || to.PrevRec != -1) continue;
    from.NextRec = l.To;
    to.PrevRec = l.From;
  }
}

}  // namespace

bool PtsContinues(double d) {
  if (!(d > kMinStep && d < kMaxStep)) return false;
  if (OneStep(d)) return true;
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
  LinkBestContinuations();

  std::string content;
  bool first = true;
  double lastEvents = transfer::JobNow();
  // Links only lead forward in the table, so the lowest hit not written yet
  // always starts a chain, and that index only grows.
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
    for (int32_t x = k; x >= 0 && !FoundClusters[size_t(x)].Used;
         x = FoundClusters[size_t(x)].NextRec) {
      content += FoundClusters[size_t(x)].Text + "\r\n";
      FoundClusters[size_t(x)].Used = true;
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
