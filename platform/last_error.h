// The calling thread's last error, as a Windows error number
// (ERROR_FILE_NOT_FOUND, ERROR_INVALID_DATA, ERROR_MORE_DATA, ...).
// Operations that return a success flag set it on failure. Each thread has
// its own value; any thread may call these.
#pragma once

#include "platform/win_types.h"

namespace platform {

void SetLastErrorEx(DWORD error);
DWORD GetLastError();

// Maps an errno value to the nearest Windows error number.
DWORD ErrorFromErrno(int err);

}  // namespace platform
