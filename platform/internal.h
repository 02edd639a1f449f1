// Shared between the platform sources only.
#pragma once

#include <string>

namespace platform::detail {

// Records errno of a failed call for LastError().
void SetLastError(int error);

// The exclusive hold of a drive opened for writing (drive_hold.cpp).
// Opens `path` read/write with write-through, held; -1 with LastError()
// EBUSY when the system or another program has it.
int OpenHeldDrive(const std::string& path);
// Called for every handle about to be closed; ends the hold with the last.
void ReleaseHeldDrive(int handle);
bool DriveHeldElsewhere(const std::string& path);

}  // namespace platform::detail
