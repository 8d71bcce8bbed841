// The in-memory model of the registry: keys, values and name comparison.
#include <algorithm>

#include "platform/registry_text.h"

namespace platform {
namespace {

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// True when `path` lies below `parent` ("parent\...").
bool IsBelow(std::string_view path, std::string_view parent) {
  return path.size() > parent.size() && path[parent.size()] == '\\' &&
         EqualsNoCase(path.substr(0, parent.size()), parent);
}

}  // namespace

RegValue MakeStringValue(std::string_view name, std::u16string_view text) {
  RegValue value{std::string(name), REG_SZ, {}};
  value.data.reserve((text.size() + 1) * 2);
  for (char16_t unit : text) {
    value.data += static_cast<char>(unit & 0xFF);
    value.data += static_cast<char>(unit >> 8);
  }
  value.data.append(2, '\0');
  return value;
}

RegValue MakeDwordValue(std::string_view name, DWORD number) {
  RegValue value{std::string(name), REG_DWORD, std::string(4, '\0')};
  for (int i = 0; i < 4; ++i) value.data[i] = static_cast<char>((number >> (8 * i)) & 0xFF);
  return value;
}

std::u16string TextFromData(std::string_view data) {
  std::u16string text;
  for (std::size_t i = 0; i + 1 < data.size(); i += 2) {
    char16_t unit = static_cast<char16_t>(static_cast<unsigned char>(data[i]) |
                                          (static_cast<unsigned char>(data[i + 1]) << 8));
    if (unit == 0) break;
    text += unit;
  }
  return text;
}

DWORD DwordFromData(std::string_view data) {
  if (data.size() != 4) return 0;
  DWORD number = 0;
  for (int i = 3; i >= 0; --i) number = (number << 8) | static_cast<unsigned char>(data[i]);
  return number;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  return true;
}

const RegValue* RegKeyNode::FindValue(std::string_view name) const {
  for (const RegValue& value : values)
    if (EqualsNoCase(value.name, name)) return &value;
  return nullptr;
}

bool RegKeyNode::SetValue(RegValue value) {
  for (RegValue& existing : values) {
    if (!EqualsNoCase(existing.name, value.name)) continue;
    // Windows keeps the spelling of the name from the first write.
    value.name = existing.name;
    if (existing == value) return false;
    existing = std::move(value);
    return true;
  }
  values.push_back(std::move(value));
  return true;
}

bool RegKeyNode::DeleteValue(std::string_view name) {
  auto it = std::find_if(values.begin(), values.end(),
                         [&](const RegValue& v) { return EqualsNoCase(v.name, name); });
  if (it == values.end()) return false;
  values.erase(it);
  return true;
}

const RegKeyNode* RegDocument::FindKey(std::string_view path) const {
  for (const RegKeyNode& key : keys_)
    if (EqualsNoCase(key.path, path)) return &key;
  return nullptr;
}

RegKeyNode* RegDocument::FindKey(std::string_view path) {
  return const_cast<RegKeyNode*>(static_cast<const RegDocument*>(this)->FindKey(path));
}

bool RegDocument::KeyExists(std::string_view path) const {
  for (const RegKeyNode& key : keys_)
    if (EqualsNoCase(key.path, path) || IsBelow(key.path, path)) return true;
  return false;
}

RegKeyNode& RegDocument::CreateKey(std::string_view path) {
  if (RegKeyNode* key = FindKey(path)) return *key;
  // Take the spelling of the longest existing parent, so one key never shows
  // up under two spellings in the file.
  std::string spelled(path);
  for (std::size_t cut = path.rfind('\\'); cut != std::string_view::npos && cut > 0;
       cut = path.rfind('\\', cut - 1)) {
    std::string_view parent = path.substr(0, cut);
    const RegKeyNode* holder = nullptr;
    for (const RegKeyNode& key : keys_)
      if (EqualsNoCase(key.path, parent) || IsBelow(key.path, parent)) holder = &key;
    if (holder) {
      spelled = holder->path.substr(0, cut) + std::string(path.substr(cut));
      break;
    }
  }
  keys_.push_back(RegKeyNode{std::move(spelled), {}});
  return keys_.back();
}

std::vector<std::string> RegDocument::SubKeyNames(std::string_view path) const {
  std::vector<std::string> names;
  for (const RegKeyNode& key : keys_) {
    if (!IsBelow(key.path, path)) continue;
    std::string_view rest = std::string_view(key.path).substr(path.size() + 1);
    std::string_view name = rest.substr(0, rest.find('\\'));
    bool seen = std::any_of(names.begin(), names.end(),
                            [&](const std::string& n) { return EqualsNoCase(n, name); });
    if (!seen) names.emplace_back(name);
  }
  return names;
}

std::size_t RegDocument::ValueCount() const {
  std::size_t count = 0;
  for (const RegKeyNode& key : keys_) count += key.values.size();
  return count;
}

}  // namespace platform
