#include "tests/support/temp_env.h"

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace testing_support {

TempEnv::TempEnv() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "vornic-test-XXXXXX").string();
  if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  root_ = tmpl;
  for (const char* sub : {"home", "config", "data", "runtime", "tmp"})
    std::filesystem::create_directories(Path(sub));
  ::chmod(RuntimeDir().c_str(), 0700);
  SetEnv("HOME", Path("home"));
  SetEnv("XDG_CONFIG_HOME", ConfigHome());
  SetEnv("XDG_DATA_HOME", DataHome());
  SetEnv("XDG_RUNTIME_DIR", RuntimeDir());
  SetEnv("TMPDIR", Path("tmp"));
}

TempEnv::~TempEnv() {
  for (auto& [name, value] : saved_) {
    if (value)
      ::setenv(name.c_str(), value->c_str(), 1);
    else
      ::unsetenv(name.c_str());
  }
  std::error_code ec;
  std::filesystem::permissions(root_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ec);
  std::filesystem::remove_all(root_, ec);
}

void TempEnv::SetEnv(const char* name, const std::string& value) {
  if (!saved_.count(name)) {
    const char* old = std::getenv(name);
    saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
  }
  ::setenv(name, value.c_str(), 1);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

}  // namespace testing_support
