// Shared between the platform sources only.
#pragma once

namespace platform::detail {

// Records errno of a failed call for LastError().
void SetLastError(int error);

}  // namespace platform::detail
