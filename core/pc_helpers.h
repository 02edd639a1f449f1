// The thin layer over the PC's file systems: drives (mounted file systems),
// path splitting, making recorder names safe as PC file names, file times,
// folder creation, file length and opening a file with the desktop.
//
// PC paths are native ("/"); recorder paths use "\". A PC "drive" is a
// mounted file system from platform::ListVolumes(); its DiskId is its
// position in that list, counting from 1.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace core {

// One PC drive.
struct PcDrive {
  int DiskId = 0;          // position in the drive list, from 1
  std::string Root;        // mount point with a trailing "/" ("/", "/home/", "/mnt/usb/")
  int DriveType = 0;       // 3 fixed, 4 network, 0 unknown
  std::string FsName;      // "ext4", "vfat", "nfs", ...
  std::string Label;       // volume label, "" when none is known
};

// The PC drives in mount-table order (DiskId 1, 2, ...).
std::vector<PcDrive> DriveList();
// The root of drive `diskId` (with trailing "/"), or "" when there is none.
std::string DriveRoot(int diskId);
// The DiskId of the drive that holds `path` (longest mount point), 0 if none.
int DriveIdOf(const std::string& path);

// Properties of the file system that holds `path` (a drive root or any path
// on it): label, file-system name, serial text "XXXX-XXXX" (from the file
// system id), total and free space in KiB. Space and serial are those of the
// file system that holds `path` itself (statvfs of the path), also when that
// one is not in the drive list. False (outputs empty / 0) when the path is
// on no known drive.
bool DriveInformation(const std::string& path, std::string& label, std::string& fileSystem,
                      std::string& serial, double& totalKiB, double& freeKiB);

// Splits a path at its last separator (folder keeps it) and the name part at
// its last "." ("archive.tar.gz" -> "", "archive.tar", "gz"). `separators`
// lists the separator characters: both by default; pass kRecorderSeparator
// for a recorder path (a recorder name may hold "/"), kPcSeparator for a PC
// path (a PC name may hold "\").
constexpr const char* kRecorderSeparator = "\\";
constexpr const char* kPcSeparator = "/";
void SeparatePathComponents(const std::string& path, std::string& folder, std::string& name,
                            std::string& extension, const char* separators = "\\/");

// Maximum length in bytes of one PC file-name component.
constexpr size_t kMaxPcNameBytes = 255;

// A PC name component (UTF-8) made safe: "/", NUL and control characters
// (C0, DEL, C1) become "_", "." and ".." become "_" and "__". A result
// longer than 255 bytes loses characters of its name part, cut on a
// character boundary, so that its "." and extension stay (an extension too
// long for that is cut with the name). Safe input comes back unchanged.
std::string SafePcComponent(const std::string& utf8Name);
// Makes a name from the recorder (Windows-1252 bytes) a safe PC file-name
// component in UTF-8: AdaptFilename, then conversion to UTF-8, then
// SafePcComponent.
std::string CleanupFileNameComponent(const std::string& recorderName);
// The path with its file-name part (after the last "\" or "/") made safe as
// above; the folder part before it stays exactly as it is.
std::string CleanupFileName(const std::string& path);

// Sets last-access and last-write time of a PC file to local date values
// (days since 30 Dec 1899, time as the fraction). Linux keeps no creation
// time; `created` is accepted and not stored. A date that shows the file's
// last-write time as it is keeps that very moment (also in the hour summer
// time's end repeats); any other lands on the moment it shows
// (platform::LocalToUnix, at the file's present offset where the hour is
// repeated). False when the times could not be set (the file is gone, the
// file system refused them).
bool FileDateTimeSet(const std::string& path, double created, double accessed, double written);
// The same on an open file (futimens), so that only that file is touched
// whatever its name now names. False when the times could not be set.
bool FileDateTimeSet(int handle, double created, double accessed, double written);

// Creates the folder and every missing folder above it. Result not reported.
void MakePath(const std::string& folder);

// Length in bytes of an open file or device handle (platform::DriveOpen), -1
// on failure.
double GetFileLen(int handle);

// Opens (print false) or prints (print true) a file with its desktop
// application, through the current Ui; `folder` and `showMode` are accepted
// for the callers' sake. No shell is involved. False when nothing started.
bool Execute(const std::string& file, bool print, const std::string& folder = "",
             int showMode = 1);

// Saves `data` as the PC file `path`, replacing what is there through a
// new file beside it and a rename (platform::PcFileReplace): a link at the
// name is not followed, a pipe or device is refused without waiting, and a
// failure leaves the name as it was. A failure is the run-time error that
// names the file and the real reason (RaisePcFileError).
void SavePcFile(const std::string& path, const void* data, size_t length);
inline void SavePcFile(const std::string& path, const std::string& data) {
  SavePcFile(path, data.data(), data.size());
}

}  // namespace core
