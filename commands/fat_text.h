// The left disk's file allocation table as a plain text file and back: one
// line per FAT index 0 .. LastCluster, "000002 => 5", "000005 => EOF",
// "000006 => -", each ended by CR LF.
//
// The import checks the whole file before anything changes: every line that
// is not empty and holds a blank must name an index 0 .. 0x1FFFF and a value
// "-" or 0 (free), "EOF" in any case (end of chain) or a link - 1 ..
// LastCluster for an index up to LastCluster, 1 .. 0x1FFFF beyond it. Only a file that
// passes completely reaches the in-memory FAT and, at once, the disk (both
// FAT copies up to LastCluster, the used-cluster counts and the CRC); lines
// beyond LastCluster (a dump's export imported onto its disk) stay in
// memory. Lines without a blank (a lone "EOF", an empty line) change nothing.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace commands {

// The filter of both file dialogs.
constexpr const char* kFatTextFilter = "Text files (*.txt)|*.txt|All files|*.*";

// The whole export text of the side's in-memory FAT (indexes 0 .. LastCluster).
std::string BuildClusterChainText(int side);

// One parsed line of an import file.
struct FatTextLine {
  int32_t Index = 0;
  int32_t Next = 0;
};

// Parses a whole import text against `lastCluster`. On success `lines`
// holds the assignments in file order; on failure `error` tells which line
// is wrong and why, and `lines` is to be ignored.
bool ParseClusterChainText(const std::string& text, int32_t lastCluster,
                           std::vector<FatTextLine>& lines, std::string& error);

// Writes the export file of side 0 (replacing it whole). File errors go to
// the error handler; true when the file was written.
bool ExportClusterChain(const std::string& path);

// Reads, checks and applies an import file to side 0 and writes the FAT to
// the disk. True when the FAT was written; false (with a message) when the
// file was refused or the write failed; in both cases nothing changed.
bool ImportClusterChain(const std::string& path);

// The Expert menu commands: the file dialog, then the work above. The
// export opens the written file with its desktop program.
void ExportFATCommand();
void ImportFATCommand();

}  // namespace commands
