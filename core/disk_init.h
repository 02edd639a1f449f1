// Opening a side (a recorder disk, a PC file for a transfer, or in file mode
// the system-cluster dump) and estimating the cluster size of a disk.
#pragma once

#include <cstdint>
#include <string>

namespace core {

// Closes whatever handle the side holds, then: in file mode maps the dump
// (`Disk[side].Name` + ".scc"/".scd") for the cluster I/O; otherwise opens
// `name` (up to five attempts 100 ms apart). Invalidates the side's six cache
// slots. True when the side is open. A dump whose cluster size is unusable is
// refused with a message.
bool InitTopf(int side, const std::string& name, bool readWrite);

// Closes the handle the side holds, if any (logged as InitTopf logs it), and
// invalidates its cache slots: a pane that stops showing a disk lets it go,
// so another program may take it.
void ReleaseTopf(int side);

// Sectors per cluster: file mode the .scc length / 512; otherwise the scan
// below, failing that an estimate from the disk's size (2068, 2444, 3760 or
// 4512).
int32_t GuessClusterSize(int side);

// The last sector the scans for a folder's "." entry read (both programs).
constexpr int32_t kClusterSizeScanLastSector = 18800;

// Looks for the first directory "." entry in sectors 0..18800; the sector
// number divided by the directory's disk cluster number is the cluster size.
// -1 when nothing is found.
int32_t ScanForClusterSize(int side);

// The size estimate alone, from a disk size in bytes (both programs).
int32_t ClusterSizeForDiskBytes(double bytes);
// The estimate's largest value, that of every disk above 250 GiB.
constexpr int32_t kLargestDiskSizeClusterSize = 4512;

}  // namespace core
