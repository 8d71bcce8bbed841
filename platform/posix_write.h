// The write loop shared by platform's POSIX sources: writes all of `data` to
// descriptor `fd`, retrying short and interrupted writes. 0 or errno.
#pragma once

#include <string_view>

namespace platform::posix {

int WriteAll(int fd, std::string_view data);

}  // namespace platform::posix
