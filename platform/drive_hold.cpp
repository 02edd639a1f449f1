// A drive opened for writing is this program's alone for as long as any
// handle of it is open. A block device is opened with O_EXCL, as mkfs and
// fsck open a disk: the kernel refuses it (EBUSY) while a partition of it is
// mounted or another program holds it so. On top of that every write open
// takes an advisory lock (flock), which covers image files, where O_EXCL
// means nothing, and which another copy of these programs meets.
//
// Both are per open file description: a second O_EXCL open or flock in this
// same process would refuse this process itself. So the first write open of
// a drive keeps one description (an anchor descriptor of its own), and every
// further write open of that drive here - both panes, a reopen, a drive list
// - gets a duplicate of it. The hold ends when the last of them is closed.
#include <fcntl.h>
#include <glob.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <tuple>

#include "platform/internal.h"

namespace platform::detail {

namespace {

// A block device by its device number (any node or link naming it), a file
// by its file system and inode.
struct DriveKey {
  bool Device = false;
  dev_t Dev = 0;
  ino_t Ino = 0;
  bool operator<(const DriveKey& other) const {
    return std::tie(Device, Dev, Ino) < std::tie(other.Device, other.Dev, other.Ino);
  }
};

DriveKey KeyOf(const struct stat& st) {
  if (S_ISBLK(st.st_mode)) return {true, st.st_rdev, 0};
  return {false, st.st_dev, st.st_ino};
}

struct Hold {
  int Anchor = -1;   // the held description, never handed out
  int Users = 0;     // handles handed out and not closed yet
};

std::mutex holdMutex;
std::map<DriveKey, Hold> holds;
std::map<int, DriveKey> handleKeys;

int Fail(int error) {
  SetLastError(error);
  return -1;
}

// A duplicate of `fd` at 3 or above (0 to 2 are the standard streams, and
// handles below 1 mean failure); -1 when none can be made.
int DuplicateAbove2(int fd) { return fcntl(fd, F_DUPFD_CLOEXEC, 3); }

// True when a loop device of the system has the file `st` as its backing
// file: whatever is on it belongs to that loop device (mounted perhaps), and
// writes to the file would go under it.
bool BacksLoopDevice(const struct stat& st) {
  glob_t found{};
  if (glob("/sys/block/loop*/loop/backing_file", 0, nullptr, &found) != 0) return false;
  bool backs = false;
  for (size_t i = 0; i < found.gl_pathc && !backs; ++i) {
    std::ifstream in(found.gl_pathv[i]);
    std::string path;
    std::getline(in, path);
    struct stat backing;
    backs = !path.empty() && stat(path.c_str(), &backing) == 0 && backing.st_dev == st.st_dev &&
            backing.st_ino == st.st_ino;
  }
  globfree(&found);
  return backs;
}

int OpenRetried(const std::string& path, int flags) {
  int fd;
  do {
    fd = open(path.c_str(), flags);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// True when another open file description holds the lock of `fd`. On a
// block device udev takes a shared lock for the moment it looks at a disk
// (after every close of a write handle, say): that is waited for a second.
bool LockedElsewhere(int fd, bool device) {
  for (int attempt = device ? 20 : 1;; --attempt) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) return false;
    // Where the file system has no locks, nothing else can hold one either.
    if (errno != EWOULDBLOCK && errno != EINTR) return false;
    if (attempt <= 1) return true;
    usleep(50000);
  }
}

int Share(const DriveKey& key, Hold& hold) {
  const int fd = DuplicateAbove2(hold.Anchor);
  if (fd < 0) return Fail(errno);
  ++hold.Users;
  handleKeys[fd] = key;
  return fd;
}

}  // namespace

int OpenHeldDrive(const std::string& path) {
  std::lock_guard<std::mutex> lock(holdMutex);
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return Fail(errno);
  if (auto held = holds.find(KeyOf(st)); held != holds.end()) return Share(held->first, held->second);
  if (S_ISREG(st.st_mode) && BacksLoopDevice(st)) return Fail(EBUSY);

  const bool device = S_ISBLK(st.st_mode);
  const int opened = OpenRetried(path, O_RDWR | O_DSYNC | O_CLOEXEC | (device ? O_EXCL : 0));
  if (opened < 0) return Fail(errno);
  const int fd = DuplicateAbove2(opened);
  const int error = errno;
  close(opened);
  if (fd < 0) return Fail(error);
  auto refuse = [fd](int why) {
    close(fd);
    return Fail(why);
  };
  struct stat now;
  if (fstat(fd, &now) != 0) return refuse(errno);
  // Replaced between the look and the open: not what was looked at.
  if (S_ISBLK(now.st_mode) != device || (!device && BacksLoopDevice(now))) return refuse(EBUSY);
  if (LockedElsewhere(fd, device)) return refuse(EBUSY);
  Hold hold;
  hold.Anchor = DuplicateAbove2(fd);
  if (hold.Anchor < 0) return refuse(errno);
  hold.Users = 1;
  holds[KeyOf(now)] = hold;
  handleKeys[fd] = KeyOf(now);
  return fd;
}

void ReleaseHeldDrive(int handle) {
  std::lock_guard<std::mutex> lock(holdMutex);
  const auto found = handleKeys.find(handle);
  if (found == handleKeys.end()) return;
  const auto held = holds.find(found->second);
  handleKeys.erase(found);
  if (held != holds.end() && --held->second.Users <= 0) {
    close(held->second.Anchor);
    holds.erase(held);
  }
}

bool DriveHeldElsewhere(const std::string& path) {
  std::lock_guard<std::mutex> lock(holdMutex);
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return false;
  if (holds.count(KeyOf(st))) return false;
  if (S_ISREG(st.st_mode) && BacksLoopDevice(st)) return true;
  // Read only, but claimed for the moment of the look as a write open claims.
  const int fd = OpenRetried(path, O_RDONLY | O_CLOEXEC | (S_ISBLK(st.st_mode) ? O_EXCL : 0));
  if (fd < 0) return errno == EBUSY;
  const bool busy = LockedElsewhere(fd, S_ISBLK(st.st_mode));
  close(fd);
  return busy;
}

}  // namespace platform::detail
