#include "checker/checker_state.h"

#include "ui/ui.h"

namespace checker {

bool DirScanIncomplete = false;
bool LostDirectoryRecovered = false;
int32_t LostCounter = 0;
bool FatChanged = false;
bool HintShown = false;
std::vector<FoundEntry> FoundEntries;
int32_t FoundEntryCount = 0;

namespace {

std::deque<std::string>& Lines() {
  static std::deque<std::string> lines;
  return lines;
}

ResultsObserver& Observer() {
  static ResultsObserver observer;
  return observer;
}

void Append(std::string line) {
  auto& lines = Lines();
  size_t dropped = 0;
  while (lines.size() >= kMaxResultLines) {
    lines.pop_front();
    ++dropped;
  }
  if (dropped && Observer().DroppedFront) Observer().DroppedFront(dropped);
  lines.push_back(std::move(line));
  if (Observer().Added) Observer().Added(lines.back());
}

}  // namespace

void Addinfo(const std::string& kind, const std::string& text, bool processMessages) {
  Append(kind + "\t" + text);
  if (processMessages) ui::Current().DoEvents(true);
}

BusyPointer::BusyPointer() { ui::Current().SetBusy(true); }
BusyPointer::~BusyPointer() { ui::Current().SetBusy(false); }

void AddResultLine(const std::string& line) { Append(line); }

void ClearResults() {
  Lines().clear();
  if (Observer().Cleared) Observer().Cleared();
}

const std::deque<std::string>& ResultLines() { return Lines(); }

std::vector<std::string> ResultLinesCopy() { return {Lines().begin(), Lines().end()}; }

void SetResultsObserver(ResultsObserver observer) { Observer() = std::move(observer); }

void AllocateFoundEntries() {
  FoundEntries.assign(size_t(kMaxFoundEntries), FoundEntry{});
  FoundEntryCount = 0;
}

core::WorkList& List1() {
  static core::WorkList list(true);
  return list;
}

void ResetCheckerState() {
  Lines().clear();
  Observer() = ResultsObserver{};
  DirScanIncomplete = false;
  LostDirectoryRecovered = false;
  LostCounter = 0;
  FatChanged = false;
  HintShown = false;
  AllocateFoundEntries();
  List1().Clear();
}

}  // namespace checker
