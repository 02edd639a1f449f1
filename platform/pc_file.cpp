// PC files as handles: an open that can never block, and what is done with
// an open PC file afterwards (its state, length, times and sync) through its
// descriptor, so that only that file is ever touched whatever happens to
// its name meanwhile.
#include "platform/internal.h"
#include "platform/platform.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

using detail::SetLastError;

namespace {

void Fill(const struct stat& st, FileState& state) {
  state.Mode = static_cast<unsigned>(st.st_mode);
  state.Regular = S_ISREG(st.st_mode);
  state.Device = static_cast<uint64_t>(st.st_dev);
  state.Inode = static_cast<uint64_t>(st.st_ino);
  state.Size = static_cast<int64_t>(st.st_size);
  state.ModifiedNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

int Fail(int error) {
  SetLastError(error);
  return -1;
}

}  // namespace

bool HandleState(int handle, FileState& state) {
  state = FileState();
  struct stat st;
  if (handle < 3 || fstat(handle, &st) != 0) {
    SetLastError(handle < 3 ? EBADF : errno);
    return false;
  }
  Fill(st, state);
  return true;
}

bool PathState(const std::string& path, FileState& state) {
  state = FileState();
  struct stat st;
  if (path.empty() || stat(path.c_str(), &st) != 0) {
    SetLastError(path.empty() ? ENOENT : errno);
    return false;
  }
  Fill(st, state);
  return true;
}

int PcFileOpen(const std::string& path, bool write, FileState* opened) {
  FileState local;
  FileState& state = opened ? *opened : local;
  // What is not a regular file is refused before it is opened at all: a
  // pipe would block the open, a device may act on being opened.
  if (!PathState(path, state)) return -1;
  if (!state.Regular) return Fail(EINVAL);
  const int flags =
      (write ? (O_RDWR | O_DSYNC) : O_RDONLY) | O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
  int fd;
  do fd = open(path.c_str(), flags);
  while (fd < 0 && errno == EINTR);
  if (fd < 0) return Fail(errno);
  // Replaced by something else between the look and the open: the
  // non-blocking open returned at once; refuse it now.
  struct stat st;
  if (fstat(fd, &st) != 0) {
    const int error = errno;
    close(fd);
    return Fail(error);
  }
  Fill(st, state);
  if (!state.Regular) {
    close(fd);
    return Fail(EINVAL);
  }
  // Reads and writes of a regular file never wait anyway; clear the flag so
  // that nothing later takes the descriptor for a non-blocking one.
  const int status = fcntl(fd, F_GETFL);
  if (status >= 0) fcntl(fd, F_SETFL, status & ~O_NONBLOCK);
  if (fd < 3) {
    // Handles below 1 mean failure to the callers, and 0..2 belong to the
    // standard streams: move the descriptor up.
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    const int error = errno;
    close(fd);
    if (moved < 0) return Fail(error);
    fd = moved;
  }
  SetLastError(0);
  return fd;
}

bool SameFile(const FileState& a, const FileState& b) {
  return a.Device == b.Device && a.Inode == b.Inode;
}

bool TruncateHandle(int handle, int64_t length) {
  if (handle < 3 || length < 0) {
    SetLastError(EINVAL);
    return false;
  }
  int rc;
  do rc = ftruncate(handle, static_cast<off_t>(length));
  while (rc != 0 && errno == EINTR);
  if (rc != 0) SetLastError(errno);
  return rc == 0;
}

bool SyncHandle(int handle) {
  if (handle < 3) {
    SetLastError(EBADF);
    return false;
  }
  int rc;
  do rc = fsync(handle);
  while (rc != 0 && errno == EINTR);
  // A file system that has no such flush (some network and FUSE ones) writes through.
  if (rc != 0 && (errno == EINVAL || errno == EOPNOTSUPP)) rc = 0;
  if (rc != 0) SetLastError(errno);
  return rc == 0;
}

}  // namespace platform
