#include "tests/support/own_memory.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace testing_support {

int CopiesInOwnMemory(const char* own, std::size_t size) {
  std::ifstream maps("/proc/self/maps");
  const int mem = ::open("/proc/self/mem", O_RDONLY);
  if (!maps || mem < 0) return -1;
  std::vector<std::pair<unsigned long, unsigned long>> ranges;
  for (std::string line; std::getline(maps, line);) {
    unsigned long begin = 0, end = 0;
    char perms[5] = {};
    if (std::sscanf(line.c_str(), "%lx-%lx %4s", &begin, &end, perms) == 3 && perms[0] == 'r' &&
        line.find("[vvar]") == std::string::npos && end - begin < (1ul << 32))
      ranges.emplace_back(begin, end);
  }
  const std::string_view needle(own, size);
  int copies = 0;
  for (const auto& [begin, end] : ranges) {
    void* buf =
        ::mmap(nullptr, end - begin, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (buf == MAP_FAILED) continue;
    const ssize_t n = ::pread(mem, buf, end - begin, static_cast<off_t>(begin));
    const std::string_view bytes(static_cast<const char*>(buf), n > 0 ? std::size_t(n) : 0);
    for (std::size_t at = bytes.find(needle); at != std::string_view::npos;
         at = bytes.find(needle, at + 1))
      copies += begin + at != reinterpret_cast<unsigned long>(own);
    ::munmap(buf, end - begin);
  }
  ::close(mem);
  return copies;
}

}  // namespace testing_support
