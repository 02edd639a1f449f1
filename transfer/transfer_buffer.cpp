#include "transfer/transfer_buffer.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/cluster_io.h"
#include "core/disk_format.h"
#include "core/disk_io.h"
#include "core/disk_model.h"
#include "core/error_handler.h"
#include "core/side_file.h"
#include "library/loader.h"
#include "platform/platform.h"
#include "ui/ui.h"

namespace transfer {

bool BadlyInterleavedFiles = false;

namespace {

using core::Disk;
using core::DataBuffer;
using core::DataBufferFill;

constexpr uint32_t kRandomStart = 0x50000;   // the generator's state before the first draw
uint32_t g_random = kRandomStart;

int64_t ClusterBytes(int side) { return int64_t(Disk[side].SectorsPerCluster) * core::kSectorSize; }

int32_t LastIndex(int side) { return std::min(Disk[side].LastCluster, core::kMaxFatIndex); }

// Makes sure `bytes` more fit behind DataBufferFill (the buffer normally has
// room to spare; a caller that broke the protocol must not lose data).
void MakeRoom(int64_t bytes) {
  const size_t need = size_t(std::max<int64_t>(DataBufferFill, 0) + bytes);
  if (DataBuffer.size() < need) DataBuffer.resize(need);
}

// Drops the first `bytes` of the buffer: only what is still held moves.
void Consume(int64_t bytes) {
  const int64_t rest = DataBufferFill - bytes;
  if (rest > 0) std::memmove(DataBuffer.data(), DataBuffer.data() + bytes, size_t(rest));
  DataBufferFill = int32_t(std::max<int64_t>(rest, 0));
}

[[noreturn]] void SystemAreaStop() {
  ui::Current().MsgBox("Veldranoth/Write tried to write file data into the system area! Bailing out!",
                       ui::Buttons::OK, ui::Icon::Exclamation);
  core::FSCloseFile(0);
  core::FSCloseFile(1);
  ui::Current().EndProgram(ui::kExitEmergency);
}

// The first free FAT element from `start` in steps of `step`, never beyond
// LastCluster nor beyond the end of the device; -1 when there is none.
int32_t FindFree(int side, int64_t start, int32_t step) {
  const auto& fat = Disk[side].FAT;
  const int64_t last = std::min<int64_t>(LastIndex(side), int64_t(fat.size()) - 1);
  if (start < 0 || step < 1) return -1;
  for (int64_t c = start; c <= last; c += step) {
    if (fat[size_t(c)].Next != 0) continue;
    if (!core::ClusterOnDisk(side, c + 1)) return -1;   // everything further is off the device too
    return int32_t(c);
  }
  return -1;
}

// Finds, guards and links the next cluster of the file being created; -1
// when the disk has no free cluster left in reach.
int32_t NextCluster(int side, int32_t step) {
  core::OpenFileRec& f = Disk[side].OpenFile;
  const int64_t start = f.CurrentCluster == -1 ? int64_t(f.FreeHint) : int64_t(f.CurrentCluster);
  const int32_t c = FindFree(side, start, step);
  if (c < 0) return -1;
  if (c < 3) SystemAreaStop();
  auto& fat = Disk[side].FAT;
  if (f.CurrentCluster > -1 && f.CurrentCluster <= LastIndex(side)) {
    fat[size_t(f.CurrentCluster)].Next = c;
    fat[size_t(c)].Prev = f.CurrentCluster;
  } else {
    fat[size_t(c)].Prev = 0;
  }
  fat[size_t(c)].Next = -1;
  f.CurrentCluster = c;
  return c;
}

// Writes one cluster from the front of the buffer to FAT index c.
bool WriteRecorderCluster(int side, int32_t c) {
  core::DiskRec& d = Disk[side];
  const int32_t spc = d.SectorsPerCluster;
  if (core::IsPCSide(core::OtherSide(side))) qlib::TopfSwapDWORD(DataBuffer.data(), spc);
  const int64_t first = (int64_t(c) + 1) * spc;
  if (first > int64_t(UINT32_MAX)) return false;
  const bool ok = core::WriteSectors(d.Handle, uint32_t(first), spc, DataBuffer.data()) != 0;
  core::InvalidateCachedSectors(side, uint32_t(first), spc);
  if (!ok) core::CheckHDConnection(side);
  return ok;
}

bool WritePc(int side, uint64_t offset, int64_t bytes) {
  const int32_t handle = Disk[side].Handle;
  if (handle < 1) return false;
  if (bytes <= 0) return true;
  return platform::WriteAt(handle, offset, DataBuffer.data(), size_t(bytes));
}

}  // namespace

double RandomNext() {
  g_random = uint32_t((uint64_t(g_random) * 1140671485u + 12820163u) & 0xFFFFFFu);
  return double(g_random) / 16777216.0;
}

int32_t InterleaveStep() { return int32_t(std::nearbyint(10.0 * RandomNext() + 1.0)); }

void ResetRandom() { g_random = kRandomStart; }

bool FSDataBufferRead(int side) {
  core::ProcScope scope("FSDataBufferRead");
  core::CheckSideIndex(side);
  core::DiskRec& d = Disk[side];
  core::OpenFileRec& f = d.OpenFile;
  const int32_t spc = d.SectorsPerCluster;
  const int64_t bytes = ClusterBytes(side);
  if (spc <= 0 || DataBufferFill < 0) return false;
  MakeRoom(bytes);
  uint8_t* at = DataBuffer.data() + DataBufferFill;

  if (core::IsPCSide(side)) {
    // Exactly the bytes of the file that fall into this cluster; the rest of
    // the cluster is zero. A short read is a failure.
    if (d.Handle < 1) return false;
    const int64_t offset = int64_t(f.ClustersDone) * bytes;
    const int64_t want = std::clamp<int64_t>(int64_t(f.Size) - offset, 0, bytes);
    if (want > 0 && !platform::ReadAt(d.Handle, uint64_t(offset), at, size_t(want))) return false;
    if (want < bytes) std::memset(at + want, 0, size_t(bytes - want));
  } else {
    const int32_t c = f.CurrentCluster;
    if (c < 0 || c > LastIndex(side) || !core::ClusterOnDisk(side, int64_t(c) + 1)) return false;
    const int64_t first = (int64_t(c) + 1) * spc;
    if (first > int64_t(UINT32_MAX)) return false;
    if (core::ReadSectors(d.Handle, uint32_t(first), spc, at) == 0) {
      core::CheckHDConnection(side);
      return false;   // the data is not there: never passed on as if it were
    }
    if (core::IsPCSide(core::OtherSide(side))) qlib::TopfSwapDWORD(at, spc);
    f.CurrentCluster = d.FAT[size_t(c)].Next;
  }
  DataBufferFill += int32_t(bytes);
  f.ClustersDone += 1;
  return true;
}

bool FSDataBufferWrite(int side) {
  core::ProcScope scope("FSDataBufferWrite");
  core::CheckSideIndex(side);
  core::DiskRec& d = Disk[side];
  core::OpenFileRec& f = d.OpenFile;
  const int64_t bytes = ClusterBytes(side);
  if (bytes <= 0) return false;
  if (int64_t(DataBuffer.size()) < DataBufferFill) return false;

  while (DataBufferFill >= bytes) {
    if (core::IsPCSide(side)) {
      if (!WritePc(side, uint64_t(f.ClustersDone) * uint64_t(bytes), bytes)) return false;
    } else {
      const int32_t step = BadlyInterleavedFiles ? InterleaveStep() : 1;
      const int32_t c = NextCluster(side, step);
      if (c < 0) return false;
      if (!WriteRecorderCluster(side, c)) return false;
    }
    Consume(bytes);
    f.ClustersDone += 1;
  }
  return true;
}

bool FSDataBufferFlush(int side) {
  core::ProcScope scope("FSDataBufferFlush");
  core::CheckSideIndex(side);
  core::DiskRec& d = Disk[side];
  core::OpenFileRec& f = d.OpenFile;
  const int64_t bytes = ClusterBytes(side);
  if (DataBufferFill <= 0) {
    DataBufferFill = 0;
    return true;
  }
  if (bytes <= 0 || int64_t(DataBuffer.size()) < DataBufferFill) return false;

  if (core::IsPCSide(side)) {
    // The file gets exactly its bytes, whatever its size.
    const int64_t rest = DataBufferFill;
    if (!WritePc(side, uint64_t(f.ClustersDone) * uint64_t(bytes), rest)) return false;
    DataBufferFill = 0;
    f.ClustersDone += int32_t((rest + bytes - 1) / bytes);
    return true;
  }

  // Recorder: as many clusters as the rest needs, each found with step 1.
  if (int64_t(DataBuffer.size()) < bytes) DataBuffer.resize(size_t(bytes));
  while (DataBufferFill > 0) {
    const int64_t piece = std::min<int64_t>(DataBufferFill, bytes);
    if (piece < bytes) std::memset(DataBuffer.data() + piece, 0, size_t(bytes - piece));
    const int32_t c = NextCluster(side, 1);
    if (c < 0) return false;
    if (!WriteRecorderCluster(side, c)) return false;
    Consume(piece);
    f.ClustersDone += 1;
  }
  return true;
}

void FSDiscardNewChain(int side) {
  core::ProcScope scope("FSDiscardNewChain");
  core::CheckSideIndex(side);
  if (core::IsPCSide(side)) return;
  core::DiskRec& d = Disk[side];
  core::OpenFileRec& f = d.OpenFile;
  if (f.CurrentCluster < 0) return;   // nothing linked yet
  auto& fat = d.FAT;
  const int32_t last = LastIndex(side);
  int32_t c = f.FreeHint;
  for (int32_t steps = 0; c >= 1 && c <= last && steps <= last; ++steps) {
    const int32_t next = fat[size_t(c)].Next;
    if (next == 0) break;
    fat[size_t(c)].Next = 0;
    fat[size_t(c)].Prev = 0;
    if (c == f.CurrentCluster) break;
    c = next;
  }
  f.CurrentCluster = -1;
}

}  // namespace transfer
