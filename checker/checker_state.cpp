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
std::set<std::pair<int32_t, int32_t>> StaleSlots;
std::map<int32_t, bool> RevealedFolders;

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

// Lines waiting for the write that settles a fix (IsFix: a "Fixed:" line).
struct HeldLine {
  std::string Line;
  bool IsFix;
};
std::vector<HeldLine>& Held() {
  static std::vector<HeldLine> held;
  return held;
}

// How many check steps are running (StepResults); fixes are held only inside one.
int stepDepth = 0;

}  // namespace

StepResults::StepResults() { ++stepDepth; }
StepResults::~StepResults() {
  SettleHeldLines(false);
  --stepDepth;
}

void Addinfo(const std::string& kind, const std::string& text, bool processMessages) {
  const bool fix = kind == kFixed && stepDepth > 0;
  if (fix || !Held().empty())
    Held().push_back({kind + "\t" + text, fix});
  else
    Append(kind + "\t" + text);
  if (processMessages) ui::Current().DoEvents(true);
}

void SettleHeldLines(bool written) {
  std::vector<HeldLine> held;
  std::swap(held, Held());
  for (HeldLine& h : held)
    if (written || !h.IsFix) Append(std::move(h.Line));
}

BusyPointer::BusyPointer() { ui::Current().SetBusy(true); }
BusyPointer::~BusyPointer() { ui::Current().SetBusy(false); }

void AddResultLine(const std::string& line) {
  if (Held().empty())
    Append(line);
  else
    Held().push_back({line, false});
}

void ClearResults() {
  Lines().clear();
  Held().clear();
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
  Held().clear();
  Observer() = ResultsObserver{};
  DirScanIncomplete = false;
  LostDirectoryRecovered = false;
  LostCounter = 0;
  FatChanged = false;
  HintShown = false;
  AllocateFoundEntries();
  StaleSlots.clear();
  RevealedFolders.clear();
  List1().Clear();
}

}  // namespace checker
