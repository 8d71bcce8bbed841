// Registry: the current user's registry, kept in one text file in the
// format of a Windows registry export (ConfigDir()/registry.reg unless a
// path is given). It holds keys below HKEY_CURRENT_USER, each with typed
// values (REG_SZ, REG_DWORD; other types are kept as raw data) in insertion
// order; overwriting a value keeps its place.
//
// Key paths are relative to HKEY_CURRENT_USER, with '\' between levels
// ("Software\KIV\Windows Client\Settings"); the empty path is the root,
// which always exists. Key and value names compare without regard to ASCII
// case. Results are Windows error numbers, as the registry functions give
// them: ERROR_SUCCESS, ERROR_FILE_NOT_FOUND (no such key or value),
// ERROR_MORE_DATA (the data or name does not fit the caller's buffer),
// ERROR_NO_MORE_ITEMS (enumeration past the end), ERROR_INVALID_PARAMETER
// (a name the registry cannot hold), or the error of the file system.
// They do not touch the thread's last error.
//
// Each call is one complete access to the file (see registry_store.h:
// process-wide mutex, flock, reload when changed, atomic replace, modes
// 0600/0700, damaged files kept aside and reported). Any thread may call;
// a Registry object holds only its path.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry_text.h"
#include "platform/win_types.h"

namespace platform {

// Reads and writes on one copy of the registry that Registry::Edit applies
// to the file together. The operations answer as Registry's do.
class RegistryEdit {
 public:
  explicit RegistryEdit(RegDocument& doc) : doc_(doc) {}

  DWORD QueryValue(std::string_view key, std::string_view name, std::size_t max_bytes,
                   RegValue* out, std::size_t* needed_bytes = nullptr) const;
  DWORD SetValue(std::string_view key, const RegValue& value, bool create_key = true);
  DWORD DeleteValue(std::string_view key, std::string_view name);
  DWORD EnumValue(std::string_view key, DWORD index, std::size_t max_name_units,
                  std::string* name) const;

 private:
  RegDocument& doc_;
};

class Registry {
 public:
  // An empty path stands for ConfigDir() + "/registry.reg", worked out again
  // at every access so that a changed XDG_CONFIG_HOME takes effect.
  explicit Registry(std::string file_path = {});

  std::string FilePath() const;

  // ERROR_SUCCESS when the key exists, else ERROR_FILE_NOT_FOUND.
  DWORD OpenKey(std::string_view key) const;
  // Creates the key (and the levels above it) when missing.
  DWORD CreateKey(std::string_view key) const;

  // Reads one value of an existing key. `max_bytes` is the caller's buffer:
  // larger data gives ERROR_MORE_DATA with only out->name, out->type and
  // *needed_bytes set. `needed_bytes` (optional) receives the data's size.
  DWORD QueryValue(std::string_view key, std::string_view name, std::size_t max_bytes,
                   RegValue* out, std::size_t* needed_bytes = nullptr) const;
  // Writes one value. With `create_key` the key is created when missing
  // (RegCreateKeyEx then RegSetValueEx), otherwise it must exist.
  DWORD SetValue(std::string_view key, const RegValue& value, bool create_key = true) const;
  DWORD DeleteValue(std::string_view key, std::string_view name) const;

  // Name of the value at `index` (insertion order). A name of
  // `max_name_units` UTF-16 units or more (room for the terminator) gives
  // ERROR_MORE_DATA.
  DWORD EnumValue(std::string_view key, DWORD index, std::size_t max_name_units,
                  std::string* name) const;
  // Name of the direct sub-key at `index`.
  DWORD EnumKey(std::string_view key, DWORD index, std::string* name) const;

  // Runs `edit` on a copy of the registry while holding the file's lock, so
  // that what it reads is still current when its writes land. When it
  // returns ERROR_SUCCESS the copy replaces the file in one atomic rewrite,
  // or in none when the copy equals the file; any other result leaves the
  // file as it was and is returned.
  DWORD Edit(const std::function<DWORD(RegistryEdit&)>& edit) const;

 private:
  std::string file_path_;
};

// Messages about damaged registry files found since the last call, oldest
// first; the start-up code logs them. Also printed to standard error when
// found. Any thread may call.
std::vector<std::string> TakeRegistryDamageReport();

}  // namespace platform
