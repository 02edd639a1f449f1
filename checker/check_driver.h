// The check driver and the results file.
#pragma once

#include <cstdint>
#include <string>

namespace checker {

// Runs the check: clears the list after the start-up hints, repeats steps 1
// to 5 while a pass recovered a lost directory (at most kMaxCheckPasses
// passes), runs steps 6 and 7, and adds the summary of the disk's use.
// Shows the busy pointer while it runs.
void RunChecks();
constexpr int kMaxCheckPasses = 100;

// The number of FAT indexes 0 .. LastCluster whose FAT1 value is below
// 0xFFFFFF.
int32_t UsedClustersInFAT1();

// Writes every line of the results list, each followed by CR LF, into a new
// file (replacing one that exists). Failures go to the error handler.
void SaveResults(const std::string& path);

// Format(value, "0.0") with the locale's decimal separator.
std::string FormatOneDecimal(double value);

}  // namespace checker
