// Raw drives and PC files as handles: "PhysicalDriveN" resolution, open,
// whole-buffer transfers at 64-bit offsets, size and geometry.
#include "platform/internal.h"
#include "platform/platform.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

thread_local int lastError = 0;

bool StartsWith(const std::string& s, const char* prefix) {
  return s.compare(0, std::strlen(prefix), prefix) == 0;
}

// Whole-disk block devices under /sys/block, in name order.
std::vector<std::string> SystemDisks() {
  std::vector<std::string> names;
  DIR* dir = opendir("/sys/block");
  if (!dir) return names;
  while (dirent* e = readdir(dir)) {
    std::string name = e->d_name;
    if (name.empty() || name[0] == '.') continue;
    static const char* const kLeftOut[] = {"loop", "ram", "zram", "dm-", "md", "sr", "fd"};
    bool skip = false;
    for (const char* p : kLeftOut) skip = skip || StartsWith(name, p);
    if (!skip) names.push_back(name);
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

// "PhysicalDriveN" (case ignored, N = 0..31 in plain decimal) -> N, else -1.
int DriveNumberOf(const std::string& name) {
  static const char kPrefix[] = "physicaldrive";
  const size_t n = sizeof(kPrefix) - 1;
  if (name.size() <= n || name.size() > n + 2) return -1;
  for (size_t i = 0; i < n; ++i)
    if (std::tolower(static_cast<unsigned char>(name[i])) != kPrefix[i]) return -1;
  int number = 0;
  for (size_t i = n; i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9') return -1;
    number = number * 10 + (name[i] - '0');
  }
  if (name.size() == n + 2 && name[n] == '0') return -1;   // no leading zero
  return number < kMaxDrives ? number : -1;
}

}  // namespace

void detail::SetLastError(int error) { lastError = error; }

int LastError() { return lastError; }

std::string ResolveDrive(int n, int* error) {
  int dummy = 0;
  int& why = error ? *error : dummy;
  why = ENOENT;
  if (n < 0 || n >= kMaxDrives) return "";
  // A set QUENBRIX_DEVICES always wins, even when its folder is missing:
  // a test or demo run must never fall through to the machine's real disks.
  const char* devices = std::getenv("QUENBRIX_DEVICES");
  if (devices && *devices) {
    std::string path = std::string(devices) + "/PhysicalDrive" + std::to_string(n);
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
      // Something is there that cannot be reached (a folder the user may
      // not enter, a loop of links): that is the reason, not "no drive".
      if (errno != ENOENT && errno != ENOTDIR) why = errno;
      return "";
    }
    if (!S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode)) return "";
    why = 0;
    return path;
  }
  std::vector<std::string> disks = SystemDisks();
  if (static_cast<size_t>(n) >= disks.size()) return "";
  why = 0;
  return "/dev/" + disks[n];
}

int DriveOpen(const std::string& name, bool write) {
  std::string path = name;
  int number = DriveNumberOf(name);
  if (number < 0) return PcFileOpen(name, write);   // a PC file, never a drive
  if (number >= 0) {
    int why = ENOENT;
    path = ResolveDrive(number, &why);
    if (path.empty()) {
      lastError = why;
      return -1;
    }
    if (write) return detail::OpenHeldDrive(path);
  }
  if (path.empty()) {
    lastError = ENOENT;
    return -1;
  }
  int flags = (write ? (O_RDWR | O_DSYNC) : O_RDONLY) | O_CLOEXEC;
  int fd;
  do {
    fd = open(path.c_str(), flags);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    lastError = errno;
    return -1;
  }
  if (fd < 3) {
    // Handles below 1 mean failure to the callers, and 0..2 belong to the
    // standard streams: move the descriptor up.
    int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    int error = errno;
    close(fd);
    if (moved < 0) {
      lastError = error;
      return -1;
    }
    fd = moved;
  }
  lastError = 0;
  return fd;
}

void DriveClose(int handle) {
  if (handle < 3) return;
  detail::ReleaseHeldDrive(handle);
  close(handle);
}

bool DriveInUse(const std::string& name) {
  const int number = DriveNumberOf(name);
  const std::string path = number >= 0 ? ResolveDrive(number) : "";
  return !path.empty() && detail::DriveHeldElsewhere(path);
}

bool ReadAt(int handle, uint64_t offset, void* buffer, size_t length) {
  if (handle < 3 || offset > static_cast<uint64_t>(INT64_MAX) - length) {
    lastError = EINVAL;
    return false;
  }
  auto* p = static_cast<uint8_t*>(buffer);
  size_t done = 0;
  while (done < length) {
    ssize_t n = pread(handle, p + done, length - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      lastError = errno;
      return false;
    }
    if (n == 0) {           // end of the device or file before the whole length
      lastError = EIO;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

bool WriteAt(int handle, uint64_t offset, const void* buffer, size_t length) {
  if (handle < 3 || offset > static_cast<uint64_t>(INT64_MAX) - length) {
    lastError = EINVAL;
    return false;
  }
  if (const int fault = detail::PcFault(PcCall::Write, std::string(), handle)) {
    lastError = fault;
    return false;
  }
  const auto* p = static_cast<const uint8_t*>(buffer);
  size_t done = 0;
  while (done < length) {
    ssize_t n = pwrite(handle, p + done, length - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      lastError = errno;
      return false;
    }
    if (n == 0) {
      lastError = ENOSPC;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

int64_t DriveSize(int handle) {
  struct stat st;
  if (handle < 3 || fstat(handle, &st) != 0) {
    lastError = handle < 3 ? EBADF : errno;
    return -1;
  }
  if (S_ISBLK(st.st_mode)) {
    uint64_t bytes = 0;
    if (ioctl(handle, BLKGETSIZE64, &bytes) != 0) {
      lastError = errno;
      return -1;
    }
    return static_cast<int64_t>(bytes);
  }
  if (S_ISREG(st.st_mode)) return static_cast<int64_t>(st.st_size);
  lastError = EINVAL;
  return -1;
}

bool PunchHole(int handle, uint64_t offset, uint64_t length) {
  struct stat st;
  if (handle < 3 || length == 0 || fstat(handle, &st) != 0 || !S_ISREG(st.st_mode) ||
      offset > uint64_t(st.st_size) || length > uint64_t(st.st_size) - offset)
    return false;
  int result;
  do {
    result = fallocate(handle, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, off_t(offset),
                       off_t(length));
  } while (result != 0 && errno == EINTR);
  if (result != 0) {
    lastError = errno;
    return false;
  }
  return true;
}

bool GetDriveGeometry(int handle, DriveGeometry& geometry) {
  int64_t size = DriveSize(handle);
  if (size < 0) {
    geometry.Cylinders = 0;
    geometry.TracksPerCylinder = 0;
    geometry.SectorsPerTrack = 0;
    geometry.BytesPerSector = 0;
    return false;
  }
  geometry.BytesPerSector = 512;
  geometry.SectorsPerTrack = 63;
  geometry.TracksPerCylinder = 255;
  geometry.Cylinders = size / 512 / (255 * 63);
  return true;
}

}  // namespace platform
