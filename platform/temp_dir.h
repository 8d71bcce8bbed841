// PrivateTempDir: a folder of the program's own under the system's
// temporary folder ($TMPDIR, else /tmp), made with mode 0700 so no other
// user can read what is put there (copies of the browser's cookie store).
// It and the files directly inside it are removed on destruction; its name
// ("vornic-<pid>-XXXXXX") lets a later process remove one left by a
// process that was killed.
//
// One object belongs to one thread.
#pragma once

#include <string>

namespace platform {

class PrivateTempDir {
 public:
  // Creates the folder; ok() tells whether that worked (errno in error()).
  PrivateTempDir();
  ~PrivateTempDir();
  PrivateTempDir(const PrivateTempDir&) = delete;
  PrivateTempDir& operator=(const PrivateTempDir&) = delete;

  // Removes the folders (and the files directly inside them) that earlier
  // objects of processes no longer running left behind: only the user's
  // own folders of the name above. Returns how many were removed.
  static int RemoveStale();

  bool ok() const { return !path_.empty(); }
  int error() const { return error_; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  int error_ = 0;
};

}  // namespace platform
