#include "core/pc_helpers.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <cmath>
#include <cstdio>
#include <ctime>

#include "core/disk_format.h"
#include "core/error_handler.h"
#include "library/loader.h"
#include "platform/platform.h"
#include "ui/ui.h"

namespace core {

namespace {
std::string RootOf(const std::string& mountPoint) {
  if (mountPoint.empty() || mountPoint.back() == '/') return mountPoint;
  return mountPoint + "/";
}
}  // namespace

std::vector<PcDrive> DriveList() {
  ProcScope scope("DriveList");
  std::vector<PcDrive> drives;
  const std::vector<platform::Volume> volumes = platform::ListVolumes();
  drives.reserve(volumes.size());
  for (size_t i = 0; i < volumes.size(); ++i) {
    PcDrive d;
    d.DiskId = static_cast<int>(i) + 1;
    d.Root = RootOf(volumes[i].MountPoint);
    d.DriveType = static_cast<int>(volumes[i].Type);
    d.FsName = volumes[i].FsName;
    d.Label = volumes[i].Label;
    drives.push_back(std::move(d));
  }
  return drives;
}

std::string DriveRoot(int diskId) {
  const std::vector<platform::Volume> volumes = platform::ListVolumes();
  if (diskId < 1 || static_cast<size_t>(diskId) > volumes.size()) return std::string();
  return RootOf(volumes[static_cast<size_t>(diskId) - 1].MountPoint);
}

int DriveIdOf(const std::string& path) {
  platform::Volume volume;
  if (!platform::VolumeOf(path, volume)) return 0;
  const std::vector<platform::Volume> volumes = platform::ListVolumes();
  for (size_t i = 0; i < volumes.size(); ++i)
    if (volumes[i].MountPoint == volume.MountPoint) return static_cast<int>(i) + 1;
  return 0;
}

bool DriveInformation(const std::string& path, std::string& label, std::string& fileSystem,
                      std::string& serial, double& totalKiB, double& freeKiB) {
  ProcScope scope("DriveInformation");
  label.clear();
  fileSystem.clear();
  serial.clear();
  totalKiB = 0;
  freeKiB = 0;
  platform::Volume volume;
  if (path.empty() || !platform::VolumeOf(path, volume)) return false;
  label = volume.Label;
  fileSystem = volume.FsName;
  totalKiB = static_cast<double>(volume.TotalBytes) / 1024.0;
  freeKiB = static_cast<double>(volume.FreeBytes) / 1024.0;
  // Space and id are those of the file system that holds the path itself:
  // a folder may lie on one the drive list leaves out (a tmpfs under /tmp).
  struct statvfs info {};
  bool own = statvfs(path.c_str(), &info) == 0;
  if (own) {
    totalKiB = static_cast<double>(uint64_t(info.f_blocks) * info.f_frsize) / 1024.0;
    freeKiB = static_cast<double>(uint64_t(info.f_bavail) * info.f_frsize) / 1024.0;
  }
  if (own || statvfs(volume.MountPoint.c_str(), &info) == 0) {
    const uint32_t id = static_cast<uint32_t>(info.f_fsid);
    char text[16];
    std::snprintf(text, sizeof text, "%04X-%04X", id >> 16, id & 0xFFFFu);
    serial = text;
  }
  return true;
}

void SeparatePathComponents(const std::string& path, std::string& folder, std::string& name,
                            std::string& extension, const char* separators) {
  ProcScope scope("SeparatePathComponents");
  folder.clear();
  extension.clear();
  std::string rest = path;
  const size_t slash = path.find_last_of(separators ? separators : "\\/");
  if (slash != std::string::npos) {
    folder = path.substr(0, slash + 1);
    rest = path.substr(slash + 1);
  }
  const size_t dot = rest.rfind('.');
  if (dot != std::string::npos) {
    extension = rest.substr(dot + 1);
    name = rest.substr(0, dot);
  } else {
    name = rest;
  }
}

namespace {
// The length of UTF-8 text cut to at most `limit` bytes without splitting a
// character.
size_t Utf8Cut(const std::string& text, size_t limit) {
  if (text.size() <= limit) return text.size();
  size_t cut = limit;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  return cut;
}
}  // namespace

std::string SafePcComponent(const std::string& utf8Name) {
  std::string safe;
  safe.reserve(utf8Name.size());
  for (size_t i = 0; i < utf8Name.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(utf8Name[i]);
    if (c < 0x20 || c == 0x7F || c == '/') {
      safe.push_back('_');
    } else if (c == 0xC2 && i + 1 < utf8Name.size() &&
               static_cast<unsigned char>(utf8Name[i + 1]) >= 0x80 &&
               static_cast<unsigned char>(utf8Name[i + 1]) <= 0x9F) {
      safe.push_back('_');   // C1 control (from the bytes 1252 leaves undefined)
      ++i;
    } else {
      safe.push_back(static_cast<char>(c));
    }
  }
  if (safe == ".") safe = "_";
  if (safe == "..") safe = "__";
  if (safe.size() <= kMaxPcNameBytes) return safe;
  // Too long: the name part gives way, so that "." and the extension stay,
  // when at least one of its characters can stay.
  const size_t dot = safe.rfind('.');
  if (dot != std::string::npos && dot > 0 && safe.size() - dot < kMaxPcNameBytes) {
    const size_t keep = Utf8Cut(safe, kMaxPcNameBytes - (safe.size() - dot));
    if (keep > 0) return safe.substr(0, keep) + safe.substr(dot);
  }
  safe.resize(Utf8Cut(safe, kMaxPcNameBytes));
  return safe;
}

std::string CleanupFileNameComponent(const std::string& recorderName) {
  ProcScope scope("CleanupFileName");
  // The recorder's name ends at a NUL byte.
  std::string source = recorderName.substr(0, recorderName.find('\0'));
  std::string adapted;
  if (!source.empty()) {
    // Every replacement at most doubles a character (Æ -> Ae); room to spare.
    std::vector<char> buffer(source.size() * 2 + 512, '\0');
    qlib::AdaptFilename(source.c_str(), buffer.data());
    buffer.back() = '\0';
    adapted = buffer.data();
  }
  return SafePcComponent(platform::Cp1252ToUtf8(adapted));
}

std::string CleanupFileName(const std::string& path) {
  const size_t slash = path.find_last_of("\\/");
  if (slash == std::string::npos) return CleanupFileNameComponent(path);
  return path.substr(0, slash + 1) + CleanupFileNameComponent(path.substr(slash + 1));
}

namespace {
// Date value (days since 30 Dec 1899, time as the fraction) -> the moment it
// names as local time. A value that shows the same local time as `shown`
// (the file's time now) is that very moment: an unchanged date leaves the
// file as it was, also in the hour that summer time's end repeats. Any other
// value is the moment platform::LocalToUnix names, at the offset of `shown`
// where the local time has two.
bool DateValueToTime(double value, const struct timespec& shown, struct timespec& out) {
  if (!std::isfinite(value) || value < -657434.0 || value > 2958466.0) return false;
  const DateParts p = SplitDateValue(value);
  const platform::LocalTime wanted{p.Year, p.Month, p.Day, p.Hour, p.Minute, p.Second};
  if (platform::ToLocalTime(shown.tv_sec) == wanted) {
    out = shown;
    return true;
  }
  int64_t t = 0;
  if (!platform::LocalToUnix(wanted, t, shown.tv_sec)) return false;
  out.tv_sec = static_cast<std::time_t>(t);
  out.tv_nsec = 0;
  return true;
}

// The times to set on a file whose state is `info`.
bool TimesFor(const struct stat& info, double accessed, double written, struct timespec times[2]) {
  return DateValueToTime(accessed, info.st_mtim, times[0]) &&
         DateValueToTime(written, info.st_mtim, times[1]);
}
}  // namespace

bool FileDateTimeSet(const std::string& path, double created, double accessed, double written) {
  ProcScope scope("FileDateTimeSet");
  (void)created;
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return false;
  struct timespec times[2];
  if (!TimesFor(info, accessed, written, times)) return false;
  return utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

bool FileDateTimeSet(int handle, double created, double accessed, double written) {
  ProcScope scope("FileDateTimeSet");
  (void)created;
  struct stat info {};
  if (handle < 3 || fstat(handle, &info) != 0) return false;
  struct timespec times[2];
  if (!TimesFor(info, accessed, written, times)) return false;
  return futimens(handle, times) == 0;
}

void MakePath(const std::string& folder) {
  ProcScope scope("MakePath");
  if (!folder.empty()) platform::MakePath(folder);
}

double GetFileLen(int handle) {
  ProcScope scope("GetFileLen");
  const int64_t size = platform::DriveSize(handle);
  return size < 0 ? -1.0 : static_cast<double>(size);
}

bool Execute(const std::string& file, bool print, const std::string& folder, int showMode) {
  ProcScope scope("Execute");
  (void)folder;
  (void)showMode;
  return ui::Current().OpenWithDesktop(file, print);
}

void SavePcFile(const std::string& path, const void* data, size_t length) {
  if (!platform::PcFileReplace(path, data, length)) RaisePcFileError(path);
}

}  // namespace core
