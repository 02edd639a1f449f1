#include "checker/startup.h"

#include <array>

#include "checker/checker_state.h"
#include "checker/disk_layer.h"
#include "checker/fat_tables.h"
#include "core/disk_io.h"
#include "core/error_handler.h"
#include "core/pc_helpers.h"
#include "core/settings.h"
#include "core/smart.h"
#include "library/loader.h"

namespace checker {

std::string DumpBasePath(const std::string& path) {
  std::string folder, name, extension;
  core::SeparatePathComponents(path, folder, name, extension, core::kPcSeparator);
  return folder + name;
}

StartTarget ParseCommandLine(const std::string& commandLine) {
  StartTarget target;
  if (commandLine.empty()) {
    target.What = StartTarget::Kind::Dialog;
  } else if (commandLine.compare(0, 13, "PhysicalDrive") == 0) {
    target.What = StartTarget::Kind::Drive;
    target.Name = commandLine;
  } else {
    target.What = StartTarget::Kind::Dump;
    target.Name = DumpBasePath(commandLine);
  }
  return target;
}

namespace {
constexpr const char* kTfDiskRemark = " (this seems to be a TF disk)";
}  // namespace

int DefaultDriveChoice(const std::vector<std::pair<std::string, int>>& entries) {
  for (const auto& [text, drive] : entries)
    if (drive >= 0 && text.find(kTfDiskRemark) != std::string::npos && text.find(core::kInUseRemark) == std::string::npos)
      return drive;
  return -1;
}

bool LooksLikeTopfieldDisk(int32_t handle) {
  // Probe reads of their own: a drive that cannot be read is simply no
  // recorder disk (the connection check would end the program).
  std::array<uint8_t, 512> sector{};
  auto read = [&](uint32_t n) {
    if (core::ReadSectors(handle, n, 1, sector.data()) == 0) {
      sector.fill(0);
      return;
    }
    qlib::TopfSwapDWORD(sector.data(), 1);
  };
  auto topf = [&] { return std::string_view(reinterpret_cast<const char*>(&sector[core::kSbIdString]), 4) == "TOPF"; };
  read(0);
  if (topf()) return true;
  read(1);
  if (topf()) return true;
  read(2);
  // The root's "." entry, named "__ROOT__".
  return sector[core::kDeAttribute] == core::AttrSelf &&
         std::string(reinterpret_cast<const char*>(&sector[core::kDeName + 2]), 5) == "ROOT_";
}

std::vector<std::pair<std::string, int>> DriveDialogEntries() {
  core::ProcScope scope("Form_Load");
  std::vector<std::pair<std::string, int>> entries;
  SectorsPerCluster = 1;
  const bool fileMode = FileMode;
  FileMode = false;
  for (int d = 0; d <= 31; ++d) {
    const std::string name = "PhysicalDrive" + std::to_string(d);
    int32_t handle = OpenDisk(name, true);
    // A drive the system or another program holds is listed as in use,
    // from a read-only look; choosing it says so and opens nothing.
    const bool inUse = handle <= 0 && core::DiskInUse();
    if (inUse) handle = OpenDisk(name, false);
    if (handle <= 0) continue;
    std::string extra = core::SmartLabelSuffix(handle);
    double cylinders = 0;
    int32_t tracks = 0, sectors = 0, bytes = 0;
    DiskGeometry(handle, cylinders, tracks, sectors, bytes);
    const double size = cylinders * tracks * sectors * bytes;
    if (LooksLikeTopfieldDisk(handle)) extra += kTfDiskRemark;
    if (inUse) extra += core::kInUseRemark;
    entries.emplace_back("Disk " + std::to_string(d) + ": \t" + FileSizeToString(size, 1) + "\t" + extra, d);
    CloseDisk(handle);
  }
  DiskHandle = 0;
  FileMode = fileMode;
  entries.emplace_back("File Mode", -2);
  return entries;
}

bool ExtrasEnabled() { return core::GetSetting("View", "Extras") == "1"; }

void OpenTarget(const StartTarget& target) {
  core::ProcScope scope("Form_Load");
  FileMode = target.What == StartTarget::Kind::Dump;
  InitTopf(target.Name);
  AllocateFoundEntries();
  if (FAT1.size() != size_t(core::kFatEntries)) ResetFatTables();
  LostCounter = 0;
}

}  // namespace checker
