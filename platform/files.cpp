// PC files and folders: times, lengths, listing, removal.
#include "platform/internal.h"
#include "platform/platform.h"

#include <cerrno>
#include <climits>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

using detail::SetLastError;

int64_t FileLength(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    SetLastError(errno);
    return -1;
  }
  if (S_ISREG(st.st_mode)) return static_cast<int64_t>(st.st_size);
  if (S_ISBLK(st.st_mode)) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      SetLastError(errno);
      return -1;
    }
    uint64_t bytes = 0;
    int rc = ioctl(fd, BLKGETSIZE64, &bytes);
    int error = errno;
    close(fd);
    if (rc != 0) {
      SetLastError(error);
      return -1;
    }
    return static_cast<int64_t>(bytes);
  }
  SetLastError(EISDIR);
  return -1;
}

std::string ExeDir() {
  char buffer[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return "./";
  std::string path(buffer, static_cast<size_t>(n));
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? "./" : path.substr(0, slash + 1);
}

namespace {

bool SyncPath(const std::string& path, int flags) {
  int fd;
  // Never waits in the open, whatever the name names by now (a pipe).
  do fd = open(path.c_str(), flags | O_CLOEXEC | O_NONBLOCK);
  while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    SetLastError(errno);
    return false;
  }
  struct stat st;
  if (fstat(fd, &st) != 0 || (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode))) {
    SetLastError(EINVAL);   // nothing a sync could keep
    close(fd);
    return false;
  }
  int rc;
  do rc = fsync(fd);
  while (rc != 0 && errno == EINTR);
  // A file system that has no such flush (some network and FUSE ones) writes through.
  if (rc != 0 && (errno == EINVAL || errno == EOPNOTSUPP)) rc = 0;
  if (rc != 0) SetLastError(errno);
  close(fd);
  return rc == 0;
}

}  // namespace

bool SyncFile(const std::string& path) {
  const size_t cut = path.rfind('/');
  const std::string folder = cut == std::string::npos ? "." : cut == 0 ? "/" : path.substr(0, cut);
  return SyncPath(path, O_RDONLY | O_NOFOLLOW) && SyncPath(folder, O_RDONLY | O_DIRECTORY);
}

void SleepMs(int milliseconds) {
  if (milliseconds <= 0) return;
  struct timespec ts;
  ts.tv_sec = milliseconds / 1000;
  ts.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

bool ListFolder(const std::string& folder, std::vector<FolderEntry>& entries) {
  entries.clear();
  int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    SetLastError(errno);
    return false;
  }
  DIR* dir = fdopendir(fd);
  if (!dir) {
    SetLastError(errno);
    close(fd);
    return false;
  }
  errno = 0;
  while (dirent* e = readdir(dir)) {
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    FolderEntry entry;
    entry.Name = name;
    entry.Hidden = name[0] == '.';
    struct stat st;
    if (fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;   // gone meanwhile
    entry.ModifiedTime = static_cast<int64_t>(st.st_mtime);
    entry.Mode = static_cast<unsigned>(st.st_mode);
    if (S_ISLNK(st.st_mode)) {
      entry.IsSymlink = true;
      entry.Mode = 0;
      struct stat target;
      if (fstatat(fd, name.c_str(), &target, 0) != 0) {
        entry.LinkError = errno;
      } else {
        entry.Mode = static_cast<unsigned>(target.st_mode);
        entry.LinkToDir = S_ISDIR(target.st_mode);
        entry.IsRegular = S_ISREG(target.st_mode);
        if (entry.IsRegular) entry.Size = static_cast<int64_t>(target.st_size);
        entry.ModifiedTime = static_cast<int64_t>(target.st_mtime);
      }
    } else if (S_ISDIR(st.st_mode)) {
      entry.IsDir = true;
    } else if (S_ISREG(st.st_mode)) {
      entry.IsRegular = true;
      entry.Size = static_cast<int64_t>(st.st_size);
    }
    entries.push_back(std::move(entry));
    errno = 0;
  }
  int error = errno;
  closedir(dir);
  if (error != 0) {
    SetLastError(error);
    return false;
  }
  return true;
}

LocalTime ToLocalTime(int64_t unixSeconds) {
  std::time_t t = static_cast<std::time_t>(unixSeconds);
  std::tm tm{};
  LocalTime lt;
  if (!localtime_r(&t, &tm)) return lt;
  lt.Year = tm.tm_year + 1900;
  lt.Month = tm.tm_mon + 1;
  lt.Day = tm.tm_mday;
  lt.Hour = tm.tm_hour;
  lt.Minute = tm.tm_min;
  lt.Second = tm.tm_sec;
  return lt;
}

namespace {
// Offset from UTC in seconds of the local time at `t`; false when the
// moment lies outside what the system converts.
bool OffsetAt(int64_t t, long& offset) {
  const std::time_t when = static_cast<std::time_t>(t);
  std::tm tm{};
  if (!localtime_r(&when, &tm)) return false;
  offset = tm.tm_gmtoff;
  return true;
}
}  // namespace

bool LocalToUnix(const LocalTime& local, int64_t& unixSeconds, int64_t reference) {
  // The wall time read as if it were UTC; the moment is that less the
  // offset in force at the moment.
  std::tm tm{};
  tm.tm_year = local.Year - 1900;
  tm.tm_mon = local.Month - 1;
  tm.tm_mday = local.Day;
  tm.tm_hour = local.Hour;
  tm.tm_min = local.Minute;
  tm.tm_sec = local.Second;
  const std::time_t wallTime = timegm(&tm);
  if (wallTime == static_cast<std::time_t>(-1) &&
      !(local.Year == 1969 && local.Month == 12 && local.Day == 31)) {
    return false;
  }
  const int64_t wall = wallTime;
  // Offsets change at most once within a day on either side: the offsets
  // of a day before and after and of the wall time itself are every offset
  // the time can have.
  constexpr int64_t kDay = 86400;
  long before = 0, at = 0, after = 0, wanted = LONG_MIN;
  if (!OffsetAt(wall - kDay, before) || !OffsetAt(wall, at) || !OffsetAt(wall + kDay, after))
    return false;
  if (reference != INT64_MIN && !OffsetAt(reference, wanted)) wanted = LONG_MIN;
  bool found = false;
  int64_t best = 0;
  for (const long offset : {before, at, after}) {
    const int64_t candidate = wall - offset;
    long check = 0;
    if (!OffsetAt(candidate, check) || check != offset) continue;   // not shown at that offset
    if (offset == wanted) {
      best = candidate;
      found = true;
      break;
    }
    if (!found || candidate < best) best = candidate;
    found = true;
  }
  unixSeconds = found ? best : wall - before;
  return true;
}

}  // namespace platform
