// Shared between the platform sources only.
#pragma once

#include <string>

#include "platform/platform.h"

namespace platform::detail {

// The error SetPcFaultFilter's filter gives the call, 0 for none.
int PcFault(PcCall call, const std::string& path, int handle);

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
