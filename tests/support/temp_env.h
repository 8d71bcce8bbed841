// TempEnv: a temporary folder for one test, with HOME, TMPDIR and the XDG
// variables pointed inside it, so everything the program reads or writes
// stays in the box. The folder is removed and the variables restored on destruction.
#pragma once

#include <map>
#include <optional>
#include <string>

namespace testing_support {

class TempEnv {
 public:
  TempEnv();
  ~TempEnv();
  TempEnv(const TempEnv&) = delete;
  TempEnv& operator=(const TempEnv&) = delete;

  const std::string& root() const { return root_; }
  std::string Path(const std::string& relative) const { return root_ + "/" + relative; }
  std::string ConfigHome() const { return Path("config"); }
  std::string DataHome() const { return Path("data"); }
  std::string RuntimeDir() const { return Path("runtime"); }

 private:
  void SetEnv(const char* name, const std::string& value);

  std::string root_;
  std::map<std::string, std::optional<std::string>> saved_;
};

// Whole file as a string; empty when missing.
std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);

}  // namespace testing_support
