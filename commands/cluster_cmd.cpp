#include "commands/cluster_cmd.h"

#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "commands/disk_maint.h"
#include "core/cluster_io.h"
#include "core/disk_format.h"
#include "core/disk_model.h"
#include "core/dumps.h"
#include "core/error_handler.h"
#include "core/pc_helpers.h"
#include "core/settings.h"
#include "platform/platform.h"
#include "ui/ui.h"

namespace commands {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The wait window for the length of one step; closed on every way out.
struct WaitWindow {
  explicit WaitWindow(const std::string& text) {
    try {
      ui::Current().ShowWait(text);
    } catch (const std::exception&) {
      // A wait window that cannot be shown is no reason to stop.
    }
  }
  ~WaitWindow() { ui::Current().HideWait(); }
  WaitWindow(const WaitWindow&) = delete;
  WaitWindow& operator=(const WaitWindow&) = delete;
};

void BackToProgramFolder() {
  if (chdir(core::AppDir().c_str()) != 0) {
    // The current folder matters only for relative names; go on.
  }
}

// The cluster number typed for side 0, range-checked; nullopt when the
// command ends (cancelled, or refused with a message).
std::optional<int32_t> AskClusterNumber() {
  const std::string answer = ui::Current().InputBox(kClusterNumberPrompt);
  if (answer.empty()) return std::nullopt;
  const std::optional<int32_t> n = ParseClusterNumber(answer);
  const int32_t last = core::LastFatIndex(0);
  if (!n || *n < -1 || *n > last) {
    ui::Current().MsgBox("Please enter a cluster number from -1 to " + std::to_string(last) + ".",
                         ui::Buttons::OK, ui::Icon::Exclamation);
    return std::nullopt;
  }
  return n;
}

bool InRange(int32_t fatIndex) {
  if (fatIndex >= -1 && fatIndex <= core::LastFatIndex(0)) return true;
  ui::Current().MsgBox("Cluster " + std::to_string(fatIndex) + " is not on this disk.",
                       ui::Buttons::OK, ui::Icon::Exclamation);
  return false;
}

}  // namespace

std::string ClusterBinFileName(int32_t fatIndex) {
  char text[32];
  if (fatIndex < 0)
    std::snprintf(text, sizeof text, "Cluster_-%06lld.bin", -static_cast<long long>(fatIndex));
  else
    std::snprintf(text, sizeof text, "Cluster_%06d.bin", fatIndex);
  return text;
}

std::optional<int32_t> ParseClusterNumber(const std::string& text) {
  size_t a = 0, b = text.size();
  while (a < b && IsBlank(text[a])) ++a;
  while (b > a && IsBlank(text[b - 1])) --b;
  const std::string t = text.substr(a, b - a);
  size_t i = 0, digits = 0;
  if (i < t.size() && (t[i] == '-' || t[i] == '+')) ++i;
  while (i < t.size() && t[i] >= '0' && t[i] <= '9') ++i, ++digits;
  if (i < t.size() && t[i] == '.') {
    ++i;
    while (i < t.size() && t[i] >= '0' && t[i] <= '9') ++i, ++digits;
  }
  if (digits == 0 || i != t.size() || t.size() > 40) return std::nullopt;
  const double d = std::nearbyint(core::NumericValue(t));
  if (!(d >= -2147483648.0 && d <= 2147483647.0)) return std::nullopt;
  return int32_t(d);
}

int64_t LeftClusterBytes() {
  const int32_t spc =
      core::InFileMode() ? core::FileModeSectorsPerCluster : core::Disk[0].SectorsPerCluster;
  return spc >= 1 ? int64_t(spc) * core::kSectorSize : 0;
}

bool ReadClusterToFile(int32_t fatIndex, const std::string& path) {
  core::ProcScope scope("ReadClusterToFile");
  if (!InRange(fatIndex)) return false;
  if (!core::ReadTopfCluster(0, fatIndex + 1)) {
    ui::Current().MsgBox("Cluster " + std::to_string(fatIndex) +
                             " could not be read. No file has been written.",
                         ui::Buttons::OK, ui::Icon::Exclamation);
    return false;
  }
  const size_t bytes = size_t(LeftClusterBytes());
  if (bytes == 0 || core::ClusterBuffer.size() < bytes) return false;
  return TRY_STATEMENT(core::SavePcFile(path, core::ClusterBuffer.data(), bytes));
}

bool WriteClusterFromFile(int32_t fatIndex, const std::string& path) {
  core::ProcScope scope("WriteClusterFromFile");
  if (!InRange(fatIndex)) return false;
  const int64_t expected = LeftClusterBytes();
  // One look at the file, through the open that never waits on a pipe and
  // takes nothing but a regular file.
  std::string data;
  const bool huge = !platform::PcFileRead(path, data, int64_t(64) << 20) &&
                    platform::LastError() == EFBIG;
  if (!huge && platform::LastError() != 0) {
    ui::Current().MsgBox("The file cannot be read (" +
                             platform::PcFileErrorText(platform::LastError()) +
                             "). Nothing has been written.",
                         ui::Buttons::OK, ui::Icon::Exclamation);
    return false;
  }
  const int64_t length = huge ? platform::FileLength(path) : int64_t(data.size());
  if (expected <= 0 || length != expected) {
    ui::Current().MsgBox("The file holds " + std::to_string(length) +
                             " bytes, but one cluster of this disk has " +
                             std::to_string(expected) + " bytes. Nothing has been written.",
                         ui::Buttons::OK, ui::Icon::Exclamation);
    return false;
  }
  core::ClusterBuffer.assign(data.begin(), data.end());
  core::RawWriteScope raw;   // the user's own bytes, also onto a disk not read in full
  if (!core::WriteTopfCluster(0, fatIndex + 1, true)) {
    ui::Current().MsgBox("Writing cluster " + std::to_string(fatIndex) + " failed.",
                         ui::Buttons::OK, ui::Icon::Exclamation);
    return false;
  }
  return true;
}

void SaveSystemClustersCommand() {
  core::ProcScope scope("Menu_Expert_SaveSystemClusters_Click");
  if (!LeftRecorderReady()) return;
  const std::string path = ui::Current().SaveFileDialog("", kSystemClustersFilter);
  if (path.empty()) return;
  WaitWindow wait("Saving system clusters. Please stand by.");
  ui::Current().DoEvents(false);
  core::SaveTopfSystemClusters(0, path);
}

void RestoreSystemClustersCommand() {
  core::ProcScope scope("Menu_Expert_RestoreSystemClusters_Click");
  if (!LeftRecorderReady()) return;
  const std::string path = ui::Current().OpenFileDialog("", kSystemClustersFilter);
  if (path.empty()) return;
  WaitWindow wait("Restoring system clusters. Please stand by.");
  ui::Current().DoEvents(false);
  // Ends the program once the dump has been written.
  core::RestoreTopfSystemClusters(0, path);
}

void ReadClusterCommand() {
  core::ProcScope scope("Menu_Expert_ReadCluster_Click");
  if (!LeftRecorderReady()) return;
  const std::optional<int32_t> n = AskClusterNumber();
  if (!n) return;
  ReadClusterToFile(*n, core::AppDir() + ClusterBinFileName(*n));
}

void WriteClusterCommand() {
  core::ProcScope scope("Menu_Expert_WriteCluster_Click");
  if (!LeftRecorderReady()) return;
  const std::optional<int32_t> n = AskClusterNumber();
  if (!n) return;
  const std::string path = ui::Current().OpenFileDialog("", kBinariesFilter);
  BackToProgramFolder();
  if (path.empty()) return;
  WriteClusterFromFile(*n, path);
}

}  // namespace commands
