#include "platform/last_error.h"

#include <cerrno>

namespace platform {
namespace {
thread_local DWORD g_last_error = ERROR_SUCCESS;
}  // namespace

void SetLastErrorEx(DWORD error) { g_last_error = error; }

DWORD GetLastError() { return g_last_error; }

DWORD ErrorFromErrno(int err) {
  switch (err) {
    case 0:
      return ERROR_SUCCESS;
    case ENOENT:
      return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
      return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
      return ERROR_ACCESS_DENIED;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case EINVAL:
      return ERROR_INVALID_PARAMETER;
    case EEXIST:
      return ERROR_ALREADY_EXISTS;
    case EWOULDBLOCK:
      return ERROR_SHARING_VIOLATION;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return ERROR_WRITE_FAULT;
    default:
      return ERROR_CANTWRITE;
  }
}

}  // namespace platform
