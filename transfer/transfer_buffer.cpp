#include "transfer/transfer_buffer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "core/cluster_io.h"
#include "core/disk_format.h"
#include "core/disk_io.h"
#include "core/disk_model.h"
#include "core/error_handler.h"
#include "core/read_ahead.h"
#include "core/side_file.h"
#include "library/loader.h"
#include "platform/platform.h"
#include "transfer/names.h"
#include "ui/ui.h"

namespace transfer {

bool BadlyInterleavedFiles = false;

namespace {

using core::Disk;
using core::DataBuffer;
using core::DataBufferFill;

constexpr const char* kDiskFull = "the disk is full";
constexpr const char* kNoClusterSize = "the cluster size is not known";
constexpr uint32_t kRandomStart = 0x50000;   // the generator's state before the first draw
uint32_t g_random = kRandomStart;

std::string g_failure;                 // why the last transfer failed
int g_aheadError = 0;                  // errno of a failed read made ahead

bool Failed(const std::string& why) {
  g_failure = why;
  return false;
}

// The buffer's first cluster came from a read made ahead for a recorder
// target and is already in the disk's byte order (never the file's last
// cluster, which the flush pads in the PC's order).
bool g_frontInDiskOrder = false;

int64_t ClusterBytes(int side) { return int64_t(Disk[side].SectorsPerCluster) * core::kSectorSize; }

int32_t LastIndex(int side) { return core::LastFatIndex(side); }

// Makes sure `bytes` more fit behind DataBufferFill (the buffer normally has
// room to spare; a caller that broke the protocol must not lose data).
void MakeRoom(int64_t bytes) {
  const size_t need = size_t(std::max<int64_t>(DataBufferFill, 0) + bytes);
  if (DataBuffer.size() < need) DataBuffer.resize(need);
}

// A first cluster left in the disk's byte order goes back to the PC's view
// before anything else is done with the buffer (not on the usual path).
void RestoreViewOrder(int32_t spc) {
  if (!g_frontInDiskOrder) return;
  if (DataBufferFill > 0) qlib::TopfSwapDWORD(DataBuffer.data(), spc);
  g_frontInDiskOrder = false;
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
    if (!core::IndexOnDisk(side, c)) return -1;   // everything further is off the device too
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
  if (core::DiskWriteRefused(side)) return Failed(core::kTakesNoWriteText);
  const int32_t spc = d.SectorsPerCluster;
  if (core::IsPCSide(core::OtherSide(side)) && !g_frontInDiskOrder)
    qlib::TopfSwapDWORD(DataBuffer.data(), spc);
  g_frontInDiskOrder = false;
  const int64_t first = (int64_t(c) + 1) * spc;
  if (first > int64_t(UINT32_MAX)) return Failed("the cluster lies beyond the disk's end");
  const bool ok = core::WriteSectors(d.Handle, uint32_t(first), spc, DataBuffer.data()) != 0;
  const std::string why = core::SectorErrorText();
  core::InvalidateCachedSectors(side, uint32_t(first), spc);
  if (!ok) core::CheckHDConnection(side);
  return ok || Failed(why);
}

bool WritePc(int side, uint64_t offset, int64_t bytes) {
  const int32_t handle = Disk[side].Handle;
  if (handle < 1) return Failed("the file is not open");
  if (bytes <= 0) return true;
  return platform::WriteAt(handle, offset, DataBuffer.data(), size_t(bytes)) ||
         Failed(PcFailureText(platform::LastError()));
}

// Read-ahead: while cluster k of the source is written to the target, the
// helper thread reads cluster k + 1 into a buffer of the same size as the
// transfer buffer (word-reversed there when it is bound for a PC). When the
// job then asks for cluster k + 1 and the transfer buffer is empty, the two
// buffers change places: nothing is copied. Any other request first waits
// for the read in flight and drops it, then reads as usual.
struct AheadRead {
  bool Active = false;
  int Side = 0;
  int32_t Handle = 0;
  int32_t Index = 0;     // ClustersDone of the source when the cluster is asked for
  int32_t Cluster = -1;  // recorder source: its FAT index
  int64_t Bytes = 0;
  bool DiskOrder = false;  // word-reversed for a recorder target
};
AheadRead g_ahead;
core::ReadAheadWorker& Worker() {
  static core::ReadAheadWorker worker;
  return worker;
}
std::vector<uint8_t> g_aheadBuffer;

std::vector<ByteRange> g_unreadable;   // of the file being read

void DropReadAhead() {
  if (!g_ahead.Active) return;
  Worker().Wait();
  g_ahead.Active = false;
}

// After cluster ClustersDone - 1 of the source landed in the buffer: starts
// reading the next one, when there is one and the target will take exactly
// one cluster from the buffer (equal cluster sizes), so that the next read
// lands at its front.
void StartReadAhead(int side) {
  core::DiskRec& d = Disk[side];
  const core::OpenFileRec& f = d.OpenFile;
  const int64_t bytes = ClusterBytes(side);
  if (bytes <= 0 || bytes != ClusterBytes(core::OtherSide(side)) || DataBufferFill != bytes ||
      d.Handle < 1)
    return;
  if (g_aheadBuffer.size() != DataBuffer.size()) g_aheadBuffer.resize(DataBuffer.size());
  uint8_t* into = g_aheadBuffer.data();
  const int32_t handle = d.Handle;
  core::ReadAheadWorker::Task task;
  int32_t cluster = -1;
  bool diskOrder = false;
  if (core::IsPCSide(side)) {
    const int64_t offset = int64_t(f.ClustersDone) * bytes;
    if (double(offset) >= f.Size) return;
    const int64_t want = std::clamp<int64_t>(int64_t(f.Size) - offset, 0, bytes);
    // Bound for a recorder disk, a cluster that is not the file's last is
    // put into the disk's byte order here too.
    diskOrder = !core::IsPCSide(core::OtherSide(side)) && double(offset + bytes) < f.Size;
    const int32_t spc = d.SectorsPerCluster;
    g_aheadError = 0;
    task = [handle, offset, want, bytes, into, diskOrder, spc] {
      if (want > 0 && !platform::ReadAt(handle, uint64_t(offset), into, size_t(want))) {
        g_aheadError = platform::LastError();   // seen once the task is waited for
        return false;
      }
      if (want < bytes) std::memset(into + want, 0, size_t(bytes - want));
      if (diskOrder) qlib::TopfSwapDWORD(into, spc);
      return true;
    };
  } else {
    cluster = f.CurrentCluster;
    const int32_t spc = d.SectorsPerCluster;
    if (f.ClustersDone >= f.ClusterCount || cluster < 0 || cluster > LastIndex(side) ||
        !core::IndexOnDisk(side, cluster))
      return;
    const int64_t first = (int64_t(cluster) + 1) * spc;
    if (first > int64_t(UINT32_MAX)) return;
    const bool admitted = core::AdmitSectorRead(handle, uint32_t(first), spc, into);
    const bool swap = core::IsPCSide(core::OtherSide(side));
    task = [admitted, handle, first, spc, into, swap] {
      if (!admitted ||
          qlib::DiskIOReadSectors(handle, uint32_t(first), spc, core::kSectorSize, into) == 0)
        return false;
      if (swap) qlib::TopfSwapDWORD(into, spc);
      return true;
    };
  }
  core::AddReadAheadDropper(&DropReadAhead);
  g_ahead = {true, side, handle, f.ClustersDone, cluster, bytes, diskOrder};
  Worker().Start(std::move(task));
}

// The cluster the job asks for was read ahead: waits for it and takes it.
// 1 taken, 0 it failed, -1 nothing fitting was read ahead (any read in
// flight has been dropped).
int TakeReadAhead(int side) {
  if (!g_ahead.Active) return -1;
  core::DiskRec& d = Disk[side];
  core::OpenFileRec& f = d.OpenFile;
  const bool fits = g_ahead.Side == side && g_ahead.Handle == d.Handle &&
                    g_ahead.Index == f.ClustersDone && g_ahead.Bytes == ClusterBytes(side) &&
                    DataBufferFill == 0 && g_aheadBuffer.size() == DataBuffer.size() &&
                    (core::IsPCSide(side) || g_ahead.Cluster == f.CurrentCluster);
  const bool ok = Worker().Wait();
  g_ahead.Active = false;
  if (!fits) return -1;
  if (!ok) {
    // A recorder cluster is read again, as far as it can be read.
    if (!core::IsPCSide(side)) return -1;
    Failed(PcFailureText(g_aheadError));
    return 0;
  }
  DataBuffer.swap(g_aheadBuffer);
  g_frontInDiskOrder = g_ahead.DiskOrder;
  if (!core::IsPCSide(side)) f.CurrentCluster = d.FAT[size_t(g_ahead.Cluster)].Next;
  DataBufferFill += int32_t(g_ahead.Bytes);
  f.ClustersDone += 1;
  return 1;
}

}  // namespace

void FSDataBufferDrop() { DropReadAhead(); }

std::vector<ByteRange>& FSUnreadableBytes() { return g_unreadable; }

const std::string& FSDataBufferFailure() { return g_failure; }

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
  if (spc <= 0 || DataBufferFill < 0) {
    DropReadAhead();
    return Failed(kNoClusterSize);
  }
  switch (TakeReadAhead(side)) {
    case 1:
      StartReadAhead(side);
      return true;
    case 0:
      return false;
    default:
      break;
  }
  MakeRoom(bytes);
  RestoreViewOrder(spc);
  uint8_t* at = DataBuffer.data() + DataBufferFill;

  if (core::IsPCSide(side)) {
    // Exactly the bytes of the file that fall into this cluster; the rest of
    // the cluster is zero. A short read is a failure.
    if (d.Handle < 1) return Failed("the file is not open");
    const int64_t offset = int64_t(f.ClustersDone) * bytes;
    const int64_t want = std::clamp<int64_t>(int64_t(f.Size) - offset, 0, bytes);
    if (want > 0 && !platform::ReadAt(d.Handle, uint64_t(offset), at, size_t(want)))
      return Failed(PcFailureText(platform::LastError()));
    if (want < bytes) std::memset(at + want, 0, size_t(bytes - want));
  } else {
    const int32_t c = f.CurrentCluster;
    const int64_t first = (int64_t(c) + 1) * spc;
    if (c < 0 || c > LastIndex(side) || !core::IndexOnDisk(side, c) || first > int64_t(UINT32_MAX))
      return Failed("its cluster chain leads off the disk");
    if (core::ReadSectors(d.Handle, uint32_t(first), spc, at) == 0) {
      core::CheckHDConnection(side);
      // Sector by sector: what reads is passed on, what does not is zeros
      // and noted, never passed on as if it were the data.
      std::vector<int32_t> bad;
      core::ReadSectorsOneByOne(d.Handle, uint32_t(first), spc, at, bad);
      const int64_t start = int64_t(f.ClustersDone) * bytes;
      for (int32_t sector : bad) {
        const int64_t from = start + int64_t(sector) * core::kSectorSize;
        if (!g_unreadable.empty() && g_unreadable.back().End == from)
          g_unreadable.back().End += core::kSectorSize;
        else
          g_unreadable.push_back({from, from + core::kSectorSize});
      }
    }
    if (core::IsPCSide(core::OtherSide(side))) qlib::TopfSwapDWORD(at, spc);
    f.CurrentCluster = d.FAT[size_t(c)].Next;
  }
  DataBufferFill += int32_t(bytes);
  f.ClustersDone += 1;
  StartReadAhead(side);
  return true;
}

bool FSDataBufferWrite(int side) {
  core::ProcScope scope("FSDataBufferWrite");
  core::CheckSideIndex(side);
  core::DiskRec& d = Disk[side];
  core::OpenFileRec& f = d.OpenFile;
  const int64_t bytes = ClusterBytes(side);
  if (bytes <= 0 || int64_t(DataBuffer.size()) < DataBufferFill)
    return Failed(kNoClusterSize);

  while (DataBufferFill >= bytes) {
    if (core::IsPCSide(side)) {
      if (!WritePc(side, uint64_t(f.ClustersDone) * uint64_t(bytes), bytes)) return false;
    } else {
      const int32_t step = BadlyInterleavedFiles ? InterleaveStep() : 1;
      const int32_t c = NextCluster(side, step);
      if (c < 0) return Failed(kDiskFull);
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
  if (bytes <= 0 || int64_t(DataBuffer.size()) < DataBufferFill)
    return Failed(kNoClusterSize);

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
  RestoreViewOrder(d.SectorsPerCluster);
  while (DataBufferFill > 0) {
    const int64_t piece = std::min<int64_t>(DataBufferFill, bytes);
    if (piece < bytes) std::memset(DataBuffer.data() + piece, 0, size_t(bytes - piece));
    const int32_t c = NextCluster(side, 1);
    if (c < 0) return Failed(kDiskFull);
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
