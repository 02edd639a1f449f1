#include "commands/fat_text.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "commands/cluster_cmd.h"
#include "commands/disk_maint.h"
#include "core/disk_format.h"
#include "core/disk_model.h"
#include "core/error_handler.h"
#include "core/fat_write.h"
#include "core/pc_helpers.h"
#include "core/settings.h"
#include "platform/platform.h"
#include "ui/ui.h"

namespace commands {

namespace {

// Larger files are no FAT text (131072 lines take about 2.6 MB).
constexpr int64_t kMaxImportBytes = 64ll << 20;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string Trim(const std::string& s) {
  size_t a = 0, b = s.size();
  while (a < b && IsBlank(s[a])) ++a;
  while (b > a && IsBlank(s[b - 1])) --b;
  return s.substr(a, b - a);
}

// Digits with an optional fraction ("12", "0012", "11.6"), rounded to the
// nearest whole number; false for anything else or a value beyond 2^31.
bool ParseWhole(const std::string& text, int64_t& value) {
  size_t i = 0, digits = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i, ++digits;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i, ++digits;
  }
  if (digits == 0 || i != text.size() || text.size() > 40) return false;
  const double d = std::nearbyint(core::NumericValue(text));
  if (!(d >= 0 && d <= 2147483647.0)) return false;
  value = int64_t(d);
  return true;
}

bool EqualsNoCase(const std::string& a, const char* b) {
  size_t i = 0;
  for (; i < a.size() && b[i]; ++i) {
    char c = a[i];
    if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    if (c != b[i]) return false;
  }
  return i == a.size() && b[i] == 0;
}

// The Windows dialogs could change the current folder; the commands go back
// to the program folder afterwards as they always did.
void BackToProgramFolder() {
  if (chdir(core::AppDir().c_str()) != 0) {
    // The current folder matters only for relative names; go on.
  }
}

void RefuseImport(const std::string& reason) {
  ui::Current().MsgBox("The FAT was not imported: " + reason + "\r\nNothing has been changed.",
                       ui::Buttons::OK, ui::Icon::Exclamation);
}

}  // namespace

std::string BuildClusterChainText(int side) {
  core::ProcScope scope("BuildClusterChainText");
  core::CheckSideIndex(side);
  const core::DiskRec& d = core::Disk[side];
  const int32_t last = core::LastFatIndex(side);
  std::string text;
  text.reserve(size_t(std::max(last + 1, 0)) * 20);
  char line[48];
  for (int32_t i = 0; i <= last; ++i) {
    const int32_t next = d.FAT[size_t(i)].Next;
    int n;
    if (next == 0)
      n = std::snprintf(line, sizeof line, "%06d => -\r\n", i);
    else if (next == -1)
      n = std::snprintf(line, sizeof line, "%06d => EOF\r\n", i);
    else
      n = std::snprintf(line, sizeof line, "%06d => %d\r\n", i, next);
    text.append(line, size_t(n));
  }
  return text;
}

bool ParseClusterChainText(const std::string& text, int32_t lastCluster,
                           std::vector<FatTextLine>& lines, std::string& error) {
  lines.clear();
  error.clear();
  size_t pos = 0;
  // A byte-order mark in front of a UTF-8 file is no part of the first line.
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) pos = 3;
  int lineNumber = 0;
  const std::string range = " is outside 0 to " + std::to_string(core::kMaxFatIndex);
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    ++lineNumber;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    line = Trim(line);
    const size_t first = line.find_first_of(" \t");
    if (first == std::string::npos) continue;   // no blank: the line changes nothing
    const size_t last = line.find_last_of(" \t");
    const std::string where = "line " + std::to_string(lineNumber);
    const std::string indexText = line.substr(0, first);
    const std::string middle = Trim(line.substr(first, last - first));
    const std::string valueText = line.substr(last + 1);
    if (!middle.empty() && middle != "=>") {
      error = where + " is no FAT line (index => value).";
      return false;
    }
    int64_t index = 0;
    if (!ParseWhole(indexText, index)) {
      error = where + ": the index is not a number.";
      return false;
    }
    // Lines beyond LastCluster (a dump's export of all 0x20000 indexes)
    // are taken into memory only; the disk keeps its entries there.
    if (index > core::kMaxFatIndex) {
      error = where + ": the index " + std::to_string(index) + range + ".";
      return false;
    }
    const int32_t linkLimit = index > lastCluster ? core::kMaxFatIndex : lastCluster;
    int32_t next = 0;
    if (valueText == "-") {
      next = 0;
    } else if (EqualsNoCase(valueText, "EOF")) {
      next = -1;
    } else {
      int64_t value = 0;
      if (!ParseWhole(valueText, value)) {
        error = where + ": the value is not \"-\", \"EOF\" or a cluster number.";
        return false;
      }
      // 0 is a free entry, as "-" is.
      if (value < 0 || value > linkLimit) {
        error = where + ": the link " + std::to_string(value) + " is outside 0 to " +
                std::to_string(linkLimit) + ".";
        return false;
      }
      next = int32_t(value);
    }
    lines.push_back({int32_t(index), next});
  }
  if (lines.empty()) {
    error = "the file holds no FAT lines.";
    return false;
  }
  return true;
}

bool ExportClusterChain(const std::string& path) {
  core::ProcScope scope("ExportClusterChain");
  const std::string text = BuildClusterChainText(0);
  return TRY_STATEMENT(core::SavePcFile(path, text));
}

bool ImportClusterChain(const std::string& path) {
  core::ProcScope scope("ImportClusterChain");
  core::DiskRec& d = core::Disk[0];
  std::string text;
  if (!platform::PcFileRead(path, text, kMaxImportBytes)) {
    RefuseImport(platform::LastError() == EFBIG
                     ? std::string("the file is too large for a FAT text.")
                     : "the file cannot be read (" +
                           platform::PcFileErrorText(platform::LastError()) + ").");
    return false;
  }
  const int32_t lastCluster = core::LastFatIndex(0);
  std::vector<FatTextLine> lines;
  std::string error;
  if (lastCluster < 1 || !ParseClusterChainText(text, lastCluster, lines, error)) {
    RefuseImport(lastCluster < 1 ? std::string("there is no FAT to replace.") : error);
    return false;
  }

  // The whole file is sound: take it over, with the predecessors to match.
  const std::vector<core::FatLink> saved = d.FAT;
  for (const FatTextLine& l : lines) d.FAT[size_t(l.Index)].Next = l.Next;
  const int32_t top = std::min<int32_t>(core::kMaxFatIndex, int32_t(d.FAT.size()) - 1);
  for (int32_t i = 0; i <= top; ++i) d.FAT[size_t(i)].Prev = 0;
  for (int32_t i = 0; i <= top; ++i) {
    const int32_t next = d.FAT[size_t(i)].Next;
    if (next >= 1 && next <= top) d.FAT[size_t(next)].Prev = i;
  }
  if (!core::UpdateTopfFAT(0)) {
    d.FAT = saved;
    ui::Current().MsgBox("The FAT could not be written to the disk. Nothing has been changed.",
                         ui::Buttons::OK, ui::Icon::Exclamation);
    return false;
  }
  // A right pane on the same disk must not write its older FAT back later.
  if (core::SameDisk()) core::Disk[1].FAT = d.FAT;
  return true;
}

void ExportFATCommand() {
  core::ProcScope scope("Menu_Expert_ExportClusterChain_Click");
  if (!LeftRecorderReady()) return;
  const std::string path = ui::Current().SaveFileDialog("", kFatTextFilter);
  BackToProgramFolder();
  if (path.empty()) return;
  if (ExportClusterChain(path)) ui::Current().OpenWithDesktop(path);
}

void ImportFATCommand() {
  core::ProcScope scope("Menu_Expert_ImportFAT_Click");
  if (!LeftRecorderReady()) return;
  const std::string path = ui::Current().OpenFileDialog("", kFatTextFilter);
  BackToProgramFolder();
  if (path.empty()) return;
  ImportClusterChain(path);
}

}  // namespace commands
