#include "scan/xml_plain_check.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "scan/itunes_parser.h"
#include "scan/xml_plain_scanner.h"

namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

unsigned char Byte(char c) { return static_cast<unsigned char>(c); }

constexpr std::array<bool, 256> Table(bool (*test)(unsigned)) {
  std::array<bool, 256> table{};
  for (unsigned c = 0; c < 256; ++c) table[c] = test(c);
  return table;
}
constexpr bool IsAsciiChar(unsigned c) {
  return (c >= 0x20 && c < 0x7F) || c == '\t' || c == '\n' || c == '\r';
}
// Bytes that stand for themselves in character data.
constexpr auto kPlainText =
    Table([](unsigned c) { return IsAsciiChar(c) && c != '<' && c != '&' && c != ']'; });
constexpr auto kNameStart =
    Table([](unsigned c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; });
constexpr auto kNameChar = Table([](unsigned c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '.' || c == '-';
});
constexpr auto kPubidChar = Table([](unsigned c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         (c != 0 && std::string_view(" \r\n-'()+,./:=?;!*#@$_%").find(static_cast<char>(c)) !=
                        std::string_view::npos);
});

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// A code point the check accepts as a character: XML's characters less the
// control characters DEL and C1.
bool IsPlainCode(std::uint32_t code) {
  return code == '\t' || code == '\n' || code == '\r' || (code >= 0x20 && code < 0x7F) ||
         (code >= 0xA0 && code <= 0xD7FF) || (code >= 0xE000 && code <= 0xFFFD) ||
         (code >= 0x10000 && code <= 0x10FFFF);
}

// The length of the character at `p`: > 0, 0 when it is cut off by `end`,
// -1 when it is not one the check accepts.
int CharLength(const char* p, const char* end) {
  const unsigned lead = Byte(*p);
  if (lead < 0x80) return IsAsciiChar(lead) ? 1 : -1;
  int size = 0;
  std::uint32_t code = 0;
  if (lead >= 0xC2 && lead < 0xE0) {
    size = 2;
    code = lead & 0x1F;
  } else if (lead >= 0xE0 && lead < 0xF0) {
    size = 3;
    code = lead & 0x0F;
  } else if (lead >= 0xF0 && lead < 0xF5) {
    size = 4;
    code = lead & 0x07;
  } else {
    return -1;
  }
  const int available = static_cast<int>(std::min<std::ptrdiff_t>(end - p, size));
  for (int i = 1; i < available; ++i) {
    if ((Byte(p[i]) & 0xC0) != 0x80) return -1;
    code = code << 6 | (Byte(p[i]) & 0x3F);
  }
  if (available < size) return 0;
  if ((size == 3 && code < 0x800) || (size == 4 && code < 0x10000)) return -1;
  return IsPlainCode(code) ? size : -1;
}

}  // namespace

// Whether the bytes at `p` begin with `literal`: done, more (the bytes so far
// agree but end first) or doubt (they differ).
PlainXmlCheck::Step PlainXmlCheck::Match(const char* p, const char* end, std::string_view literal) {
  const std::size_t available =
      std::min<std::size_t>(static_cast<std::size_t>(end - p), literal.size());
  if (std::memcmp(p, literal.data(), available) != 0) return Step::kDoubt;
  return available < literal.size() ? Step::kMore : Step::kDone;
}

bool PlainXmlCheck::Feed(std::string_view bytes) {
  while (!doubt_ && !carry_.empty() && !bytes.empty()) {
    // A piece cut off before is read again once the bytes gathered behind
    // it have doubled, so that a long piece fed in small parts is read only
    // a few times over.
    const std::size_t take = std::min(bytes.size(), retry_at_ - carry_.size());
    carry_.append(bytes.substr(0, take));
    if (carry_.size() < retry_at_) return true;
    const std::size_t earlier = carry_.size() - take;  // bytes of earlier calls
    const std::size_t used = Run(carry_.data(), carry_.data() + carry_.size());
    if (used >= earlier) {
      // Read on where the new bytes lie.
      bytes.remove_prefix(used - earlier);
      carry_.clear();
      break;
    }
    bytes.remove_prefix(take);
    Keep(std::string_view(carry_).substr(used));
  }
  if (!doubt_ && carry_.empty() && !bytes.empty()) {
    const std::size_t used = Run(bytes.data(), bytes.data() + bytes.size());
    Keep(bytes.substr(used));
  }
  return !doubt_;
}

void PlainXmlCheck::Keep(std::string_view rest) {
  if (rest.size() > kMaxPlainMarkupBytes) doubt_ = true;
  carry_.assign(rest);
  retry_at_ = rest.size() + std::max<std::size_t>(rest.size(), 256);
}

bool PlainXmlCheck::End() {
  if (!doubt_ && !carry_.empty()) {
    const std::size_t used = Run(carry_.data(), carry_.data() + carry_.size());
    if (used < carry_.size()) doubt_ = true;
    carry_.clear();
  }
  return !doubt_ && place_ == Place::kEpilog;
}

std::size_t PlainXmlCheck::Run(const char* const begin, const char* const end) {
  const char* p = begin;
  while (p < end && !doubt_) {
    const char* const piece = p;
    Step step = Step::kDone;
    if (place_ == Place::kStart) {
      // A byte order mark, then '<' and perhaps the XML declaration.
      if (!bom_seen_) {
        step = Match(p, end, kUtf8Bom);
        if (step == Step::kMore) break;
        bom_seen_ = true;
        if (step == Step::kDone) {
          p += kUtf8Bom.size();
          continue;
        }
      }
      if (*p != '<') {
        doubt_ = true;
        break;
      }
      step = Match(p, end, "<?xml");
      if (step == Step::kMore || (step == Step::kDone && end - p < 6)) break;
      if (step == Step::kDone && IsSpace(p[5])) {
        step = Declaration(p, end);
        if (step == Step::kMore) {
          p = piece;
          break;
        }
        if (step == Step::kDoubt) doubt_ = true;
      }
      place_ = Place::kProlog;
      continue;
    }
    if (*p != '<') {
      if (place_ != Place::kContent) {
        // Only white space outside the root element.
        if (!IsSpace(*p)) doubt_ = true;
        ++p;
        continue;
      }
      while (p < end && step == Step::kDone) {
        while (p < end && kPlainText[Byte(*p)]) ++p;
        if (p == end || *p == '<') break;
        if (*p == '&') {
          step = Reference(p, end);
        } else if (*p == ']') {
          // "]]>" may not stand in character data.
          if (end - p < 3) {
            step = Step::kMore;
          } else if (p[1] == ']' && p[2] == '>') {
            step = Step::kDoubt;
          } else {
            ++p;
          }
        } else {
          const int size = CharLength(p, end);
          step = size < 0 ? Step::kDoubt : size == 0 ? Step::kMore : Step::kDone;
          p += std::max(size, 0);
        }
      }
      if (step == Step::kMore) break;
      if (step == Step::kDoubt) doubt_ = true;
      continue;
    }
    step = Markup(p, end);
    if (step == Step::kMore) {
      p = piece;
      break;
    }
    if (step == Step::kDoubt || static_cast<std::size_t>(p - piece) > kMaxPlainMarkupBytes)
      doubt_ = true;
  }
  return static_cast<std::size_t>(p - begin);
}

PlainXmlCheck::Step PlainXmlCheck::Reference(const char*& p, const char* end) {
  const char* q = p + 1;
  while (q < end && q - p <= 12 && *q != ';') ++q;
  if (q == end) return Step::kMore;
  if (*q != ';') return Step::kDoubt;
  const std::string_view name(p + 1, static_cast<std::size_t>(q - p - 1));
  p = q + 1;
  if (name == "lt" || name == "gt" || name == "amp" || name == "apos" || name == "quot")
    return Step::kDone;
  if (name.size() < 2 || name[0] != '#') return Step::kDoubt;
  // At most eight digits, as far as the proof goes.
  const std::size_t digits = name.size() - (name[1] == 'x' ? 2 : 1);
  std::uint32_t code = 0;
  if (digits > 8 || !CharacterCode(name.substr(1), &code)) return Step::kDoubt;
  return IsPlainCode(code) ? Step::kDone : Step::kDoubt;
}

PlainXmlCheck::Step PlainXmlCheck::Markup(const char*& p, const char* end) {
  if (end - p < 2) return Step::kMore;
  switch (p[1]) {
    case '/':
      return place_ == Place::kContent ? EndTag(p, end) : Step::kDoubt;
    case '?':
      return Instruction(p, end);
    case '!': {
      Step step = Match(p, end, "<!--");
      if (step != Step::kDoubt) return step == Step::kDone ? Comment(p, end) : step;
      step = Match(p, end, "<![CDATA[");
      if (step != Step::kDoubt) {
        if (place_ != Place::kContent) return Step::kDoubt;
        return step == Step::kDone ? CData(p, end) : step;
      }
      step = Match(p, end, "<!DOCTYPE");
      if (step != Step::kDoubt) {
        if (place_ != Place::kProlog || doctype_seen_) return Step::kDoubt;
        return step == Step::kDone ? DocumentType(p, end) : step;
      }
      return Step::kDoubt;
    }
    default:
      return place_ == Place::kEpilog ? Step::kDoubt : StartTag(p, end);
  }
}

// Reads an ASCII name at `q`: done with `q` after it, more, or doubt.
PlainXmlCheck::Step PlainXmlCheck::Name(const char*& q, const char* end) {
  if (q == end) return Step::kMore;
  if (!kNameStart[Byte(*q)]) return Step::kDoubt;
  ++q;
  while (q < end && kNameChar[Byte(*q)]) ++q;
  return q == end ? Step::kMore : Step::kDone;
}

// Characters up to `close` (not included), which ends the piece; `close`
// past the end, or a character not accepted, stops it.
PlainXmlCheck::Step PlainXmlCheck::CharsUntil(const char*& q, const char* end,
                                              std::string_view close) {
  for (;;) {
    if (q == end) return Step::kMore;
    if (*q == close[0]) {
      const Step step = Match(q, end, close);
      if (step != Step::kDoubt) {
        if (step == Step::kDone) q += close.size();
        return step;
      }
    }
    const int size = CharLength(q, end);
    if (size < 0) return Step::kDoubt;
    if (size == 0) return Step::kMore;
    q += size;
  }
}

PlainXmlCheck::Step PlainXmlCheck::Comment(const char*& p, const char* end) {
  const char* q = p + 4;
  // "--" may stand only at the end.
  Step step = CharsUntil(q, end, "--");
  if (step != Step::kDone) return step;
  if (q == end) return Step::kMore;
  if (*q != '>') return Step::kDoubt;
  p = q + 1;
  return Step::kDone;
}

PlainXmlCheck::Step PlainXmlCheck::CData(const char*& p, const char* end) {
  const char* q = p + 9;
  const Step step = CharsUntil(q, end, "]]>");
  if (step == Step::kDone) p = q;
  return step;
}

PlainXmlCheck::Step PlainXmlCheck::Instruction(const char*& p, const char* end) {
  const char* q = p + 2;
  const char* const target = q;
  Step step = Name(q, end);
  if (step != Step::kDone) return step;
  // Targets beginning with "xml" are reserved (the declaration is read at
  // the start).
  if (q - target >= 3 && (target[0] | 0x20) == 'x' && (target[1] | 0x20) == 'm' &&
      (target[2] | 0x20) == 'l')
    return Step::kDoubt;
  // "?>" at once, or white space before the instruction's text.
  if (*q == '?' && Match(q, end, "?>") == Step::kDoubt) return Step::kDoubt;
  if (*q != '?' && !IsSpace(*q)) return Step::kDoubt;
  step = CharsUntil(q, end, "?>");
  if (step == Step::kDone) p = q;
  return step;
}

PlainXmlCheck::Step PlainXmlCheck::StartTag(const char*& p, const char* end) {
  const char* q = p + 1;
  Step step = Name(q, end);
  if (step != Step::kDone) return step;
  const std::string_view name(p + 1, static_cast<std::size_t>(q - p - 1));
  // The attributes' names, to refuse one given twice (set only as far as
  // attribute_count: most tags have none).
  constexpr std::size_t kMaxAttributes = 16;
  const char* attribute_names[kMaxAttributes];
  std::size_t attribute_sizes[kMaxAttributes];
  std::size_t attribute_count = 0;
  bool empty = false;
  for (;;) {
    const char* const space = q;
    while (q < end && IsSpace(*q)) ++q;
    if (q == end) return Step::kMore;
    if (*q == '>') {
      ++q;
      break;
    }
    if (*q == '/') {
      if (end - q < 2) return Step::kMore;
      if (q[1] != '>') return Step::kDoubt;
      q += 2;
      empty = true;
      break;
    }
    // An attribute, after white space.
    if (q == space || attribute_count == kMaxAttributes) return Step::kDoubt;
    const char* const attribute = q;
    step = Name(q, end);
    if (step != Step::kDone) return step;
    const std::string_view attribute_name(attribute, static_cast<std::size_t>(q - attribute));
    for (std::size_t i = 0; i < attribute_count; ++i) {
      if (attribute_name == std::string_view(attribute_names[i], attribute_sizes[i]))
        return Step::kDoubt;
    }
    attribute_names[attribute_count] = attribute;
    attribute_sizes[attribute_count++] = attribute_name.size();
    step = Equals(q, end);
    if (step != Step::kDone) return step;
    const char quote = *q++;
    // Values without references or '<'.
    for (;;) {
      if (q == end) return Step::kMore;
      if (*q == quote) break;
      if (*q == '<' || *q == '&') return Step::kDoubt;
      const int size = CharLength(q, end);
      if (size < 0) return Step::kDoubt;
      if (size == 0) return Step::kMore;
      q += size;
    }
    ++q;
  }
  if (!Open(name)) return Step::kDoubt;
  if (place_ != Place::kContent) place_ = Place::kContent;
  if (empty) Close();
  p = q;
  return Step::kDone;
}

// White space, '=', white space, then an opening quote (left at `q`).
PlainXmlCheck::Step PlainXmlCheck::Equals(const char*& q, const char* end) {
  while (q < end && IsSpace(*q)) ++q;
  if (q == end) return Step::kMore;
  if (*q++ != '=') return Step::kDoubt;
  while (q < end && IsSpace(*q)) ++q;
  if (q == end) return Step::kMore;
  return *q == '"' || *q == '\'' ? Step::kDone : Step::kDoubt;
}

PlainXmlCheck::Step PlainXmlCheck::EndTag(const char*& p, const char* end) {
  const char* q = p + 2;
  Step step = Name(q, end);
  if (step != Step::kDone) return step;
  const std::string_view name(p + 2, static_cast<std::size_t>(q - p - 2));
  while (q < end && IsSpace(*q)) ++q;
  if (q == end) return Step::kMore;
  if (*q != '>') return Step::kDoubt;
  const std::size_t size = open_sizes_.back();
  if (size != name.size() ||
      std::memcmp(open_names_.data() + open_names_.size() - size, name.data(), size) != 0)
    return Step::kDoubt;
  Close();
  p = q + 1;
  return Step::kDone;
}

bool PlainXmlCheck::Open(std::string_view name) {
  if (open_sizes_.size() >= static_cast<std::size_t>(kMaxXmlDepth)) return false;
  open_names_.append(name);
  open_sizes_.push_back(static_cast<std::uint32_t>(name.size()));
  return true;
}

void PlainXmlCheck::Close() {
  open_names_.resize(open_names_.size() - open_sizes_.back());
  open_sizes_.pop_back();
  if (open_sizes_.empty()) place_ = Place::kEpilog;
}

// A quoted value of the declaration, at most 16 plain ASCII bytes.
PlainXmlCheck::Step PlainXmlCheck::Quoted(const char*& q, const char* end,
                                          std::string_view* value) {
  const char quote = *q++;
  const char* const start = q;
  while (q < end && *q != quote) {
    if (q - start >= 16 || !kNameChar[Byte(*q)]) return Step::kDoubt;
    ++q;
  }
  if (q == end) return Step::kMore;
  *value = std::string_view(start, static_cast<std::size_t>(q - start));
  ++q;
  return Step::kDone;
}

// <?xml version="1.0" [encoding="UTF-8"] [standalone="yes|no"] ?>
PlainXmlCheck::Step PlainXmlCheck::Declaration(const char*& p, const char* end) {
  const char* q = p + 5;
  constexpr std::string_view kFields[] = {"version", "encoding", "standalone"};
  std::size_t next = 0;  // fields come in this order, version first
  for (;;) {
    const char* const space = q;
    while (q < end && IsSpace(*q)) ++q;
    if (q == end) return Step::kMore;
    if (*q == '?') {
      if (end - q < 2) return Step::kMore;
      if (q[1] != '>' || next == 0) return Step::kDoubt;
      p = q + 2;
      return Step::kDone;
    }
    if (q == space) return Step::kDoubt;
    const char* const field = q;
    Step step = Name(q, end);
    if (step != Step::kDone) return step;
    const std::string_view name(field, static_cast<std::size_t>(q - field));
    while (next < 3 && kFields[next] != name) {
      if (next == 0) return Step::kDoubt;
      ++next;
    }
    if (next == 3) return Step::kDoubt;
    step = Equals(q, end);
    if (step != Step::kDone) return step;
    std::string_view value;
    step = Quoted(q, end, &value);
    if (step != Step::kDone) return step;
    std::string lower(value);
    for (char& c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    const bool good = next == 0   ? value == "1.0"
                      : next == 1 ? lower == "utf-8"
                                  : value == "yes" || value == "no";
    if (!good) return Step::kDoubt;
    ++next;
  }
}

// <!DOCTYPE name [SYSTEM "system" | PUBLIC "public" "system"] >, no
// internal subset.
PlainXmlCheck::Step PlainXmlCheck::DocumentType(const char*& p, const char* end) {
  const char* q = p + 9;
  const char* space = q;
  while (q < end && IsSpace(*q)) ++q;
  if (q == space) return q == end ? Step::kMore : Step::kDoubt;
  Step step = Name(q, end);
  if (step != Step::kDone) return step;
  int literals = 0;  // still to read
  bool public_id = false;
  bool external = false;  // the external identifier was read
  for (;;) {
    space = q;
    while (q < end && IsSpace(*q)) ++q;
    if (q == end) return Step::kMore;
    if (literals == 0) {
      if (*q == '>') break;
      if (q == space || external || (*q != 'S' && *q != 'P')) return Step::kDoubt;
      step = Match(q, end, *q == 'S' ? "SYSTEM" : "PUBLIC");
      if (step != Step::kDone) return step;
      public_id = *q == 'P';
      external = true;
      literals = public_id ? 2 : 1;
      q += 6;
      if (q == end) return Step::kMore;
      if (!IsSpace(*q)) return Step::kDoubt;
      continue;
    }
    if (q == space || (*q != '"' && *q != '\'')) return Step::kDoubt;
    const char quote = *q++;
    const bool pubid = public_id && literals == 2;
    for (;;) {
      if (q == end) return Step::kMore;
      if (*q == quote) break;
      if (pubid && !kPubidChar[Byte(*q)]) return Step::kDoubt;
      const int size = CharLength(q, end);
      if (size < 0) return Step::kDoubt;
      if (size == 0) return Step::kMore;
      q += size;
    }
    ++q;
    --literals;
  }
  doctype_seen_ = true;
  p = q + 1;
  return Step::kDone;
}
