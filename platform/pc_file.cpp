// PC files as handles: an open that can never block, and what is done with
// an open PC file afterwards (its state, length, times and sync) through its
// descriptor, so that only that file is ever touched whatever happens to
// its name meanwhile.
#include "platform/internal.h"
#include "platform/platform.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
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

// ------------------------------------------------------ safe PC-file writes

namespace platform {

namespace {

bool Refuse(int error) {
  SetLastError(error);
  return false;
}

int Raise(int fd) {
  if (fd >= 3) return fd;
  const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
  const int error = errno;
  close(fd);
  if (moved < 0) return Fail(error);
  return moved;
}

int OpenNew(const std::string& path, unsigned mode) {
  if (path.empty()) return Fail(ENOENT);
  int fd;
  do fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY,
               static_cast<mode_t>(mode));
  while (fd < 0 && errno == EINTR);
  if (fd < 0) return Fail(errno);
  const int status = fcntl(fd, F_GETFL);
  if (status >= 0) fcntl(fd, F_SETFL, status & ~O_NONBLOCK);
  return Raise(fd);
}

// Removes a file this program has just created, when the name still names it.
void RemoveCreated(const std::string& path, const FileState& created) {
  FileState now;
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return;
  now.Device = static_cast<uint64_t>(st.st_dev);
  now.Inode = static_cast<uint64_t>(st.st_ino);
  if (SameFile(now, created)) unlink(path.c_str());
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

void SyncFolder(const std::string& folder) {
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

}  // namespace

int PcFileCreate(const std::string& path, unsigned mode) {
  const int fd = OpenNew(path, mode);
  if (fd >= 3) SetLastError(0);
  return fd;
}

int PcFileCreateFree(std::string& path, unsigned mode) {
  int fd = OpenNew(path, mode);
  if (fd >= 3 || LastError() != EEXIST) return fd;
  const size_t slash = path.rfind('/');
  const size_t dot = path.rfind('.');
  const bool hasExt = dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
  const std::string stem = hasExt ? path.substr(0, dot) : path;
  const std::string ext = hasExt ? path.substr(dot) : std::string();
  for (int n = 2; n < 10000; ++n) {
    const std::string candidate = stem + "_" + std::to_string(n) + ext;
    fd = OpenNew(candidate, mode);
    if (fd >= 3) {
      path = candidate;
      SetLastError(0);
      return fd;
    }
    if (LastError() != EEXIST) return -1;
  }
  return Fail(EEXIST);
}

bool PcFileWriteAll(int handle, const void* data, size_t length) {
  const char* p = static_cast<const char*>(data);
  while (length > 0) {
    const ssize_t n = write(handle, p, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      SetLastError(n < 0 ? errno : ENOSPC);
      return false;
    }
    p += n;
    length -= static_cast<size_t>(n);
  }
  return true;
}

bool PcFileClose(int handle) {
  if (handle < 3) {
    SetLastError(EBADF);
    return false;
  }
  const bool synced = SyncHandle(handle);
  const int error = synced ? 0 : LastError();
  if (close(handle) != 0 && synced) {
    SetLastError(errno == EINTR ? EIO : errno);
    return false;
  }
  if (!synced) SetLastError(error);
  return synced;
}

namespace {

// Writes `data` into a file just created through `fd` at `path`, flushes and
// checks its length; on any failure the file is removed again.
bool FillNew(int fd, const std::string& path, const void* data, size_t length) {
  FileState created;
  HandleState(fd, created);
  bool ok = PcFileWriteAll(fd, data, length);
  int error = ok ? 0 : LastError();
  if (ok) {
    FileState written;
    if (!HandleState(fd, written) || written.Size != static_cast<int64_t>(length)) {
      ok = false;
      error = ENOSPC;
    }
  }
  if (!PcFileClose(fd) && ok) {
    ok = false;
    error = LastError();
  }
  if (!ok) {
    RemoveCreated(path, created);
    SetLastError(error);
    return false;
  }
  SetLastError(0);
  return true;
}

}  // namespace

bool PcFileWriteNew(const std::string& path, const void* data, size_t length, unsigned mode) {
  const int fd = OpenNew(path, mode);
  return fd >= 0 && FillNew(fd, path, data, length);
}

bool PcFileWriteFree(std::string& path, const void* data, size_t length, unsigned mode) {
  std::string name = path;
  const int fd = PcFileCreateFree(name, mode);
  if (fd < 0 || !FillNew(fd, name, data, length)) return false;
  path = name;
  return true;
}

bool PcFileReplaceBegin(const std::string& path, PcFileReplacement& r) {
  r = PcFileReplacement();
  if (path.empty()) return Refuse(ENOENT);
  unsigned mode = 0644;
  struct stat st;
  if (lstat(path.c_str(), &st) == 0) {
    if (S_ISLNK(st.st_mode)) {
      // The link itself is replaced; but what it leads to must be a regular
      // file or nothing, never a device or a pipe someone aims it at.
      struct stat target;
      if (stat(path.c_str(), &target) == 0 && !S_ISREG(target.st_mode)) return Refuse(EINVAL);
    } else if (!S_ISREG(st.st_mode)) {
      return Refuse(EINVAL);
    } else {
      mode = static_cast<unsigned>(st.st_mode) & 07777;
    }
  } else if (errno != ENOENT) {
    return Refuse(errno);
  }
  int fd = -1;
  std::string temp;
  for (int n = 0; n < 100 && fd < 0; ++n) {
    temp = path + ".tmp" + std::to_string(getpid()) + "_" + std::to_string(n);
    fd = OpenNew(temp, 0600);
    if (fd < 0 && LastError() != EEXIST) return false;
  }
  if (fd < 0) return false;
  r.Handle = fd;
  r.Path = path;
  r.Temp = temp;
  r.Mode = mode;
  HandleState(fd, r.Created);
  SetLastError(0);
  return true;
}

bool PcFileReplaceCommit(PcFileReplacement& r) {
  if (r.Handle < 3) return Refuse(EBADF);
  bool ok = true;
  int error = 0;
  if (fchmod(r.Handle, static_cast<mode_t>(r.Mode)) != 0) {
    // Only the mode is lost; the content is what counts.
  }
  FileState written;
  if (HandleState(r.Handle, written) && written.Size != r.Written) {
    ok = false;
    error = ENOSPC;
  }
  if (!PcFileClose(r.Handle) && ok) {
    ok = false;
    error = LastError();
  }
  r.Handle = -1;
  if (ok && rename(r.Temp.c_str(), r.Path.c_str()) != 0) {
    ok = false;
    error = errno;
  }
  if (!ok) {
    RemoveCreated(r.Temp, r.Created);
    SetLastError(error);
    return false;
  }
  SyncFolder(FolderOf(r.Path));
  SetLastError(0);
  return true;
}

void PcFileReplaceAbort(PcFileReplacement& r) {
  const int error = LastError();
  if (r.Handle >= 3) close(r.Handle);
  r.Handle = -1;
  if (!r.Temp.empty()) RemoveCreated(r.Temp, r.Created);
  r.Temp.clear();
  SetLastError(error);
}

bool PcFileReplaceWrite(PcFileReplacement& r, const void* data, size_t length) {
  if (r.Handle < 3) return Refuse(EBADF);
  if (!PcFileWriteAll(r.Handle, data, length)) return false;
  r.Written += static_cast<int64_t>(length);
  return true;
}

bool PcFileReplace(const std::string& path, const void* data, size_t length) {
  PcFileReplacement r;
  if (!PcFileReplaceBegin(path, r)) return false;
  if (!PcFileReplaceWrite(r, data, length)) {
    PcFileReplaceAbort(r);
    return false;
  }
  return PcFileReplaceCommit(r);
}

int PcFileAppend(const std::string& path) {
  int fd = OpenNew(path, 0600);
  if (fd < 0 && LastError() == EEXIST) {
    do fd = open(path.c_str(), O_WRONLY | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) return Fail(errno == ELOOP ? EPERM : errno);
    struct stat st;
    // A second name of the file (a hard link someone made to a file of
    // another's) does not count as the user's own log either.
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1 ||
        !IsRunningUser(st.st_uid)) {
      close(fd);
      return Fail(EPERM);
    }
    const int status = fcntl(fd, F_GETFL);
    if (status >= 0) fcntl(fd, F_SETFL, status & ~O_NONBLOCK);
    fd = Raise(fd);
  } else if (fd >= 3) {
    const int status = fcntl(fd, F_GETFL);
    if (status >= 0) fcntl(fd, F_SETFL, status | O_APPEND);
  }
  if (fd >= 3) SetLastError(0);
  return fd;
}

bool PcFileRead(const std::string& path, std::string& data, int64_t limit) {
  data.clear();
  FileState state;
  const int fd = PcFileOpen(path, false, &state);
  if (fd < 0) return false;
  if (state.Size > limit) {
    close(fd);
    return Refuse(EFBIG);
  }
  data.resize(static_cast<size_t>(state.Size));
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = read(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int error = errno;
      close(fd);
      data.clear();
      return Refuse(error);
    }
    if (n == 0) break;   // cut short meanwhile
    done += static_cast<size_t>(n);
  }
  data.resize(done);
  close(fd);
  SetLastError(0);
  return true;
}

}  // namespace platform

// ------------------------------------------------- trusted configuration

namespace platform {

bool IsRunningUser(unsigned uid) {
  if (uid == geteuid() || uid == getuid()) return true;
  // Run through sudo: the user who called it is the one at the keyboard.
  if (geteuid() != 0) return false;
  const char* sudo = std::getenv("SUDO_UID");
  if (sudo == nullptr || *sudo == '\0') return false;
  char* end = nullptr;
  errno = 0;
  const unsigned long value = std::strtoul(sudo, &end, 10);
  return errno == 0 && *end == '\0' && value == uid;
}

namespace {

std::string OwnerText(unsigned uid) { return "owned by user " + std::to_string(uid); }

// Why a folder lets someone other than the running user and root change
// what it holds; "" when it does not.
std::string FolderDoubt(const std::string& folder) {
  struct stat st;
  if (stat(folder.c_str(), &st) != 0) return std::string("its folder cannot be examined (") +
                                              std::strerror(errno) + ")";
  if (st.st_uid != 0 && !IsRunningUser(st.st_uid))
    return "its folder " + folder + " is " + OwnerText(st.st_uid);
  if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0)
    return "its folder " + folder + " is writable by other users";
  return std::string();
}

}  // namespace

ConfigTrust CheckConfigFile(const std::string& path, std::string* why) {
  std::string local;
  std::string& reason = why ? *why : local;
  reason.clear();
  struct stat st;
  if (path.empty() || lstat(path.c_str(), &st) != 0)
    return errno == ENOENT || errno == ENOTDIR || path.empty() ? ConfigTrust::Absent
                                                               : ConfigTrust::Untrusted;
  // The name's own folder, and where a link at it leads.
  reason = FolderDoubt(FolderOf(path));
  if (!reason.empty()) return ConfigTrust::Untrusted;
  std::string real = path;
  if (S_ISLNK(st.st_mode)) {
    char resolved[PATH_MAX];
    if (realpath(path.c_str(), resolved) == nullptr) return ConfigTrust::Absent;
    real = resolved;
    reason = FolderDoubt(FolderOf(real));
    if (!reason.empty()) return ConfigTrust::Untrusted;
  }
  FileState state;
  const int fd = PcFileOpen(real, false, &state);
  if (fd < 0) {
    reason = LastError() == EINVAL ? "it is not a regular file" : PcFileErrorText(LastError());
    return ConfigTrust::Untrusted;
  }
  const bool examined = fstat(fd, &st) == 0;
  const int error = errno;
  close(fd);
  if (!examined)
    reason = std::strerror(error);
  else if (st.st_uid != 0 && !IsRunningUser(st.st_uid))
    reason = "it is " + OwnerText(st.st_uid);
  else if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0)
    reason = "it is writable by other users";
  return reason.empty() ? ConfigTrust::Trusted : ConfigTrust::Untrusted;
}

std::string PcFileErrorText(int error) {
  // The helpers above give EINVAL for a name that holds no regular file.
  if (error == EINVAL) return "not a regular file (a pipe, a device or a folder)";
  if (error == 0) return "unknown failure";
  return std::strerror(error);
}

}  // namespace platform
