#include "app/reg_settings.h"

#include <algorithm>

#include "platform/last_error.h"
#include "platform/text.h"

namespace {

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

// Reads a string value into what the fixed read buffer would hold: at most
// kRegReadBufferBytes of UTF-16 including the terminator, text up to the
// first NUL. A value of another type is not a string (it is not
// reinterpreted as one).
BOOL ReadText(const platform::Registry& registry, const std::string& path, std::string_view name,
              std::u16string& text) {
  if (path.empty()) return Fail(ERROR_INVALID_DATA);
  platform::RegValue value;
  DWORD err = registry.QueryValue(path, name, kRegReadBufferBytes, &value);
  if (err == ERROR_SUCCESS && value.type != platform::REG_SZ &&
      value.type != platform::REG_EXPAND_SZ)
    err = ERROR_INVALID_DATA;
  if (err != ERROR_SUCCESS) return Fail(err);
  text = platform::TextFromData(value.data);
  return TRUE;
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
  std::u16string buffer;
  BOOL ok = ReadText(registry_, KeyPath(subkey), name, buffer);
  out = platform::Utf16ToUtf8(buffer);  // the buffer is assigned even after a failure
  return ok;
}

BOOL CRegSettings::ReadStringUtf8(std::string_view subkey, std::string_view name,
                                  std::string& out) const {
  std::u16string buffer;
  if (!ReadText(registry_, KeyPath(subkey), name, buffer)) return FALSE;
  out = platform::Utf16ToUtf8(buffer);
  return TRUE;
}

BOOL CRegSettings::ReadDword(std::string_view subkey, std::string_view name, DWORD& out) const {
  std::string path = KeyPath(subkey);
  if (path.empty()) return Fail(ERROR_INVALID_DATA);
  platform::RegValue value;
  DWORD err = registry_.QueryValue(path, name, sizeof(DWORD), &value);
  // A string of one character would fit the four bytes; it is still not a
  // number, and the caller's preset is kept.
  if (err == ERROR_SUCCESS && (value.type != platform::REG_DWORD || value.data.size() != 4))
    err = ERROR_INVALID_DATA;
  if (err != ERROR_SUCCESS) return Fail(err);
  out = platform::DwordFromData(value.data);
  return TRUE;
}

BOOL CRegSettings::WriteString(std::string_view subkey, std::string_view name,
                               std::string_view value) const {
  std::string path = KeyPath(subkey);
  if (path.empty()) return Fail(ERROR_INVALID_DATA);
  DWORD err =
      registry_.SetValue(path, platform::MakeStringValue(name, platform::Utf8ToUtf16(value)));
  return err == ERROR_SUCCESS ? TRUE : Fail(err);
}

BOOL CRegSettings::WriteStringUtf8(std::string_view subkey, std::string_view name,
                                   std::string_view value) const {
  // Text is UTF-8 in memory already; the conversion to UTF-16 happens in
  // WriteString.
  return WriteString(subkey, name, value);
}

BOOL CRegSettings::WriteDword(std::string_view subkey, std::string_view name, DWORD value) const {
  std::string path = KeyPath(subkey);
  if (path.empty()) return Fail(ERROR_INVALID_DATA);
  DWORD err = registry_.SetValue(path, platform::MakeDwordValue(name, value));
  return err == ERROR_SUCCESS ? TRUE : Fail(err);
}

BOOL CRegSettings::DeleteValue(std::string_view subkey, std::string_view name) const {
  std::string path = KeyPath(subkey);
  if (path.empty()) return Fail(ERROR_INVALID_DATA);
  DWORD err = registry_.DeleteValue(path, name);
  return err == ERROR_SUCCESS ? TRUE : Fail(err);
}

BOOL CRegSettings::EnumValueName(std::string_view subkey, DWORD index, std::string& out) const {
  out.clear();
  std::string path = KeyPath(subkey);
  if (path.empty()) return Fail(ERROR_INVALID_DATA);
  std::string name;
  DWORD err = registry_.EnumValue(path, index, kRegReadBufferBytes / 2, &name);
  if (err != ERROR_SUCCESS) return Fail(err);
  out = std::move(name);
  return TRUE;
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
