// Registry documents and their text form. A RegDocument holds the keys and
// typed values of the file-backed registry; ParseRegistryText and
// SerializeRegistryText convert it from and to the text of a Windows
// registry export ("Windows Registry Editor Version 5.00", "[key]" sections,
// "name"="text" and "name"=dword:0000000a lines).
//
// Strings that the quoted form cannot carry (control characters such as CR
// and LF, embedded NULs, unpaired surrogates, data without a terminator) are
// written in the export's hex(1) form, so every value round-trips exactly.
//
// Plain values and pure functions: any thread may call them; a document is
// used by one thread at a time.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win_types.h"

namespace platform {

// Value types (the numbers of the Windows registry).
inline constexpr DWORD REG_NONE = 0;
inline constexpr DWORD REG_SZ = 1;
inline constexpr DWORD REG_EXPAND_SZ = 2;
inline constexpr DWORD REG_BINARY = 3;
inline constexpr DWORD REG_DWORD = 4;
inline constexpr DWORD REG_MULTI_SZ = 7;

// Limits of the Windows registry, in UTF-16 units.
inline constexpr std::size_t kRegMaxKeyNameUnits = 255;
inline constexpr std::size_t kRegMaxValueNameUnits = 16383;

// The root that the file's section paths start with.
inline constexpr std::string_view kRegCurrentUserRoot = "HKEY_CURRENT_USER";

struct RegValue {
  std::string name;  // UTF-8; empty is the key's default value ("@")
  DWORD type = REG_NONE;
  // Raw data as the registry holds it: UTF-16LE with its terminator for
  // REG_SZ, 4 little-endian bytes for REG_DWORD, anything for other types.
  std::string data;

  bool operator==(const RegValue&) const = default;
};

RegValue MakeStringValue(std::string_view name, std::u16string_view text);
RegValue MakeDwordValue(std::string_view name, DWORD value);
// The UTF-16 text of string data, up to its first NUL.
std::u16string TextFromData(std::string_view data);
// The number in DWORD data; 0 when the data is not 4 bytes.
DWORD DwordFromData(std::string_view data);

// ASCII case-insensitive equality, the comparison of key and value names.
bool EqualsNoCase(std::string_view a, std::string_view b);

struct RegKeyNode {
  std::string path;              // full path, "HKEY_CURRENT_USER\Software\..."
  std::vector<RegValue> values;  // in insertion order

  const RegValue* FindValue(std::string_view name) const;
  // Replaces the value of the same name in place, or appends it. Returns
  // false when an identical value was already there.
  bool SetValue(RegValue value);
  // False when there was no such value.
  bool DeleteValue(std::string_view name);

  bool operator==(const RegKeyNode&) const = default;
};

class RegDocument {
 public:
  const RegKeyNode* FindKey(std::string_view path) const;
  RegKeyNode* FindKey(std::string_view path);
  // True when the key is listed or is a parent of a listed key.
  bool KeyExists(std::string_view path) const;
  // Finds or appends the key; a new key takes the spelling of the parents
  // that already exist.
  RegKeyNode& CreateKey(std::string_view path);
  // Names of the direct sub-keys of `path`, in order of first appearance.
  std::vector<std::string> SubKeyNames(std::string_view path) const;

  const std::vector<RegKeyNode>& keys() const { return keys_; }
  std::size_t ValueCount() const;

  bool operator==(const RegDocument&) const = default;

 private:
  std::vector<RegKeyNode> keys_;
};

struct RegParseProblem {
  int line = 0;  // 1-based; 0 for the file as a whole
  std::string reason;
};

struct RegParseResult {
  // Everything that parsed, including the lines around damaged ones.
  RegDocument document;
  std::vector<RegParseProblem> problems;  // empty when the text was sound
  bool damaged() const { return !problems.empty(); }
};

// Parses registry export text (UTF-8, with or without a byte order mark;
// UTF-16LE with its mark is accepted too; LF or CR LF line ends). An empty
// text is a sound, empty registry. Every line that parses is kept; each
// line that does not is listed as a problem.
RegParseResult ParseRegistryText(std::string_view bytes);

// The text of `doc`: header, blank line, then each key as a section followed
// by a blank line. LF line ends, UTF-8 without a byte order mark.
std::string SerializeRegistryText(const RegDocument& doc);

}  // namespace platform
