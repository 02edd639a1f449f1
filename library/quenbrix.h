// The exports of libQuenbrix.so, with C linkage under their own names.
// Both programs load the library at run time (see loader.h); tests may link it.
//
// Conventions: 1 is success and 0 failure where a result is given; the caller
// owns every buffer and it must hold what the call transfers. Handles are the
// small positive numbers that the platform layer gives out (file descriptors).
#pragma once
#include <cstdint>

extern "C" {

// FAT CRC (CRC-32/MPEG-2) over the first FAT of a system-cluster image held in
// the swapped view; stored big-endian at offsets 48 and 560 of the buffer.
void Calc_CRC(uint8_t* buffer, int32_t entries);
// Sets the length of an existing PC file (32-bit size, as it always was).
void TruncateFile(const char* fileName, int32_t newSize);
// The exact 64-bit variant; 1 on success, 0 on failure.
int32_t TruncateFile64(const char* fileName, int64_t newSize);
// SMART identify (256 bytes), attributes (512) and thresholds (512). 1 when
// SMART could be enabled on the drive, else 0 (an image file has none).
int32_t Smart(int32_t handle, uint8_t* identify, uint8_t* attributes, uint8_t* thresholds);
// The stream scans look at 188-byte packets from offset 0 of the buffer and
// never read a byte at or past buffer + length (a length of 0 or less scans
// nothing). FindPIDs keeps the caller's values where it finds nothing; SearchPTS
// clears its outputs first.
void FindPIDs(const uint8_t* buffer, int32_t length, int32_t* programNumber,
              int32_t* pmtPid, int32_t* videoPid, int32_t* audioPid, int32_t* pcrPid);
int32_t Ceil(double value);
void SearchPTS(const uint8_t* buffer, int32_t length, int32_t* firstHigh, int32_t* firstLow,
               int32_t* lastHigh, int32_t* lastLow, int32_t* videoPid, uint8_t* headerFlag);
uint16_t SwapOrderWord(uint16_t value);
uint32_t SwapOrderLong(uint32_t value);
// Sector transfers of count * size bytes at byte offset first * size (64-bit).
// 1 only when the whole request was transferred; a short transfer, or a read
// at or past the end of the file or device, gives 0. count 0 gives 1.
int32_t DiskIOWriteSectors(int32_t handle, uint32_t first, int32_t count, int32_t size,
                           const void* buffer);
int32_t DiskIOReadSectors(int32_t handle, uint32_t first, int32_t count, int32_t size,
                          void* buffer);
// destination must hold 255 bytes: at most 254 characters and a NUL are written.
void AdaptFilename(const char* source, char* destination);
void TopfFAT24ToLong(uint32_t* value);
// Reverses the bytes of each 32-bit word of sectors * 512 bytes, in place.
void TopfSwapDWORD(void* buffer, int32_t sectors);

}  // extern "C"
