// Crypt-flag setters.
#include "commands/crypt_flags.h"

#include <algorithm>
#include <string>

#include "commands/rec_header.h"
#include "core/cluster_io.h"
#include "core/disk_format.h"
#include "core/disk_model.h"
#include "core/entry_edit.h"
#include "core/error_handler.h"
#include "core/pc_helpers.h"

namespace commands {

bool SetRecordingCryptValue(int side, int index, uint8_t value) {
  core::ProcScope scope("SetRecordingCryptValue");
  core::CheckSideIndex(side);
  // Only a recorder disk keeps crypt values; a PC entry has no directory
  // slot to write.
  if (core::DiskId[side] >= 1 || core::DiskId[side] == core::kNoDisk) return false;
  core::DiskRec& d = core::Disk[side];
  if (index < 0 || index >= d.FileCount || size_t(index) >= d.Files.size()) return false;
  core::FileRec& f = d.Files[size_t(index)];
  if (f.IsDir || !IsRecName(f.Name)) return false;

  const bool validBefore = f.CryptValid;
  const uint8_t flagsBefore = f.CryptFlags;
  f.CryptValid = true;
  f.CryptFlags = value;
  if (!core::ModifyTopfFileCryptFlags(side, index)) {
    f.CryptValid = validBefore;
    f.CryptFlags = flagsBefore;
    return false;
  }

  bool result = true;
  if (f.HasRecHeader && OwnFirstCluster(side, index)) {
    const int32_t cluster = f.StartCluster + 1;
    // Only a first cluster that was read and still begins with a header is
    // written back.
    if (!core::ReadTopfCluster(side, cluster)) {
      result = false;
    } else if (core::ClusterBuffer.size() > size_t(kHeaderCryptValue) &&
               core::IsRecHeader(core::ClusterBuffer.data())) {
      core::ClusterBuffer[size_t(kHeaderCryptValue)] = value;
      result = core::WriteTopfCluster(side, cluster, false);
    }
  }

  if (core::SameDisk()) {
    core::DiskRec& o = core::Disk[core::OtherSide(side)];
    const int32_t n = std::min<int32_t>(o.FileCount, int32_t(o.Files.size()));
    for (int32_t j = 0; j < n; ++j) {
      core::FileRec& r = o.Files[size_t(j)];
      if (r.DirCluster == f.DirCluster && r.Slot == f.Slot && r.StartCluster == f.StartCluster &&
          r.Name == f.Name) {
        r.CryptValid = true;
        r.CryptFlags = value;
        break;
      }
    }
  }
  return result;
}

}  // namespace commands
