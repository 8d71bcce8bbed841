// libFuzzer target over the process table's texts (cmdline, comm, fdinfo,
// /proc entry names): any bytes must be survived without a crash or an
// over-read, and the results must keep their promises: image names hold
// no path separator, a process id is non-zero and prints back as its
// name. Built and run by scripts/fuzz-all.sh; not part of the test run.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/proc_text.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace platform;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::string from_cmdline = ImageNameFromCmdline(text);
  Check(from_cmdline.find_first_of("/\\") == std::string::npos);
  Check(from_cmdline.find('\0') == std::string::npos);
  Check(ImageNameFromComm(text).find('\n') == std::string::npos);
  DescriptorInfo info;
  if (ParseDescriptorInfo(text, &info)) {
    const std::uint32_t access = AccessFromOpenFlags(info.flags);
    Check(access <= 3);
  }
  std::uint32_t pid = 0;
  if (ParseProcessId(text, &pid)) {
    Check(pid != 0);
    Check(std::to_string(pid) == text);
  }
  return 0;
}
