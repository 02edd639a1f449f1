// The repair of the check-and-repair program as one run: drive 0 is opened
// and checked the way the program starts and checks (OpenTarget, the check
// driver), once to repair it and once more from a fresh start. What the
// repair promises: neither run crashes, hangs, raises a run-time error or
// ends the program, and the second run writes nothing and reports only "OK:"
// and "Info:" lines, besides what the first run already reported it cannot
// repair ("Error:", "Skipped:") and reports again; unless it reports such an
// "Error:", the main program's load and check then accept the disk.
#pragma once

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "checker/check_driver.h"
#include "checker/checker_state.h"
#include "checker/disk_layer.h"
#include "checker/fat_tables.h"
#include "checker/startup.h"
#include "checker/step_fat.h"
#include "tests/fuzz/fuzz_image.h"
#include "tests/support/sector_faults.h"

namespace fuzzimage {

// Starts the program on drive 0 and runs the checks once; undo copies of the
// clusters it writes go to `undo` + their name. Every line it reported, also
// those the results list no longer holds once it is full.
inline std::vector<std::string> CheckDrive0(const std::string& undo) {
  checker::ResetDiskState();
  checker::ResetCheckerState();
  checker::ResetFatTables();
  checker::FatTablesLoaded = false;
  std::vector<std::string> reported;
  checker::ResultsObserver observer;
  observer.Added = [&reported](const std::string& line) { reported.push_back(line); };
  checker::SetResultsObserver(observer);
  struct Unobserve {
    ~Unobserve() { checker::SetResultsObserver({}); }
  } unobserve;
  checker::OpenTarget({checker::StartTarget::Kind::Drive, "PhysicalDrive0"});
  checker::SessionPrefix = undo;
  checker::RunChecks();
  return reported;
}

// Repairs drive 0 and checks it again, with the undo copies in `undoFolder`
// (emptied afterwards). Adds the raw ranges both runs wrote to `written`.
// "" or what broke the promise.
inline std::string RepairTwiceDrive0(QuietUi& quiet, const std::string& undoFolder, Ranges& written) {
  std::filesystem::create_directories(undoFolder);
  std::vector<std::string> first, second;
  size_t firstWrites = 0;
  faults::SectorFaults recorder;
  std::string fault = Faultless(quiet, [&] {
    first = CheckDrive0(undoFolder + "/first - ");
    firstWrites = recorder.Writes().size();
    second = CheckDrive0(undoFolder + "/second - ");
  });
  checker::ResetDiskState();
  for (const faults::SectorWrite& w : recorder.Writes())
    written.emplace_back(uint64_t(w.FirstSector) * 512, w.Bytes.size());
  std::filesystem::remove_all(undoFolder);

  auto join = [](const std::vector<std::string>& lines) {
    std::string all;
    // The last lines of a long run are enough to see what went wrong.
    const size_t from = lines.size() > 200 ? lines.size() - 200 : 0;
    if (from) all = "(" + std::to_string(from) + " lines before these)\n";
    for (size_t k = from; k < lines.size(); ++k) all += lines[k] + "\n";
    return all;
  };
  if (fault.empty() && recorder.Writes().size() > firstWrites)
    fault = "the second run wrote " + std::to_string(recorder.Writes().size() - firstWrites) + " times";
  for (size_t k = 0; fault.empty() && k < second.size(); ++k) {
    const std::string& line = second[k];
    const std::string kind = line.substr(0, line.find('\t'));
    if (kind == "OK:" || kind == "Info:" || kind.empty()) continue;
    const bool again = (kind == "Error:" || kind == "Skipped:") &&
                       std::find(first.begin(), first.end(), line) != first.end();
    if (!again) fault = "the second run reports: " + line;
  }
  const bool error = std::any_of(second.begin(), second.end(),
                                 [](const std::string& line) { return line.rfind("Error:", 0) == 0; });
  if (fault.empty()) {
    std::string findings;
    fault = LoadAndCheckDrive0(quiet, &findings);
    if (fault.empty() && !findings.empty() && !error) fault = "the main program's check finds: " + findings;
  }
  if (!fault.empty()) fault += "\nfirst run:\n" + join(first) + "second run:\n" + join(second);
  return fault;
}

}  // namespace fuzzimage
