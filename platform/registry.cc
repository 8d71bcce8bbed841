#include "platform/registry.h"

#include <utility>

#include "platform/folders.h"
#include "platform/registry_store.h"
#include "platform/text.h"

namespace platform {
namespace {

bool HasControl(std::string_view s) {
  for (char c : s)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return true;
  return false;
}

// Names arrive as UTF-8; bad sequences become U+FFFD, as they would on the
// way to a UTF-16 registry, so the file always holds valid text.
std::string CleanName(std::string_view name) {
  if (IsValidUtf8(name)) return std::string(name);
  return Utf16ToUtf8(Utf8ToUtf16(name));
}

std::string FullPath(std::string_view key) {
  std::string path(kRegCurrentUserRoot);
  if (!key.empty()) {
    path += '\\';
    path += CleanName(key);
  }
  return path;
}

// A key path the registry can hold: levels of 1 to 255 units, no control
// characters (the text form keeps one key per line).
bool IsValidKeyPath(std::string_view key) {
  if (key.empty()) return true;
  std::size_t start = 0;
  while (true) {
    std::size_t end = key.find('\\', start);
    std::string_view part = key.substr(start, end == std::string_view::npos ? end : end - start);
    if (part.empty() || Utf16Length(part) > kRegMaxKeyNameUnits || HasControl(part)) return false;
    if (end == std::string_view::npos) return true;
    start = end + 1;
  }
}

bool IsValidValueName(std::string_view name) {
  return Utf16Length(name) <= kRegMaxValueNameUnits && !HasControl(name);
}

bool Exists(const RegDocument& doc, std::string_view key, const std::string& full) {
  return key.empty() || doc.KeyExists(full);
}

// The operations on one document; Registry runs them on the file's
// current copy, RegistryEdit on the copy of an edit.
DWORD QueryIn(const RegDocument& doc, std::string_view key, std::string_view name,
              std::size_t max_bytes, RegValue* out, std::size_t* needed_bytes) {
  if (!IsValidKeyPath(key)) return ERROR_FILE_NOT_FOUND;
  std::string full = FullPath(key);
  if (!Exists(doc, key, full)) return ERROR_FILE_NOT_FOUND;
  const RegKeyNode* node = doc.FindKey(full);
  const RegValue* value = node ? node->FindValue(CleanName(name)) : nullptr;
  if (!value) return ERROR_FILE_NOT_FOUND;
  if (needed_bytes) *needed_bytes = value->data.size();
  out->name = value->name;
  out->type = value->type;
  out->data.clear();
  if (value->data.size() > max_bytes) return ERROR_MORE_DATA;
  out->data = value->data;
  return ERROR_SUCCESS;
}

DWORD SetIn(RegDocument& doc, std::string_view key, const RegValue& value, bool create_key,
            bool& changed) {
  if (!IsValidKeyPath(key) || !IsValidValueName(value.name)) return ERROR_INVALID_PARAMETER;
  std::string full = FullPath(key);
  if (!create_key && !Exists(doc, key, full)) return ERROR_FILE_NOT_FOUND;
  RegValue stored = value;
  stored.name = CleanName(value.name);
  bool created = doc.FindKey(full) == nullptr;
  changed = doc.CreateKey(full).SetValue(std::move(stored)) || created;
  return ERROR_SUCCESS;
}

DWORD DeleteIn(RegDocument& doc, std::string_view key, std::string_view name, bool& changed) {
  changed = false;
  if (!IsValidKeyPath(key)) return ERROR_FILE_NOT_FOUND;
  std::string full = FullPath(key);
  if (!Exists(doc, key, full)) return ERROR_FILE_NOT_FOUND;
  RegKeyNode* node = doc.FindKey(full);
  changed = node && node->DeleteValue(CleanName(name));
  return changed ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

DWORD EnumIn(const RegDocument& doc, std::string_view key, DWORD index, std::size_t max_name_units,
             std::string* name) {
  name->clear();
  if (!IsValidKeyPath(key)) return ERROR_FILE_NOT_FOUND;
  std::string full = FullPath(key);
  if (!Exists(doc, key, full)) return ERROR_FILE_NOT_FOUND;
  const RegKeyNode* node = doc.FindKey(full);
  if (!node || index >= node->values.size()) return ERROR_NO_MORE_ITEMS;
  const std::string& found = node->values[index].name;
  if (Utf16Length(found) >= max_name_units) return ERROR_MORE_DATA;
  *name = found;
  return ERROR_SUCCESS;
}

}  // namespace

Registry::Registry(std::string file_path) : file_path_(std::move(file_path)) {}

std::string Registry::FilePath() const {
  return file_path_.empty() ? ConfigDir() + "/registry.reg" : file_path_;
}

DWORD Registry::OpenKey(std::string_view key) const {
  if (!IsValidKeyPath(key)) return ERROR_FILE_NOT_FOUND;
  std::string full = FullPath(key);
  return registry_store::Read(FilePath(), [&](const RegDocument& doc) {
    return Exists(doc, key, full) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
  });
}

DWORD Registry::CreateKey(std::string_view key) const {
  if (!IsValidKeyPath(key)) return ERROR_INVALID_PARAMETER;
  if (key.empty()) return ERROR_SUCCESS;
  std::string full = FullPath(key);
  return registry_store::Update(FilePath(), [&](RegDocument& doc, bool& changed) {
    changed = doc.FindKey(full) == nullptr;
    doc.CreateKey(full);
    return ERROR_SUCCESS;
  });
}

DWORD Registry::QueryValue(std::string_view key, std::string_view name, std::size_t max_bytes,
                           RegValue* out, std::size_t* needed_bytes) const {
  return registry_store::Read(FilePath(), [&](const RegDocument& doc) {
    return QueryIn(doc, key, name, max_bytes, out, needed_bytes);
  });
}

DWORD Registry::SetValue(std::string_view key, const RegValue& value, bool create_key) const {
  if (!IsValidKeyPath(key) || !IsValidValueName(value.name)) return ERROR_INVALID_PARAMETER;
  return registry_store::Update(FilePath(), [&](RegDocument& doc, bool& changed) {
    return SetIn(doc, key, value, create_key, changed);
  });
}

DWORD Registry::DeleteValue(std::string_view key, std::string_view name) const {
  if (!IsValidKeyPath(key)) return ERROR_FILE_NOT_FOUND;
  return registry_store::Update(FilePath(), [&](RegDocument& doc, bool& changed) {
    return DeleteIn(doc, key, name, changed);
  });
}

DWORD Registry::EnumValue(std::string_view key, DWORD index, std::size_t max_name_units,
                          std::string* name) const {
  name->clear();
  return registry_store::Read(FilePath(), [&](const RegDocument& doc) {
    return EnumIn(doc, key, index, max_name_units, name);
  });
}

DWORD Registry::EnumKey(std::string_view key, DWORD index, std::string* name) const {
  name->clear();
  if (!IsValidKeyPath(key)) return ERROR_FILE_NOT_FOUND;
  std::string full = FullPath(key);
  return registry_store::Read(FilePath(), [&](const RegDocument& doc) {
    if (!Exists(doc, key, full)) return ERROR_FILE_NOT_FOUND;
    std::vector<std::string> names = doc.SubKeyNames(full);
    if (index >= names.size()) return ERROR_NO_MORE_ITEMS;
    *name = names[index];
    return ERROR_SUCCESS;
  });
}

DWORD Registry::Edit(const std::function<DWORD(RegistryEdit&)>& edit) const {
  return registry_store::Update(FilePath(), [&](RegDocument& doc, bool& changed) {
    const RegDocument before = doc;
    RegistryEdit editor(doc);
    const DWORD err = edit(editor);
    changed = err == ERROR_SUCCESS && !(doc == before);
    return err;
  });
}

DWORD RegistryEdit::QueryValue(std::string_view key, std::string_view name, std::size_t max_bytes,
                               RegValue* out, std::size_t* needed_bytes) const {
  return QueryIn(doc_, key, name, max_bytes, out, needed_bytes);
}

DWORD RegistryEdit::SetValue(std::string_view key, const RegValue& value, bool create_key) {
  bool changed = false;
  return SetIn(doc_, key, value, create_key, changed);
}

DWORD RegistryEdit::DeleteValue(std::string_view key, std::string_view name) {
  bool changed = false;
  return DeleteIn(doc_, key, name, changed);
}

DWORD RegistryEdit::EnumValue(std::string_view key, DWORD index, std::size_t max_name_units,
                              std::string* name) const {
  return EnumIn(doc_, key, index, max_name_units, name);
}

std::vector<std::string> TakeRegistryDamageReport() { return registry_store::TakeDamageReport(); }

}  // namespace platform
