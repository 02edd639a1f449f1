// PC volumes: the mounted local and network file systems.
#include "platform/internal.h"
#include "platform/platform.h"

#include <cctype>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <sys/statvfs.h>

namespace platform {

namespace {

// Mount tables escape blanks, tabs, line breaks and backslashes as \ooo.
std::string UnescapeOctal(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 3 < s.size() &&
        s[i + 1] >= '0' && s[i + 1] <= '3' && s[i + 2] >= '0' && s[i + 2] <= '7' &&
        s[i + 3] >= '0' && s[i + 3] <= '7') {
      out += static_cast<char>((s[i + 1] - '0') * 64 + (s[i + 2] - '0') * 8 + (s[i + 3] - '0'));
      i += 3;
    } else {
      out += s[i];
    }
  }
  return out;
}

// /dev/disk/by-label names escape characters as \xNN.
std::string UnescapeHex(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] == 'x' && std::isxdigit(static_cast<unsigned char>(s[i + 2])) &&
        std::isxdigit(static_cast<unsigned char>(s[i + 3]))) {
      out += static_cast<char>(std::stoi(s.substr(i + 2, 2), nullptr, 16));
      i += 3;
    } else {
      out += s[i];
    }
  }
  return out;
}

bool IsPseudo(const std::string& fs, const std::string& mountPoint) {
  static const std::set<std::string> kPseudo = {
      "proc", "sysfs", "devtmpfs", "devpts", "securityfs", "debugfs", "tracefs", "pstore",
      "bpf", "mqueue", "hugetlbfs", "autofs", "configfs", "fusectl", "binfmt_misc", "ramfs",
      "rpc_pipefs", "nfsd", "selinuxfs", "efivarfs", "nsfs", "squashfs", "fuse.gvfsd-fuse",
      "fuse.portal", "cgroup", "cgroup2"};
  if (kPseudo.count(fs)) return true;
  if (fs.rfind("cgroup", 0) == 0) return true;
  // tmpfs is memory, not a drive, except as the root of a container.
  if (fs == "tmpfs") return mountPoint != "/";
  return false;
}

bool IsNetwork(const std::string& fs) {
  static const std::set<std::string> kNetwork = {
      "nfs", "nfs4", "cifs", "smb3", "smbfs", "sshfs", "fuse.sshfs", "9p", "afs",
      "ceph", "glusterfs", "fuse.glusterfs", "davfs", "fuse.davfs2", "fuse.rclone", "ncpfs"};
  return kNetwork.count(fs) != 0;
}

std::string RealPath(const std::string& path) {
  char buffer[PATH_MAX];
  return realpath(path.c_str(), buffer) ? std::string(buffer) : std::string();
}

// Device path -> label, from /dev/disk/by-label.
std::string LabelOf(const std::string& source) {
  if (source.empty() || source[0] != '/') return "";
  std::string device = RealPath(source);
  if (device.empty()) return "";
  DIR* dir = opendir("/dev/disk/by-label");
  if (!dir) return "";
  std::string label;
  while (dirent* e = readdir(dir)) {
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    if (RealPath("/dev/disk/by-label/" + name) == device) {
      label = UnescapeHex(name);
      break;
    }
  }
  closedir(dir);
  return label;
}

struct MountLine {
  std::string mountPoint, fs, source;
};

std::vector<MountLine> ReadMountTable() {
  std::vector<MountLine> mounts;
  std::ifstream info("/proc/self/mountinfo");
  std::string line;
  if (info) {
    // id parent major:minor root mountpoint options [optional...] - fstype source superoptions
    while (std::getline(info, line)) {
      std::istringstream in(line);
      std::vector<std::string> fields;
      std::string f;
      while (in >> f) fields.push_back(f);
      size_t dash = 0;
      for (size_t i = 6; i < fields.size(); ++i)
        if (fields[i] == "-") { dash = i; break; }
      if (dash == 0 || dash + 1 >= fields.size()) continue;
      MountLine m;
      m.mountPoint = UnescapeOctal(fields[4]);
      m.fs = dash + 1 < fields.size() ? fields[dash + 1] : "";
      m.source = dash + 2 < fields.size() ? UnescapeOctal(fields[dash + 2]) : "";
      mounts.push_back(m);
    }
    return mounts;
  }
  std::ifstream plain("/proc/mounts");
  while (std::getline(plain, line)) {
    std::istringstream in(line);
    MountLine m;
    std::string mp;
    if (!(in >> m.source >> mp >> m.fs)) continue;
    m.source = UnescapeOctal(m.source);
    m.mountPoint = UnescapeOctal(mp);
    mounts.push_back(m);
  }
  return mounts;
}

bool IsPrefixFolder(const std::string& mountPoint, const std::string& path) {
  if (mountPoint == "/") return !path.empty() && path[0] == '/';
  if (path.compare(0, mountPoint.size(), mountPoint) != 0) return false;
  return path.size() == mountPoint.size() || path[mountPoint.size()] == '/';
}

}  // namespace

std::vector<Volume> ListVolumes() {
  std::vector<Volume> volumes;
  for (const MountLine& m : ReadMountTable()) {
    if (m.mountPoint.empty() || m.mountPoint[0] != '/' || IsPseudo(m.fs, m.mountPoint)) continue;
    // A file bind-mounted over a file (containers do that for /etc/hosts)
    // is no drive.
    struct stat st;
    if (stat(m.mountPoint.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) continue;
    Volume v;
    v.MountPoint = m.mountPoint;
    v.FsName = m.fs;
    v.Type = IsNetwork(m.fs) ? DriveType::Network : DriveType::Fixed;
    v.Label = v.Type == DriveType::Fixed ? LabelOf(m.source) : "";
    struct statvfs sv;
    if (statvfs(m.mountPoint.c_str(), &sv) == 0) {
      v.TotalBytes = uint64_t(sv.f_blocks) * sv.f_frsize;
      v.FreeBytes = uint64_t(sv.f_bavail) * sv.f_frsize;
      v.Serial = static_cast<uint32_t>(sv.f_fsid);
    }
    // Each mount point once: a later mount over the same point is the one
    // visible there, in the place of the first.
    bool replaced = false;
    for (Volume& old : volumes)
      if (old.MountPoint == v.MountPoint) {
        old = v;
        replaced = true;
      }
    if (!replaced) volumes.push_back(v);
  }
  return volumes;
}

bool VolumeOf(const std::string& path, Volume& volume) {
  std::string p = RealPath(path);
  if (p.empty()) p = path;
  size_t best = 0;
  bool found = false;
  for (const Volume& v : ListVolumes()) {
    if (IsPrefixFolder(v.MountPoint, p) && (!found || v.MountPoint.size() > best)) {
      volume = v;
      best = v.MountPoint.size();
      found = true;
    }
  }
  return found;
}

bool IsFat4GBLimited(const std::string& fsName) {
  return fsName == "vfat" || fsName == "msdos" || fsName == "fat" || fsName == "umsdos";
}

}  // namespace platform
