// CRegSettings: the program's persistent configuration, one value per
// access, in the current user's registry under
// HKEY_CURRENT_USER\Software\<company>\<application>\<sub-key>.
//
// Every operation opens the key afresh, reads or writes one value and closes
// it again; nothing is cached. Operations return a success flag (non-zero =
// success) and set the thread's last error (platform::GetLastError) to the
// registry error code on failure; none throws.
//
// Thread safety: shared by all threads without a lock. The company and
// application names are set once at start-up, before any other thread runs.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/registry.h"
#include "platform/win_types.h"

// Sub-keys used by the program.
inline constexpr const char* kSubKeySettings = "Settings";
inline constexpr const char* kSubKeyLog = "Log";
inline constexpr const char* kSubKeyPlayMonitor = "PlayMonitor";
inline constexpr const char* kSubKeySearchPaths = "SearchPaths";

// The read buffer of ReadString and EnumValueName, in bytes of UTF-16.
inline constexpr std::size_t kRegReadBufferBytes = 2048;

class CRegSettings {
 public:
  CRegSettings() = default;
  CRegSettings(const CRegSettings&) = delete;
  CRegSettings& operator=(const CRegSettings&) = delete;

  // Stored trimmed of white space, with every '/' and '\' removed.
  void SetCompanyName(std::string_view name);
  void SetApplicationName(std::string_view name);
  const std::string& CompanyName() const { return company_; }

  // Uses another registry file instead of ConfigDir()/registry.reg (tests,
  // benchmarks). Like the names, set before other threads use the object.
  void SetRegistryFile(std::string path) { registry_ = platform::Registry(std::move(path)); }

  // Reads at most 2048 bytes of UTF-16 data (1023 characters and the
  // terminator). `out` receives the buffer whether or not the read worked,
  // so a failed read leaves it empty.
  BOOL ReadString(std::string_view subkey, std::string_view name, std::string& out) const;
  // As ReadString, but `out` is left unchanged on failure.
  BOOL ReadStringUtf8(std::string_view subkey, std::string_view name, std::string& out) const;
  // Reads a 4-byte value; `out` is untouched on failure, so the caller's
  // preset value is the default.
  BOOL ReadDword(std::string_view subkey, std::string_view name, DWORD& out) const;

  // Writes create the sub-key when it is missing.
  BOOL WriteString(std::string_view subkey, std::string_view name, std::string_view value) const;
  BOOL WriteStringUtf8(std::string_view subkey, std::string_view name,
                       std::string_view value) const;
  BOOL WriteDword(std::string_view subkey, std::string_view name, DWORD value) const;
  BOOL DeleteValue(std::string_view subkey, std::string_view name) const;

  // Name of the value at `index` in insertion order; `out` is assigned
  // whether or not the call worked (empty on failure).
  BOOL EnumValueName(std::string_view subkey, DWORD index, std::string& out) const;

  // The full key path below HKEY_CURRENT_USER for `subkey`
  // ("Software\KIV\Windows Client\Settings"); empty when both names are
  // empty.
  std::string KeyPath(std::string_view subkey) const;

 private:
  std::string company_;
  std::string application_;
  platform::Registry registry_;
};

// The one process-wide settings object.
CRegSettings& AppSettings();

// Normalises a sub-key path: trimmed, '/' turned into '\', doubled '\'
// collapsed, leading and trailing '\' removed.
std::string NormaliseSubKey(std::string_view subkey);

// Sorts in place without regard to ASCII case (stable neighbour swaps).
void SortStringsNoCase(std::vector<std::string>& items);
