// libFuzzer target over a browser's cookies.sqlite: the input becomes the
// database file of a profile and is read the way the browser login reads
// it (private copy, SQLite with its defences, bounded query). Nothing may
// crash or leak, every value found stays within its limit and no private
// copy is left behind. Built and run by scripts/fuzz-all.sh; not part of
// the test run.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "server/firefox_cookie_db.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

// A profile folder and a temporary folder of this process's own.
const std::string& Scratch() {
  static const std::string dir = [] {
    std::string pattern = std::filesystem::temp_directory_path().string() + "/cookie-fuzz-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    Check(::mkdtemp(buffer.data()) != nullptr);
    std::string made = buffer.data();
    std::filesystem::create_directories(made + "/tmp");
    ::setenv("TMPDIR", (made + "/tmp").c_str(), 1);
    return made;
  }();
  return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string& dir = Scratch();
  {
    std::FILE* file = std::fopen((dir + "/cookies.sqlite").c_str(), "wb");
    Check(file != nullptr);
    if (size > 0) Check(std::fwrite(data, 1, size, file) == size);
    std::fclose(file);
  }
  std::vector<BrowserCookie> found;
  ReadFirefoxCookieDb(dir, "www.kiv.example", &found);
  Check(found.size() <= kMaxCookieRows);
  for (const BrowserCookie& cookie : found) {
    Check(cookie.value.size() <= kLoginCookieValueMax);
    Check(IsKivCookieHost(cookie.host, "www.kiv.example"));
  }
  Check(std::filesystem::is_empty(dir + "/tmp"));
  return 0;
}
