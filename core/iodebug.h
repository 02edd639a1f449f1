// I/O debug log: "IODebug.log" in the program folder, one line per call,
// "yyyymmdd hhnnss " + text + CR LF, written only while IODebug is on (the
// /iodebug switch). Each line of the disk routines starts with the routine's
// name padded with blanks: 19 characters for OpenDisk, CloseDisk and
// FSShowDisks, 17 for InitTopf and the cluster routines.
#pragma once

#include <string>
#include <string_view>

namespace core {

// Set at start-up from the command line.
extern bool IODebug;

constexpr int kIODebugWideName = 19;     // OpenDisk, CloseDisk, FSShowDisks
constexpr int kIODebugNarrowName = 17;   // InitTopf, ReadTopfCluster, ...

// `name` padded with blanks to `width` characters (longer names stay whole):
// IODebugHead("OpenDisk", kIODebugWideName) == "OpenDisk           ".
std::string IODebugHead(std::string_view name, int width);

// AppDir + "IODebug.log".
std::string IODebugLogFile();

// Appends one line when IODebug is on; otherwise does nothing. A failed write
// goes to the error handler.
void AddIODebugLog(const std::string& text);

}  // namespace core
