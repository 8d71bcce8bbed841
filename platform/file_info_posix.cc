#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>

#include "platform/file_info.h"
#include "platform/last_error.h"

namespace platform {

bool StatFile(const std::string& path, FileInfo* info) {
  struct statx sx {};
  if (::statx(AT_FDCWD, path.c_str(), 0, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0) {
    SetLastErrorEx(ErrorFromErrno(errno));
    return false;
  }
  info->path = path;
  info->is_directory = S_ISDIR(sx.stx_mode);
  info->is_regular = S_ISREG(sx.stx_mode);
  info->size = sx.stx_size;
  info->created = (sx.stx_mask & STATX_BTIME) ? sx.stx_btime.tv_sec : sx.stx_ctime.tv_sec;
  info->accessed = sx.stx_atime.tv_sec;
  info->modified = sx.stx_mtime.tv_sec;
  info->modified_nsec = sx.stx_mtime.tv_nsec;
  return true;
}

std::string RealPath(const std::string& path) {
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (!resolved) return {};
  std::string result(resolved);
  std::free(resolved);
  return result;
}

}  // namespace platform
