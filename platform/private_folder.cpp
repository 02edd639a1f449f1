// A folder for the program's local sockets in which only the running user
// can make entries, and the user at the other end of a local socket.
#include "platform/internal.h"
#include "platform/platform.h"

#include <cerrno>
#include <cstdlib>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

using detail::SetLastError;

namespace {

// A real folder (not a link) of `uid` that no one else may enter.
bool IsPrivateFolder(const std::string& path, uid_t uid) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == uid &&
         (st.st_mode & 077) == 0;
}

// A folder whose entries only root and `uid` can rename or remove: theirs,
// and not writable by others unless sticky (as /tmp is).
bool IsSafeParent(const std::string& path, uid_t uid) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  if (st.st_uid != 0 && st.st_uid != uid) return false;
  return (st.st_mode & 022) == 0 || (st.st_mode & S_ISVTX) != 0;
}

std::string ParentOf(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  const size_t slash = path.rfind('/');
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string Absolute(const char* value) {
  std::string path = value != nullptr ? value : "";
  if (path.empty() || path[0] != '/') return std::string();
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

}  // namespace

std::string PrivateRuntimeFolder(const std::string& stem) {
  const uid_t uid = geteuid();
  const std::string runtime = Absolute(std::getenv("XDG_RUNTIME_DIR"));
  if (!runtime.empty() && IsPrivateFolder(runtime, uid) && IsSafeParent(ParentOf(runtime), uid))
    return runtime;

  std::string temporary = Absolute(std::getenv("TMPDIR"));
  if (temporary.empty()) temporary = "/tmp";
  const std::string folder = temporary + "/" + stem + "-" + std::to_string(uid);
  if (!IsSafeParent(temporary, uid)) {
    SetLastError(EPERM);
    return std::string();
  }
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    SetLastError(errno);
    return std::string();
  }
  // Made now or before: either way it must be the user's own, closed folder,
  // not one (or a link) that someone else put there first.
  if (!IsPrivateFolder(folder, uid)) {
    SetLastError(EPERM);
    return std::string();
  }
  return folder;
}

int64_t PeerUserId(int socket) {
  struct ucred peer{};
  socklen_t length = sizeof peer;
  if (getsockopt(socket, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0) {
    SetLastError(errno);
    return -1;
  }
  return peer.uid;
}

}  // namespace platform
