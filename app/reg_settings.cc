#include "app/reg_settings.h"

#include <algorithm>

#include "platform/last_error.h"
#include "platform/text.h"

namespace {

// An edit that declined without saying why.
constexpr DWORD kEditDeclined = 1223;  // ERROR_CANCELLED

BOOL Fail(DWORD error) {
  platform::SetLastErrorEx(error);
  return FALSE;
}

std::string CleanLevelName(std::string_view name) {
  std::string clean(platform::TrimWhite(name));
  std::erase_if(clean, [](char c) { return c == '/' || c == '\\'; });
  return clean;
}

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

int CompareNoCase(const std::string& a, const std::string& b) {
  std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    unsigned char ca = static_cast<unsigned char>(LowerAscii(a[i]));
    unsigned char cb = static_cast<unsigned char>(LowerAscii(b[i]));
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

// The reads and writes, on the registry file (platform::Registry) or on
// the copy of an edit (platform::RegistryEdit), which answer alike.

// Reads a string value into what the fixed read buffer would hold: at most
// kRegReadBufferBytes of UTF-16 including the terminator, text up to the
// first NUL. A value of another type is not a string (it is not
// reinterpreted as one).
template <class Store>
BOOL ReadText(const Store& store, const std::string& path, std::string_view name,
              std::u16string& text) {
  if (path.empty()) return Fail(ERROR_INVALID_DATA);
  platform::RegValue value;
  DWORD err = store.QueryValue(path, name, kRegReadBufferBytes, &value);
  if (err == ERROR_SUCCESS && value.type != platform::REG_SZ &&
      value.type != platform::REG_EXPAND_SZ)
    err = ERROR_INVALID_DATA;
  if (err != ERROR_SUCCESS) return Fail(err);
  text = platform::TextFromData(value.data);
  return TRUE;
}

template <class Store>
BOOL ReadStringFrom(const Store& store, const std::string& path, std::string_view name,
                    std::string& out) {
  std::u16string buffer;
  BOOL ok = ReadText(store, path, name, buffer);
  out = platform::Utf16ToUtf8(buffer);  // the buffer is assigned even after a failure
  return ok;
}

template <class Store>
BOOL ReadDwordFrom(const Store& store, const std::string& path, std::string_view name, DWORD& out) {
  if (path.empty()) return Fail(ERROR_INVALID_DATA);
  platform::RegValue value;
  DWORD err = store.QueryValue(path, name, sizeof(DWORD), &value);
  // A string of one character would fit the four bytes; it is still not a
  // number, and the caller's preset is kept.
  if (err == ERROR_SUCCESS && (value.type != platform::REG_DWORD || value.data.size() != 4))
    err = ERROR_INVALID_DATA;
  if (err != ERROR_SUCCESS) return Fail(err);
  out = platform::DwordFromData(value.data);
  return TRUE;
}

template <class Store>
BOOL SetIn(Store& store, const std::string& path, const platform::RegValue& value) {
  if (path.empty()) return Fail(ERROR_INVALID_DATA);
  DWORD err = store.SetValue(path, value);
  return err == ERROR_SUCCESS ? TRUE : Fail(err);
}

template <class Store>
BOOL DeleteIn(Store& store, const std::string& path, std::string_view name) {
  if (path.empty()) return Fail(ERROR_INVALID_DATA);
  DWORD err = store.DeleteValue(path, name);
  return err == ERROR_SUCCESS ? TRUE : Fail(err);
}

template <class Store>
BOOL EnumNameIn(const Store& store, const std::string& path, DWORD index, std::string& out) {
  out.clear();
  if (path.empty()) return Fail(ERROR_INVALID_DATA);
  std::string name;
  DWORD err = store.EnumValue(path, index, kRegReadBufferBytes / 2, &name);
  if (err != ERROR_SUCCESS) return Fail(err);
  out = std::move(name);
  return TRUE;
}

platform::RegValue StringValue(std::string_view name, std::string_view value) {
  return platform::MakeStringValue(name, platform::Utf8ToUtf16(value));
}

}  // namespace

void CRegSettings::SetCompanyName(std::string_view name) { company_ = CleanLevelName(name); }

void CRegSettings::SetApplicationName(std::string_view name) {
  application_ = CleanLevelName(name);
}

std::string CRegSettings::KeyPath(std::string_view subkey) const {
  if (company_.empty() && application_.empty()) return {};
  std::string path = "Software";
  for (const std::string& level : {company_, application_, NormaliseSubKey(subkey)}) {
    if (level.empty()) continue;
    path += '\\';
    path += level;
  }
  return path;
}

BOOL CRegSettings::ReadString(std::string_view subkey, std::string_view name,
                              std::string& out) const {
  return ReadStringFrom(registry_, KeyPath(subkey), name, out);
}

BOOL CRegSettings::ReadStringUtf8(std::string_view subkey, std::string_view name,
                                  std::string& out) const {
  std::u16string buffer;
  if (!ReadText(registry_, KeyPath(subkey), name, buffer)) return FALSE;
  out = platform::Utf16ToUtf8(buffer);
  return TRUE;
}

BOOL CRegSettings::ReadDword(std::string_view subkey, std::string_view name, DWORD& out) const {
  return ReadDwordFrom(registry_, KeyPath(subkey), name, out);
}

BOOL CRegSettings::WriteString(std::string_view subkey, std::string_view name,
                               std::string_view value) const {
  return SetIn(registry_, KeyPath(subkey), StringValue(name, value));
}

BOOL CRegSettings::WriteStringUtf8(std::string_view subkey, std::string_view name,
                                   std::string_view value) const {
  // Text is UTF-8 in memory already; the conversion to UTF-16 happens in
  // WriteString.
  return WriteString(subkey, name, value);
}

BOOL CRegSettings::WriteDword(std::string_view subkey, std::string_view name, DWORD value) const {
  return SetIn(registry_, KeyPath(subkey), platform::MakeDwordValue(name, value));
}

BOOL CRegSettings::DeleteValue(std::string_view subkey, std::string_view name) const {
  return DeleteIn(registry_, KeyPath(subkey), name);
}

BOOL CRegSettings::EnumValueName(std::string_view subkey, DWORD index, std::string& out) const {
  return EnumNameIn(registry_, KeyPath(subkey), index, out);
}

BOOL CRegSettings::Edit(const std::function<BOOL(CRegSettingsEdit&)>& edit) const {
  DWORD refused = ERROR_SUCCESS;
  const DWORD err = registry_.Edit([&](platform::RegistryEdit& registry_edit) -> DWORD {
    CRegSettingsEdit settings_edit(*this, registry_edit);
    if (edit(settings_edit)) return ERROR_SUCCESS;
    refused = platform::GetLastError();
    // Any non-zero result keeps the file as it is.
    return refused != ERROR_SUCCESS ? refused : kEditDeclined;
  });
  if (err == ERROR_SUCCESS) return TRUE;
  return Fail(refused != ERROR_SUCCESS ? refused : err);
}

BOOL CRegSettingsEdit::ReadString(std::string_view subkey, std::string_view name,
                                  std::string& out) const {
  return ReadStringFrom(edit_, settings_.KeyPath(subkey), name, out);
}

BOOL CRegSettingsEdit::ReadDword(std::string_view subkey, std::string_view name, DWORD& out) const {
  return ReadDwordFrom(edit_, settings_.KeyPath(subkey), name, out);
}

BOOL CRegSettingsEdit::WriteString(std::string_view subkey, std::string_view name,
                                   std::string_view value) {
  return SetIn(edit_, settings_.KeyPath(subkey), StringValue(name, value));
}

BOOL CRegSettingsEdit::WriteDword(std::string_view subkey, std::string_view name, DWORD value) {
  return SetIn(edit_, settings_.KeyPath(subkey), platform::MakeDwordValue(name, value));
}

BOOL CRegSettingsEdit::DeleteValue(std::string_view subkey, std::string_view name) {
  return DeleteIn(edit_, settings_.KeyPath(subkey), name);
}

BOOL CRegSettingsEdit::EnumValueName(std::string_view subkey, DWORD index, std::string& out) const {
  return EnumNameIn(edit_, settings_.KeyPath(subkey), index, out);
}

CRegSettings& AppSettings() {
  static CRegSettings settings;
  return settings;
}

std::string NormaliseSubKey(std::string_view subkey) {
  std::string path(platform::TrimWhite(subkey));
  std::replace(path.begin(), path.end(), '/', '\\');
  std::string collapsed;
  for (char c : path)
    if (c != '\\' || collapsed.empty() || collapsed.back() != '\\') collapsed += c;
  std::size_t first = collapsed.find_first_not_of('\\');
  if (first == std::string::npos) return {};
  std::size_t last = collapsed.find_last_not_of('\\');
  return collapsed.substr(first, last - first + 1);
}

void SortStringsNoCase(std::vector<std::string>& items) {
  bool swapped = true;
  while (swapped) {
    swapped = false;
    for (std::size_t i = 1; i < items.size(); ++i) {
      if (CompareNoCase(items[i - 1], items[i]) > 0) {
        std::swap(items[i - 1], items[i]);
        swapped = true;
      }
    }
  }
}
