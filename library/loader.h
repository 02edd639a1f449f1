// Run-time binding of libQuenbrix.so for the programs.
//
// The library is loaded by name from the program folder (the folder of the
// running executable) at the first call of any of its functions, and each
// function is resolved on its first use. A missing library or function is
// reported through the failure handler; by default that prints a clear message
// and ends the program with exit status 1. The programs install a handler that
// hands it to their error handler instead.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

namespace qlib {

using FailureHandler = std::function<void(const std::string& message)>;
// Replaces the handler; returns the previous one. The handler must not return
// normally (it throws or ends the program); if it does, the program ends.
FailureHandler SetFailureHandler(FailureHandler handler);
// The path the library is loaded from (default: ExeDir + "libQuenbrix.so";
// QUENBRIX_LIBRARY overrides it). Changing it after the first load has no effect.
void SetLibraryPath(const std::string& path);

void Calc_CRC(uint8_t* buffer, int32_t entries);
void TruncateFile(const char* fileName, int32_t newSize);
int32_t TruncateFile64(const char* fileName, int64_t newSize);
int32_t Smart(int32_t handle, uint8_t* identify, uint8_t* attributes, uint8_t* thresholds);
void FindPIDs(const uint8_t* buffer, int32_t length, int32_t* programNumber,
              int32_t* pmtPid, int32_t* videoPid, int32_t* audioPid, int32_t* pcrPid);
int32_t Ceil(double value);
void SearchPTS(const uint8_t* buffer, int32_t length, int32_t* firstHigh, int32_t* firstLow,
               int32_t* lastHigh, int32_t* lastLow, int32_t* videoPid, uint8_t* headerFlag);
uint16_t SwapOrderWord(uint16_t value);
uint32_t SwapOrderLong(uint32_t value);
int32_t DiskIOWriteSectors(int32_t handle, uint32_t first, int32_t count, int32_t size,
                           const void* buffer);
int32_t DiskIOReadSectors(int32_t handle, uint32_t first, int32_t count, int32_t size,
                          void* buffer);
void AdaptFilename(const char* source, char* destination);
void TopfFAT24ToLong(uint32_t* value);
void TopfSwapDWORD(void* buffer, int32_t sectors);

}  // namespace qlib
