#include "core/disk_probe.h"

#include <algorithm>
#include <cerrno>
#include <string_view>

#include "core/disk_format.h"
#include "core/disk_io.h"
#include "core/disk_model.h"
#include "core/error_handler.h"
#include "core/iodebug.h"
#include "core/pc_helpers.h"
#include "core/smart.h"
#include "library/loader.h"
#include "platform/platform.h"

namespace core {

namespace {
std::string ProbeHead() { return IODebugHead("FSShowDisks", kIODebugWideName); }
}  // namespace

std::string PCDriveEntryText(const PcDrive& drive) {
  std::string root = drive.Root;
  if (root.size() > 1 && root.back() == '/') root.pop_back();
  if (drive.DriveType == 4) return root + "  [Network: " + drive.Label + "]";
  // A file system without a label shows no empty brackets.
  if (drive.Label.empty()) return root;
  return root + "  [" + drive.Label + "]";
}

bool CarriesRecorderId(const uint8_t* superblockView) {
  return ReadIdString(superblockView) == kTopfieldId;
}

bool ShowsRecorderSuperblock(const uint8_t* systemView1024) {
  for (int32_t base : {kSuperblock, kBackupSuperblock}) {
    const uint8_t* sb = systemView1024 + base;
    if (GetBE32(sb + kSbMagicNumber) == kMagicNumber || CarriesRecorderId(sb)) return true;
  }
  return false;
}

std::string ForeignContentName(const uint8_t* raw, size_t length) {
  auto at = [&](size_t offset, std::string_view text) {
    return offset + text.size() <= length && std::string_view(reinterpret_cast<const char*>(raw) + offset, text.size()) == text;
  };
  if (std::all_of(raw, raw + length, [](uint8_t b) { return b == 0; })) return "only zeros";
  if (length >= 1082 && raw[1080] == 0x53 && raw[1081] == 0xEF) return "an ext2/3/4 file system";
  if (at(0, "XFSB")) return "an XFS file system";
  if (at(0, "LUKS\xBA\xBE")) return "a LUKS encrypted volume";
  if (at(512, "LABELONE")) return "an LVM physical volume";
  if (at(4086, "SWAPSPACE2") || at(4086, "SWAP-SPACE")) return "swap space";
  if (at(512, "EFI PART")) return "a GPT partition table";
  if (length >= 512 && raw[510] == 0x55 && raw[511] == 0xAA) {
    if (at(3, "NTFS    ")) return "an NTFS file system";
    if (at(3, "EXFAT   ")) return "an exFAT file system";
    if (at(54, "FAT") || at(82, "FAT32")) return "a FAT file system";
    return "a partition table";
  }
  return "unknown data";
}

void FSShowDisks() {
  ProcScope scope("FSShowDisks");
  ChooserEntries[0].clear();
  ChooserEntries[1].clear();
  InUseRecorderDrives.clear();
  UnopenedDrives.clear();
  ForeignDrives.clear();

  if (!InFileMode()) {
    for (int n = 0; n < platform::kMaxDrives; ++n) {
      const std::string name = "PhysicalDrive" + std::to_string(n);
      const int32_t handle = OpenDisk(name, false);
      if (handle < 1) {
        const int error = platform::LastError();
        AddIODebugLog(ProbeHead() + "failed to opened disk " + name +
                      ", ErrorCode=" + std::to_string(error));
        // No drive of that number (or a reader without a medium) is no
        // disk; any other failure keeps its reason for the user.
        if (error != ENOENT && error != ENXIO && error != ENODEV && error != ENOMEDIUM)
          UnopenedDrives.push_back({n, platform::ResolveDrive(n), error});
        continue;
      }
      AddIODebugLog(ProbeHead() + "successfully opened disk " + name);
      uint8_t sector[512] = {};
      if (ReadSectors(handle, 0, 1, sector) != 0) {
        AddIODebugLog(ProbeHead() + "successfully read sector 0");
        qlib::TopfSwapDWORD(sector, 1);
        if (CarriesRecorderId(sector)) {
          AddIODebugLog(ProbeHead() + "recognized that drive as a Topfield 5000 drive");
          if (platform::DriveInUse(name)) {
            AddIODebugLog(ProbeHead() + "left out " + name + ": in use");
            InUseRecorderDrives.push_back(n);
          } else {
            ChooserEntries[0].push_back(
                {"Topfield Disk, Drive " + std::to_string(n) + SmartLabelSuffix(handle), -n});
          }
        } else {
          ForeignDrives.push_back(n);
        }
      } else {
        AddIODebugLog(ProbeHead() + "failed to read sector 0, ErrorCode=" +
                      std::to_string(platform::LastError()));
        UnopenedDrives.push_back({n, platform::ResolveDrive(n), 0});
      }
      CloseDisk(handle);
      AddIODebugLog(ProbeHead() + "closed");
    }
  }

  if (Flags & FlagWriteMode) ChooserEntries[1] = ChooserEntries[0];

  for (const PcDrive& drive : DriveList()) {
    if (drive.DriveType != 3 && drive.DriveType != 4) continue;
    ChooserEntries[1].push_back({PCDriveEntryText(drive), drive.DiskId});
  }
}

}  // namespace core
