// Text items of an MP4 tag that TagLib's reader drops: a "data" atom whose
// type says implicit (0) or UTF-16 (2) where UTF-8 (1) is meant, as some
// taggers write them. FFmpeg would read an implicit one as Mac Roman text.
// The items are found by walking the atom headers (32- and 64-bit sizes),
// each bounded by its parent and the file.
#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "media/tag_reader_internal.h"
#include "platform/file_handle.h"

namespace scan_internal {
namespace {

// A text item is far smaller; a longer one is not read.
constexpr std::uint64_t kItemLimit = 64 * 1024;

enum DataType : std::uint32_t { kImplicit = 0, kUtf8 = 1, kUtf16 = 2 };

struct Span {
  std::uint64_t begin = 0;  // the atom's body
  std::uint64_t end = 0;
};

std::uint64_t BigEndian(const unsigned char* bytes, int n) {
  std::uint64_t v = 0;
  for (int i = 0; i < n; ++i) v = (v << 8) | bytes[i];
  return v;
}

// The atom at `at` within `parent`: its name and body, or nothing when its
// header is cut short or its size is less than the header. An atom whose
// size leaves the parent (a file cut short) runs to the parent's end.
std::optional<std::pair<std::string, Span>> AtomAt(platform::FileHandle& file, std::uint64_t at,
                                                   const Span& parent) {
  std::array<unsigned char, 16> head{};
  std::size_t got = 0;
  if (parent.end - at < 8 || !file.ReadAt(at, head.data(), head.size(), &got) || got < 8)
    return std::nullopt;
  std::uint64_t size = BigEndian(head.data(), 4);
  std::uint64_t header = 8;
  if (size == 1) {
    if (got < 16) return std::nullopt;
    size = BigEndian(head.data() + 8, 8);
    header = 16;
  } else if (size == 0) {
    size = parent.end - at;  // runs to the end of its parent
  }
  if (size < header) return std::nullopt;
  size = std::min(size, parent.end - at);
  return std::make_pair(std::string(reinterpret_cast<const char*>(head.data()) + 4, 4),
                        Span{at + header, at + size});
}

std::optional<Span> Child(platform::FileHandle& file, const Span& parent, std::string_view name) {
  for (std::uint64_t at = parent.begin; at < parent.end;) {
    auto atom = AtomAt(file, at, parent);
    if (!atom) return std::nullopt;
    if (atom->first == name) return atom->second;
    at = atom->second.end;
  }
  return std::nullopt;
}

// Fills `field` from the first data atom of the item body `item`.
void FillFromItem(platform::FileHandle& file, const Span& item, char16_t* field, DWORD cch) {
  auto data = AtomAt(file, item.begin, item);
  if (!data || data->first != "data") return;
  const Span body = data->second;
  if (body.end - body.begin < 8 || body.end - body.begin > kItemLimit) return;
  std::string bytes(body.end - body.begin, '\0');
  std::size_t got = 0;
  if (!file.ReadAt(body.begin, bytes.data(), bytes.size(), &got) || got != bytes.size()) return;
  const auto type = static_cast<std::uint32_t>(
      BigEndian(reinterpret_cast<const unsigned char*>(bytes.data()), 4) & 0xFFFFFF);
  const std::string_view text = std::string_view(bytes).substr(8);  // past type and locale
  if (type == kImplicit || type == kUtf8) {
    FillTagField(field, cch, text);
  } else if (type == kUtf16) {
    std::u16string units;
    for (std::size_t i = 0; i + 1 < text.size(); i += 2)
      units.push_back(static_cast<char16_t>((static_cast<unsigned char>(text[i]) << 8) |
                                            static_cast<unsigned char>(text[i + 1])));
    FillTagField(field, cch, units);
  }
}

}  // namespace

void FillMp4TextItems(const std::string& path, MediaTagSet* tags) {
  static constexpr std::pair<std::string_view, TagField> kItems[] = {
      {"\251nam", &MediaTagSet::title},
      {"\251ART", &MediaTagSet::artist},
      {"\251alb", &MediaTagSet::album}};
  platform::FileHandle file;
  if (!file.OpenRead(path)) return;
  const std::int64_t size = file.Size();
  if (size <= 0) return;
  std::optional<Span> ilst;
  if (auto moov = Child(file, {0, static_cast<std::uint64_t>(size)}, "moov")) {
    if (auto udta = Child(file, *moov, "udta")) {
      if (auto meta = Child(file, *udta, "meta"); meta && meta->end - meta->begin >= 4) {
        ilst = Child(file, {meta->begin + 4, meta->end}, "ilst");  // past version and flags
      }
    }
  }
  if (!ilst) return;
  for (std::uint64_t at = ilst->begin; at < ilst->end;) {
    auto item = AtomAt(file, at, *ilst);
    if (!item) return;
    at = item->second.end;
    for (const auto& [name, member] : kItems) {
      char16_t* field = tags->*member;
      if (item->first == name && field[0] == 0)
        FillFromItem(file, item->second, field, FieldCapacity(*tags));
    }
  }
}

}  // namespace scan_internal
