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
#include <functional>
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

class CRegSettingsEdit;

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

  // A group of reads and writes made as one: `edit` runs while the settings
  // file is locked, so what it reads is current when its writes land, and
  // all its writes reach the file in one atomic rewrite, or in none when
  // they change nothing. When `edit` returns FALSE nothing is written and
  // the last error it left stands. Returns FALSE when the file could not
  // be read or written (the last error says why); the file then holds
  // none of the group's writes.
  BOOL Edit(const std::function<BOOL(CRegSettingsEdit&)>& edit) const;

  // The full key path below HKEY_CURRENT_USER for `subkey`
  // ("Software\KIV\Windows Client\Settings"); empty when both names are
  // empty.
  std::string KeyPath(std::string_view subkey) const;

 private:
  std::string company_;
  std::string application_;
  platform::Registry registry_;
};

// The operations of CRegSettings inside CRegSettings::Edit, with the same
// answers; writes are seen by the reads that follow them in the same edit.
class CRegSettingsEdit {
 public:
  CRegSettingsEdit(const CRegSettings& settings, platform::RegistryEdit& edit)
      : settings_(settings), edit_(edit) {}

  BOOL ReadString(std::string_view subkey, std::string_view name, std::string& out) const;
  BOOL ReadDword(std::string_view subkey, std::string_view name, DWORD& out) const;
  BOOL WriteString(std::string_view subkey, std::string_view name, std::string_view value);
  BOOL WriteDword(std::string_view subkey, std::string_view name, DWORD value);
  BOOL DeleteValue(std::string_view subkey, std::string_view name);
  BOOL EnumValueName(std::string_view subkey, DWORD index, std::string& out) const;

 private:
  const CRegSettings& settings_;
  platform::RegistryEdit& edit_;
};

// The one process-wide settings object.
CRegSettings& AppSettings();

// Normalises a sub-key path: trimmed, '/' turned into '\', doubled '\'
// collapsed, leading and trailing '\' removed.
std::string NormaliseSubKey(std::string_view subkey);

// Sorts in place without regard to ASCII case (stable neighbour swaps).
void SortStringsNoCase(std::vector<std::string>& items);
