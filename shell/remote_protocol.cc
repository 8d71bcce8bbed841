#include "shell/remote_protocol.h"

#include <algorithm>

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

std::string EncodeFields(const std::vector<std::string>& fields) {
  static const char kHex[] = "0123456789ABCDEF";
  std::size_t most = fields.size();
  for (const std::string& field : fields) most += 3 * field.size();
  std::string line;
  line.reserve(most);  // grown once: no partial copies left behind
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) line += '\t';
    for (unsigned char c : fields[i]) {
      if (c == '%' || c < 0x20 || c == 0x7F) {
        line += '%';
        line += kHex[c >> 4];
        line += kHex[c & 15];
      } else {
        line += static_cast<char>(c);
      }
    }
  }
  return line;
}

std::vector<std::string> DecodeFields(const std::string& line) {
  // Each field has room for the whole line from the start, so no growing
  // leaves a partial copy of a password behind in freed memory.
  std::vector<std::string> fields(1);
  fields.reserve(1 + static_cast<std::size_t>(std::count(line.begin(), line.end(), '\t')));
  fields.back().reserve(line.size());
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (c == '\t') {
      fields.emplace_back();
      fields.back().reserve(line.size() - i);
    } else if (c == '%' && i + 2 < line.size() && HexValue(line[i + 1]) >= 0 &&
               HexValue(line[i + 2]) >= 0) {
      fields.back() += static_cast<char>(HexValue(line[i + 1]) * 16 + HexValue(line[i + 2]));
      i += 2;
    } else {
      fields.back() += c;
    }
  }
  return fields;
}
