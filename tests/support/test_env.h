// Set-up shared by the test fixtures: the program and device folders of a
// test, the disk model made fresh, disks closed at the end, and fixed clock
// readings.
#pragma once

#include <cstdlib>
#include <ctime>
#include <string>

#include "core/disk_io.h"
#include "core/disk_model.h"
#include "core/iodebug.h"
#include "core/settings.h"

namespace testenv {

// The program folder is `appDir`, drive N is `devices`/PhysicalDriveN
// (QUENBRIX_DEVICES); the disk model starts fresh, without I/O debugging.
inline void UseFolders(const std::string& appDir, const std::string& devices) {
  core::SetAppDir(appDir);
  setenv("QUENBRIX_DEVICES", devices.c_str(), 1);
  core::ResetState();
  core::IODebug = false;
}

// Closes whatever disk a side still holds open and makes the model fresh.
inline void CloseDisksAndReset() {
  for (int side = 0; side < 2; ++side)
    if (core::Disk[side].Handle >= 1) core::CloseDisk(core::Disk[side].Handle);
  core::ResetState();
}

// A clock reading: month from 1, the remaining fields of std::tm zero.
inline std::tm LocalTime(int year, int month, int day, int hour, int minute, int second) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  return t;
}

}  // namespace testenv
