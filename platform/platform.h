// Linux stand-ins for the operating-system services the programs were
// written against: raw drives, INI profile files, Windows-1252 text, PC
// volumes, file times, process start, shell open, priority and power.
//
// Standard library and POSIX only. Nothing here knows the recorder's format.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// ---------------------------------------------------------------- raw drives
//
// A drive handle is a small positive number (an open file descriptor, never
// below 3). Anything below 1 means failure.

constexpr int kMaxDrives = 32;          // "PhysicalDrive0" .. "PhysicalDrive31"

// The file or device behind "PhysicalDriveN". When QUENBRIX_DEVICES names a
// folder, drive N is the entry "PhysicalDriveN" in it (an image file or a link
// to a block device); otherwise drive N is the N-th whole-disk block device
// under /sys/block in name order (loop, ram, zram, dm-, md, sr and fd left
// out). Empty when there is no such drive. While QUENBRIX_DEVICES is set
// (not empty) only its folder counts, even when that folder is missing, so a
// test or demo run never reaches the machine's real disks. `error`, when
// given, says why there is none: ENOENT when nothing is there, else why the
// entry there cannot be reached (EACCES, ELOOP, ...).
std::string ResolveDrive(int n, int* error = nullptr);

// Opens a drive or a PC file. `name` is either "PhysicalDriveN" (resolved as
// above, case ignored) or a path (a PC file: PcFileOpen below). Read-only, or read/write with write-through
// (O_DSYNC). Returns the handle, or -1 on failure (LastError() tells why).
//
// A drive opened for writing is held exclusively for as long as any of its
// write handles is open: a block device with O_EXCL (refused while the
// system has a partition of it mounted or another program holds it so),
// and the drive's device or image file with an advisory lock that another
// copy of these programs meets; an image file that backs a loop device of
// the system counts as in use too. Such a drive fails with LastError() ==
// EBUSY and nothing is opened. Write opens of one drive within this program
// share the hold. Read-only opens neither take nor meet it.
int DriveOpen(const std::string& name, bool write);
void DriveClose(int handle);
// True when "PhysicalDriveN" is held as above by the system or another
// program (never when this program holds it): a write open would fail.
bool DriveInUse(const std::string& name);

// Whole-buffer transfers at a 64-bit byte offset (pread/pwrite, retried on
// EINTR). A short transfer, or one at or past the end, is a failure.
bool ReadAt(int handle, uint64_t offset, void* buffer, size_t length);
bool WriteAt(int handle, uint64_t offset, const void* buffer, size_t length);

// Size in bytes of the block device or file behind the handle; -1 on failure.
int64_t DriveSize(int handle);
// Deallocates `length` bytes at `offset` of a regular file (a hole that
// reads back as zeros, the file keeping its size), so that clearing space on
// a sparse image does not fill the PC's disk. False, changing nothing, for a
// block device, a range past the file's end, or where the file system cannot
// punch holes: the caller then writes zeros.
bool PunchHole(int handle, uint64_t offset, uint64_t length);

// The geometry as the recorder tools always saw it: 512 bytes a sector,
// 63 sectors a track, 255 tracks a cylinder, cylinders = sectors / 16065.
struct DriveGeometry {
  int64_t Cylinders = 0;
  uint32_t TracksPerCylinder = 255;
  uint32_t SectorsPerTrack = 63;
  uint32_t BytesPerSector = 512;
};
bool GetDriveGeometry(int handle, DriveGeometry& geometry);

// errno of the last failed call of this layer on this thread (0 when none).
int LastError();

// ----------------------------------------------------------- INI profiles
//
// Sections and keys match without regard to case and to blanks around them
// (some keys end with a blank); the first match wins. Values are trimmed and
// one pair of enclosing quotes is removed; at most 511 characters are read.
// A missing file, section or key reads as "".
std::string IniRead(const std::string& file, const std::string& section,
                    const std::string& key);
// Replaces the key in place (keeping the rest of the file), or appends a
// missing key or section. Creates a missing file but not a missing folder.
// The file is replaced as a whole (PcFileReplace): never half written, and
// a link at its name is replaced, never followed. False on failure
// (LastError()).
bool IniWrite(const std::string& file, const std::string& section,
              const std::string& key, const std::string& value);
// The same on the text of a file already read (ReadConfigFile): the value
// IniRead would give, and the whole text as IniWrite would store it.
std::string IniValue(const std::string& text, const std::string& section,
                     const std::string& key);
std::string IniEdited(const std::string& text, const std::string& section,
                      const std::string& key, const std::string& value);

// --------------------------------------------------------------------- text
//
// Windows-1252 <-> UTF-8. Code points that 1252 leaves undefined (0x81, 0x8D,
// 0x8F, 0x90, 0x9D) map to the C1 controls U+0081.. and back, so all 256
// byte values round-trip. UTF-8 characters with no 1252 byte become '?';
// invalid UTF-8 bytes are taken as 1252 bytes.
std::string Cp1252ToUtf8(std::string_view text);
std::string Utf8ToCp1252(std::string_view text);
// Decodes the one well-formed UTF-8 character (shortest form, no surrogate,
// at most U+10FFFF) at text[i] into `cp`; returns its length, or 0 when the
// bytes there are not valid UTF-8.
size_t DecodeUtf8(std::string_view text, size_t i, char32_t& cp);

// ------------------------------------------------------------ PC volumes
//
// The mounted local and network file systems, pseudo file systems left out,
// in mount-table order, each mount point once.
enum class DriveType { Unknown = 0, Fixed = 3, Network = 4 };
struct Volume {
  std::string MountPoint;   // "/", "/home", "/mnt/usb" (no trailing "/" except the root)
  std::string FsName;       // "ext4", "vfat", "nfs", ...
  std::string Label;        // file-system label, or "" when unknown
  uint64_t TotalBytes = 0;
  uint64_t FreeBytes = 0;   // available to this user
  uint32_t Serial = 0;      // the file system's id (statvfs f_fsid, low 32 bits); 0 when unknown
  DriveType Type = DriveType::Unknown;
};
std::vector<Volume> ListVolumes();
// The volume that holds `path` (longest mount point that is a prefix of it).
bool VolumeOf(const std::string& path, Volume& volume);
// True for the FAT family (vfat, msdos, fat): no file may reach 4 GB there.
bool IsFat4GBLimited(const std::string& fsName);

// ------------------------------------------------------------------- files

// Creates `folder` and every missing folder above it (mkdir -p), by the
// rule of PcMakeFolder for every component.
bool MakePath(const std::string& folder);
// The real 64-bit length of a file; -1 on failure.
int64_t FileLength(const std::string& path);
// Puts a file's data and its entry in its folder onto the storage (fsync of
// the file, then of its folder), so that a power cut cannot take it back.
bool SyncFile(const std::string& path);

// What the system says of a PC file (stat, links followed) or of an open one
// (fstat): kind, identity, length and modification time.
struct FileState {
  bool Regular = false;
  unsigned Mode = 0;          // st_mode; 0 when nothing was found
  uint64_t Device = 0, Inode = 0;
  int64_t Size = 0;
  int64_t ModifiedNs = 0;     // nanoseconds since 1970 (UTC)
};
bool PathState(const std::string& path, FileState& state);
bool HandleState(int handle, FileState& state);
// One file: same device and inode.
bool SameFile(const FileState& a, const FileState& b);
// Opens a PC file so that the open cannot block: what is not a regular file
// (a pipe, a socket, a device, a folder) is refused, before and after the
// open (O_NONBLOCK, then fstat), with LastError() EINVAL. Read-only, or
// read/write with write-through. `opened` (when given) gets the state of the
// file opened, or of what was refused. Returns the handle (3 or more) or -1.
int PcFileOpen(const std::string& path, bool write, FileState* opened = nullptr);
// Every PC file the programs create, replace or append to goes through
// these, so that nothing another user placed in a folder (a symbolic link,
// a pipe, a device, a file of the same name) is followed, blocks the
// program or is taken for its own. None of them opens what is not a
// regular file for writing; none can block. A write that fails leaves
// nothing under the target's name, and LastError() gives its real reason
// (ENOSPC for a full disk, EACCES, EEXIST, EINVAL for what is not a
// regular file, ...).
//
// Creates a new file for writing (O_CREAT|O_EXCL|O_NOFOLLOW): never
// through a symbolic link, never over an existing name (EEXIST). Returns
// the handle (3 or more) or -1.
int PcFileCreate(const std::string& path, unsigned mode = 0644);
// As PcFileCreate, but a name that is taken gives way to the next free one
// ("name_2.ext", "name_3.ext", ...); `path` gets the name used.
int PcFileCreateFree(std::string& path, unsigned mode = 0644);
// Writes all of `data` at the handle's position (EINTR retried; a short
// write is ENOSPC).
bool PcFileWriteAll(int handle, const void* data, size_t length);
// Flushes and closes a handle of these helpers; false (LastError()) when
// the flush or the close reports a failure: the data may not be stored.
bool PcFileClose(int handle);
// A new file (PcFileCreate) holding exactly `data`, flushed, its length
// checked; on any failure the file is removed again.
bool PcFileWriteNew(const std::string& path, const void* data, size_t length,
                    unsigned mode = 0644);
// As PcFileWriteNew, but a name that is taken gives way to the next free
// one (PcFileCreateFree); `path` gets the name used.
bool PcFileWriteFree(std::string& path, const void* data, size_t length, unsigned mode = 0644);
// Replaces `path` (or creates it) with `data`: written to a new temporary
// file beside it, flushed, then renamed over the name, so a failure leaves
// the old file as it was. A name that holds something other than a regular
// file (or a link to one) is refused with EINVAL; a link at the name is
// replaced itself, never followed. A file that existed keeps its mode.
bool PcFileReplace(const std::string& path, const void* data, size_t length);
// The same written piece by piece: Begin makes the temporary file (refusing
// as PcFileReplace does), Write adds to it, Commit flushes it, checks its
// length and renames it over the name; Abort (and a failed Commit) removes
// it, leaving the name as it was.
struct PcFileReplacement {
  int Handle = -1;
  std::string Path, Temp;
  unsigned Mode = 0644;
  int64_t Written = 0;
  FileState Created;
};
bool PcFileReplaceBegin(const std::string& path, PcFileReplacement& replacement);
bool PcFileReplaceWrite(PcFileReplacement& replacement, const void* data, size_t length);
bool PcFileReplaceCommit(PcFileReplacement& replacement);
void PcFileReplaceAbort(PcFileReplacement& replacement);
// Opens a log for appending: a new file, or an existing regular file owned
// by the running user (IsRunningUser) that is no symbolic link and has no
// second name (EPERM otherwise).
int PcFileAppend(const std::string& path);
// Reads a whole regular file (through PcFileOpen) of at most `limit` bytes
// (EFBIG beyond).
bool PcFileRead(const std::string& path, std::string& data,
                int64_t limit = int64_t(1) << 31);
// Commits two replacements as one (the two files of a dump): both names
// take their new files, or (on any failure) both keep what they held. The
// old files are set aside first (PcSetAside), the new ones take the names
// through PcRenameNoReplace, and the old ones go last.
bool PcFileReplaceCommitPair(PcFileReplacement& first, PcFileReplacement& second);
// Renames `from` to `to` only while nothing is at `to` (RENAME_NOREPLACE;
// where the file system refuses the flag, a second name and removal of the
// first, which fails as well where the name is taken): EEXIST when taken.
bool PcRenameNoReplace(const std::string& from, const std::string& to);
// Moves what `path` names (a file or a link, never followed) to the first
// free name of "path.old", "path.1.old", ... (`aside` gets it); never over
// anything that is there.
bool PcSetAside(const std::string& path, std::string& aside);
// Makes (PcMakeFolder) or only enters (PcFolderUsable) the PC folder
// `path`, every component below the folder `from` (the folder a job copies
// into, taken as the user chose it; "" for none: every component counts),
// one at a time through the descriptor of the one above it. A symbolic link
// on the way is followed only when the running user or root owns it, as cp
// -r follows links; one of another user is refused (EPERM). A path the
// system cannot name (PATH_MAX) is refused with ENAMETOOLONG. `why` (when
// given) gets the reason in the user's words: the system's text of the
// error, or what was found at the name.
bool PcMakeFolder(const std::string& path, const std::string& from, std::string* why = nullptr);
bool PcFolderUsable(const std::string& path, const std::string& from, std::string* why = nullptr);
// The reason of a failure of these helpers as the user reads it: the
// system's text of the error, "not a regular file ..." for EINVAL.
std::string PcFileErrorText(int error);
// Removes what `path` names: a file, a link (the link itself, never
// followed) or an empty folder. True when nothing of that name is left;
// else false, and LastError() gives the system's reason.
bool PcRemove(const std::string& path);

// A failing PC file system for tests: when set, consulted before every
// new PC file is opened (PcFileCreate and the helpers built on it), every
// write through a handle (WriteAt) and every removal (PcRemove); a result
// other than 0 fails that call with it as its error (EROFS, EIO, EACCES,
// ENOSPC, ...). `path` is "" for a write, which names its handle.
enum class PcCall { Create, Write, Remove };
using PcFaultFilter = std::function<int(PcCall call, const std::string& path, int handle)>;
// Installs `filter` (empty: none) and returns the one it replaces.
PcFaultFilter SetPcFaultFilter(PcFaultFilter filter);

// The user the programs run for: the effective or real user, and under
// sudo (effective root) the user that SUDO_UID names, as git counts it.
bool IsRunningUser(unsigned uid);
// Whether a configuration file read from a folder another user may have
// chosen (the current folder) may steer the run: only when it and its
// folder are owned by the running user or root and writable by nobody
// else, and it is a regular file, no link. Absent: no such file (ignore quietly);
// Untrusted: there, but not to be used (`why` says why).
// The file is judged on the descriptor that is read (opened once with
// O_NOFOLLOW|O_NONBLOCK, then fstat): a link at the name is not used, and
// nothing put at the name between the look and the read is taken.
// ReadConfigFile gives the content of a trusted file in `text` (at most
// 64 MB); every reader of such a file goes through it.
enum class ConfigTrust { Absent, Trusted, Untrusted };
ConfigTrust ReadConfigFile(const std::string& path, std::string* text, std::string* why = nullptr);
ConfigTrust CheckConfigFile(const std::string& path, std::string* why = nullptr);

// ftruncate and fsync of an open file.
bool TruncateHandle(int handle, int64_t length);
bool SyncHandle(int handle);
// The folder of the running executable, with a trailing "/".
std::string ExeDir();
// Sleeps the calling thread.
void SleepMs(int milliseconds);

// One entry of a PC folder. Symbolic links are reported as links and never
// as folders, so no walk over PC folders follows a link out of its tree.
struct FolderEntry {
  std::string Name;           // name only, UTF-8 as the file system holds it
  bool IsDir = false;         // a real folder (never a link)
  bool IsRegular = false;     // a regular file, or a link to one
  bool IsSymlink = false;
  bool LinkToDir = false;     // a link whose target is a folder
  bool Hidden = false;        // the name starts with "."
  unsigned Mode = 0;          // st_mode of the entry (of a link's target); 0 for a broken link
  int LinkError = 0;          // a link that leads nowhere: ENOENT (dangling) or ELOOP (a loop)
  int64_t Size = 0;           // regular files (and links to them): length; else 0
  int64_t ModifiedTime = 0;   // seconds since 1970 (UTC)
};
// Lists one folder, "." and ".." left out, in the order the file system
// returns them. False when the folder cannot be read (LastError()).
bool ListFolder(const std::string& folder, std::vector<FolderEntry>& entries);
// Local calendar time of a time stamp.
struct LocalTime {
  int Year = 0, Month = 0, Day = 0, Hour = 0, Minute = 0, Second = 0;
  bool operator==(const LocalTime&) const = default;
};
LocalTime ToLocalTime(int64_t unixSeconds);
// The moment (seconds since 1970) that a local date and time names, in the
// zone in force (TZ). A time the clocks show twice (the hour repeated when
// summer time ends) is the pass whose offset from UTC is the one in force at
// `reference` when that is one of the two, else the first pass; a time the
// clocks skip (the hour lost when summer time begins) is read with the
// offset in force before the change, so it lands as much later as the
// clocks jumped (02:30 becomes 03:30). False when no moment can be named.
bool LocalToUnix(const LocalTime& local, int64_t& unixSeconds,
                 int64_t reference = INT64_MIN);

// ---------------------------------------------------------------- processes

// Starts `program` with the argument list, never through a shell, without
// waiting for it; in `folder` as its current folder when one is given. False
// when it could not be started (also when it cannot enter `folder`).
bool StartProgram(const std::string& program, const std::vector<std::string>& args,
                  const std::string& folder = std::string());
// Opens a file with the desktop (xdg-open), not waiting for the program it
// starts. False when xdg-open is missing or fails at once (no program for
// the file).
bool ShellOpen(const std::string& path);
// The process priority classes the programs ask for:
// 0 idle, 1 below normal, 2 normal, 4 above normal, 5 high. A refused raise is ignored.
void SetOwnPriority(int priorityClass);

// ------------------------------------------------------------ local sockets

// A folder in which only the running (effective) user can make entries, for
// the program's local sockets: $XDG_RUNTIME_DIR when it is the user's own
// folder closed to others (mode 0700, not a link); otherwise
// "<temporary folder>/<stem>-<uid>" ($TMPDIR when absolute, else /tmp),
// made with mode 0700 when missing and used only when it is such a folder.
// Either must lie in a folder only root or the user can change, or one that
// is sticky as /tmp is. Empty when there is none (LastError() EPERM: the name
// is held by another user, open to others, or a link).
std::string PrivateRuntimeFolder(const std::string& stem);
// The user id of the process at the other end of a connected local socket;
// -1 when it cannot be told.
int64_t PeerUserId(int socket);

// -------------------------------------------------------------------- power

enum class PowerAction { Hibernate, Shutdown, ForcedShutdown };
// Carries out a power action through the current handler. The default handler
// asks systemd (systemctl hibernate / poweroff); tests replace it.
bool Power(PowerAction action);
using PowerHandler = std::function<bool(PowerAction)>;
// Replaces the handler; returns the previous one. An empty handler puts the
// default back.
PowerHandler SetPowerHandler(PowerHandler handler);

}  // namespace platform
