// PC files as handles: an open that can never block, and what is done with
// an open PC file afterwards (its state, length, times and sync) through its
// descriptor, so that only that file is ever touched whatever happens to
// its name meanwhile. Every operation on PC names that another user could
// steer lives here too: creating, replacing and appending files, making and
// entering folders, renaming and setting aside, reading configuration.
#include "platform/internal.h"
#include "platform/platform.h"

#include <cerrno>
#include <climits>
#include <cstdio>
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
  if (const int fault = detail::PcFault(PcCall::Create, path, -1)) return Fail(fault);
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

namespace {

// Flushes and closes the temporary file of a replacement and checks its
// length; on a failure it is removed and LastError() says why.
bool FinishTemp(PcFileReplacement& r) {
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
  if (!ok) {
    RemoveCreated(r.Temp, r.Created);
    r.Temp.clear();
    return Refuse(error);
  }
  return true;
}

// Sets aside what `path` holds, if anything ("" in `aside` when nothing).
bool AsideIfThere(const std::string& path, std::string& aside) {
  aside.clear();
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return errno == ENOENT || Refuse(errno);
  return PcSetAside(path, aside);
}

void PutBack(const std::string& aside, const std::string& path) {
  if (!aside.empty()) PcRenameNoReplace(aside, path);   // else it stays as `aside`
}

}  // namespace

bool PcFileReplaceCommit(PcFileReplacement& r) {
  if (!FinishTemp(r)) return false;
  if (rename(r.Temp.c_str(), r.Path.c_str()) != 0) {
    const int error = errno;
    RemoveCreated(r.Temp, r.Created);
    return Refuse(error);
  }
  SyncFolder(FolderOf(r.Path));
  SetLastError(0);
  return true;
}

bool PcFileReplaceCommitPair(PcFileReplacement& a, PcFileReplacement& b) {
  if (!FinishTemp(a)) {
    const int error = LastError();
    PcFileReplaceAbort(b);
    return Refuse(error);
  }
  if (!FinishTemp(b)) {
    const int error = LastError();
    RemoveCreated(a.Temp, a.Created);
    return Refuse(error);
  }
  // The old files step aside, the new ones take the names without replacing
  // anything put there meanwhile; a failure on the way puts the old ones
  // back, so the names never hold one new file beside one old one.
  std::string asideA, asideB;
  bool ok = AsideIfThere(a.Path, asideA) && AsideIfThere(b.Path, asideB) &&
            PcRenameNoReplace(a.Temp, a.Path);
  if (ok && !PcRenameNoReplace(b.Temp, b.Path)) {
    ok = false;
    const int error = LastError();
    RemoveCreated(a.Path, a.Created);
    SetLastError(error);
  }
  const int error = LastError();
  if (!ok) {
    RemoveCreated(a.Temp, a.Created);
    RemoveCreated(b.Temp, b.Created);
    PutBack(asideA, a.Path);
    PutBack(asideB, b.Path);
    return Refuse(error);
  }
  // The new names on the storage before the old files go.
  SyncFolder(FolderOf(a.Path));
  if (FolderOf(b.Path) != FolderOf(a.Path)) SyncFolder(FolderOf(b.Path));
  if (!asideA.empty()) unlink(asideA.c_str());
  if (!asideB.empty()) unlink(asideB.c_str());
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

// ------------------------------------------------ renames and folders

namespace platform {

bool PcRenameNoReplace(const std::string& from, const std::string& to) {
  if (from.empty() || to.empty()) return Refuse(ENOENT);
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
    SetLastError(0);
    return true;
  }
  if (errno != EINVAL && errno != ENOSYS) return Refuse(errno);
  // A file system that refuses the flag: a second name, which fails where
  // the name is taken, then the first goes.
  struct stat st;
  if (lstat(from.c_str(), &st) != 0) return Refuse(errno);
  if (S_ISDIR(st.st_mode)) {
    // A folder has no second name; a plain rename puts it at most over an
    // empty folder that appeared meanwhile, never over a file.
    if (lstat(to.c_str(), &st) == 0) return Refuse(EEXIST);
    if (errno != ENOENT) return Refuse(errno);
    if (rename(from.c_str(), to.c_str()) != 0) return Refuse(errno);
    SetLastError(0);
    return true;
  }
  if (link(from.c_str(), to.c_str()) != 0) return Refuse(errno);
  if (unlink(from.c_str()) != 0) {
    const int error = errno;
    unlink(to.c_str());
    return Refuse(error);
  }
  SetLastError(0);
  return true;
}

bool PcSetAside(const std::string& path, std::string& aside) {
  aside.clear();
  for (int n = 0; n < 1000; ++n) {
    const std::string name = path + (n ? "." + std::to_string(n) : std::string()) + ".old";
    if (PcRenameNoReplace(path, name)) {
      aside = name;
      return true;
    }
    if (LastError() != EEXIST) return false;
  }
  return Refuse(EEXIST);
}

namespace {

// A link in a folder is followed only when the running user or root owns
// it, as the kernel's protected links do in shared folders.
bool LinkMayBeFollowed(const struct stat& st) { return st.st_uid == 0 || IsRunningUser(st.st_uid); }

int Failed(int error, std::string& why, const std::string& text = std::string()) {
  why = text.empty() ? std::strerror(error) : text;
  return Fail(error);
}

// Walks from the folder `from` (followed as it is: the one the user chose)
// down to `path`, one component at a time, each made first when `make`
// says so; returns a descriptor of the folder reached, or -1 (LastError(),
// and `why` in the user's words). Without `from` (or when `path` does not
// lie below it) the walk starts at "/" or the current folder.
int WalkFolders(const std::string& path, const std::string& from, bool make, std::string& why) {
  why.clear();
  if (path.empty()) return Failed(ENOENT, why);
  // What the system could not name by its path is not made either.
  if (path.size() >= PATH_MAX) return Failed(ENAMETOOLONG, why);
  std::string base = from, rest = path;
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  const bool below = !base.empty() && path.compare(0, base.size(), base) == 0 &&
                     (path.size() == base.size() || path[base.size()] == '/' || base == "/");
  if (below) {
    rest = path.substr(base.size());
  } else {
    base = path[0] == '/' ? "/" : ".";
  }
  int fd;
  do fd = open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  while (fd < 0 && errno == EINTR);
  if (fd < 0) return Failed(errno, why);
  size_t start = 0;
  while (start < rest.size()) {
    size_t end = rest.find('/', start);
    if (end == std::string::npos) end = rest.size();
    const std::string name = rest.substr(start, end - start);
    start = end + 1;
    if (name.empty() || name == ".") continue;
    auto fail = [&](int error, const std::string& text = std::string()) {
      close(fd);
      return Failed(error, why, text);
    };
    if (name == "..") return fail(EINVAL, "the name is not usable");
    if (make && mkdirat(fd, name.c_str(), 0777) != 0 && errno != EEXIST) return fail(errno);
    struct stat judged;
    if (fstatat(fd, name.c_str(), &judged, AT_SYMLINK_NOFOLLOW) != 0) return fail(errno);
    int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
    if (S_ISLNK(judged.st_mode)) {
      if (!LinkMayBeFollowed(judged))
        return fail(EPERM, "\"" + name + "\" is a symbolic link owned by another user (user " +
                               std::to_string(judged.st_uid) + "); it is not followed");
    } else if (S_ISDIR(judged.st_mode)) {
      flags |= O_NOFOLLOW;
    } else {
      return fail(ENOTDIR, "\"" + name + "\" is a file, not a folder");
    }
    int next;
    do next = openat(fd, name.c_str(), flags);
    while (next < 0 && errno == EINTR);
    if (next < 0) return fail(errno);
    // Still the entry judged: a link is not swapped for another's meanwhile.
    struct stat now;
    const bool same = fstatat(fd, name.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 &&
                      now.st_dev == judged.st_dev && now.st_ino == judged.st_ino;
    close(fd);
    fd = next;
    if (!same) return fail(EAGAIN, "\"" + name + "\" was replaced by another program meanwhile");
  }
  return fd;
}

}  // namespace

namespace {

// Walks to `path` below `from` (making the missing folders when `make`),
// under the link rule of WalkFolders; true when the folder is there.
bool ReachFolder(const std::string& path, const std::string& from, bool make, std::string* why) {
  std::string local;
  const int fd = WalkFolders(path, from, make, why ? *why : local);
  if (fd < 0) return false;
  close(fd);
  SetLastError(0);
  return true;
}

}  // namespace

bool PcMakeFolder(const std::string& path, const std::string& from, std::string* why) {
  return ReachFolder(path, from, true, why);
}

bool PcFolderUsable(const std::string& path, const std::string& from, std::string* why) {
  return ReachFolder(path, from, false, why);
}

bool MakePath(const std::string& folder) { return PcMakeFolder(folder, std::string(), nullptr); }

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

constexpr int64_t kMostConfigBytes = int64_t(64) << 20;

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

ConfigTrust ReadConfigFile(const std::string& path, std::string* text, std::string* why) {
  std::string local;
  std::string& reason = why ? *why : local;
  reason.clear();
  if (text) text->clear();
  struct stat st;
  if (path.empty() || lstat(path.c_str(), &st) != 0) {
    if (path.empty() || errno == ENOENT || errno == ENOTDIR) return ConfigTrust::Absent;
    reason = std::string("it cannot be examined (") + std::strerror(errno) + ")";
    return ConfigTrust::Untrusted;
  }
  reason = FolderDoubt(FolderOf(path));
  if (!reason.empty()) return ConfigTrust::Untrusted;
  // What is no regular file is never opened (a device may act on it); what
  // is judged is the file then opened, never the name a second time.
  if (S_ISLNK(st.st_mode)) {
    reason = "it is a symbolic link";
    return ConfigTrust::Untrusted;
  }
  if (!S_ISREG(st.st_mode)) {
    reason = "it is not a regular file";
    return ConfigTrust::Untrusted;
  }
  int fd;
  do fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    if (errno == ENOENT) return ConfigTrust::Absent;   // gone meanwhile
    reason = errno == ELOOP ? "it is a symbolic link" : std::strerror(errno);
    return ConfigTrust::Untrusted;
  }
  if (fstat(fd, &st) != 0)
    reason = std::strerror(errno);
  else if (!S_ISREG(st.st_mode))
    reason = "it is not a regular file";
  else if (st.st_uid != 0 && !IsRunningUser(st.st_uid))
    reason = "it is " + OwnerText(st.st_uid);
  else if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0)
    reason = "it is writable by other users";
  else if (st.st_size > kMostConfigBytes)
    reason = "it is too large for a settings file";
  if (reason.empty() && text) {
    text->resize(static_cast<size_t>(st.st_size));
    size_t done = 0;
    while (done < text->size()) {
      const ssize_t n = read(fd, text->data() + done, text->size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) reason = std::strerror(errno);
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    text->resize(reason.empty() ? done : 0);
  }
  close(fd);
  return reason.empty() ? ConfigTrust::Trusted : ConfigTrust::Untrusted;
}

ConfigTrust CheckConfigFile(const std::string& path, std::string* why) {
  return ReadConfigFile(path, nullptr, why);
}

namespace {
PcFaultFilter& FaultFilter() {
  static PcFaultFilter filter;
  return filter;
}
}  // namespace

PcFaultFilter SetPcFaultFilter(PcFaultFilter filter) {
  PcFaultFilter previous = std::move(FaultFilter());
  FaultFilter() = std::move(filter);
  return previous;
}

int detail::PcFault(PcCall call, const std::string& path, int handle) {
  return FaultFilter() ? FaultFilter()(call, path, handle) : 0;
}

bool PcRemove(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return errno == ENOENT;
  int error = detail::PcFault(PcCall::Remove, path, -1);
  if (error == 0 && (S_ISDIR(st.st_mode) ? rmdir(path.c_str()) : unlink(path.c_str())) != 0)
    error = errno;
  if (error == 0 || lstat(path.c_str(), &st) != 0) return true;
  SetLastError(error);
  return false;
}

std::string PcFileErrorText(int error) {
  // The helpers above give EINVAL for a name that holds no regular file.
  if (error == EINVAL) return "not a regular file (a pipe, a device or a folder)";
  if (error == 0) return "unknown failure";
  return std::strerror(error);
}

}  // namespace platform
