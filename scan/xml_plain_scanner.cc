#include "scan/xml_plain_scanner.h"

#include <array>
#include <cstdint>
#include <cstring>

#include "platform/text.h"

namespace {

// Bytes that end a stretch of plain text or of a start tag's name.
constexpr std::array<bool, 256> Table(std::string_view stops) {
  std::array<bool, 256> table{};
  for (char c : stops) table[static_cast<unsigned char>(c)] = true;
  return table;
}
constexpr auto kTextStops = Table("<&\r");
constexpr auto kCDataStops = Table("]\r");
constexpr auto kNameEnds = Table(" \t\r\n/>");

const char* Skip(const char* p, const char* end, const std::array<bool, 256>& stops) {
  while (p < end && !stops[static_cast<unsigned char>(*p)]) ++p;
  return p;
}

// The UTF-8 form of a character reference ("x" first for hexadecimal
// digits); empty for a code point out of range.
std::string CharacterReference(std::string_view digits) {
  std::uint32_t code = 0;
  std::string out;
  if (CharacterCode(digits, &code) && code != 0) platform::AppendUtf8(out, code);
  return out;
}

}  // namespace

bool CharacterCode(std::string_view digits, std::uint32_t* code) {
  const bool hex = !digits.empty() && digits[0] == 'x';
  if (hex) digits.remove_prefix(1);
  if (digits.empty()) return false;
  *code = 0;
  for (char c : digits) {
    int value = -1;
    if (c >= '0' && c <= '9') value = c - '0';
    if (hex && c >= 'a' && c <= 'f') value = c - 'a' + 10;
    if (hex && c >= 'A' && c <= 'F') value = c - 'A' + 10;
    if (value < 0) return false;
    *code = *code * (hex ? 16 : 10) + static_cast<std::uint32_t>(value);
    if (*code > 0x10FFFF) return false;
  }
  return true;
}

void PlainXmlScanner::Reference() {
  const std::string_view name = token_;
  if (name == "lt") {
    sink_.OnText("<");
  } else if (name == "gt") {
    sink_.OnText(">");
  } else if (name == "amp") {
    sink_.OnText("&");
  } else if (name == "apos") {
    sink_.OnText("'");
  } else if (name == "quot") {
    sink_.OnText("\"");
  } else if (!name.empty() && name[0] == '#') {
    const std::string text = CharacterReference(name.substr(1));
    if (!text.empty()) sink_.OnText(text);
  }
  // Any other entity is one Expat skipped.
}

void PlainXmlScanner::Feed(std::string_view bytes) {
  const char* p = bytes.data();
  const char* const end = p + bytes.size();
  while (p < end) {
    if (skip_lf_) {
      skip_lf_ = false;
      if (*p == '\n') {
        ++p;
        continue;
      }
    }
    switch (state_) {
      case State::kText: {
        const char* start = p;
        p = Skip(p, end, kTextStops);
        if (p > start) sink_.OnText(std::string_view(start, static_cast<std::size_t>(p - start)));
        if (p == end) break;
        const char c = *p++;
        if (c == '<') {
          state_ = State::kTagOpen;
        } else if (c == '&') {
          token_.clear();
          state_ = State::kReference;
        } else {
          sink_.OnText("\n");
          skip_lf_ = true;
        }
        break;
      }
      case State::kTagOpen: {
        const char c = *p++;
        token_.clear();
        marks_ = 0;
        if (c == '/') {
          state_ = State::kEndTag;
        } else if (c == '?') {
          state_ = State::kInstruction;
        } else if (c == '!') {
          state_ = State::kBang;
        } else {
          token_ += c;
          state_ = State::kStartName;
        }
        break;
      }
      case State::kStartName: {
        const char* start = p;
        p = Skip(p, end, kNameEnds);
        token_.append(start, static_cast<std::size_t>(p - start));
        if (p == end) break;
        sink_.OnStart(token_);
        const char c = *p++;
        quote_ = 0;
        state_ = c == '>' ? State::kText : c == '/' ? State::kEmptyClose : State::kAttributes;
        break;
      }
      case State::kAttributes: {
        const char c = *p++;
        if (quote_ != 0) {
          if (c == quote_) quote_ = 0;
        } else if (c == '"' || c == '\'') {
          quote_ = c;
        } else if (c == '>') {
          state_ = State::kText;
        } else if (c == '/') {
          state_ = State::kEmptyClose;
        }
        break;
      }
      case State::kEmptyClose:
        ++p;  // the '>'
        sink_.OnEnd();
        state_ = State::kText;
        break;
      case State::kEndTag: {
        const void* close = std::memchr(p, '>', static_cast<std::size_t>(end - p));
        if (!close) {
          p = end;
          break;
        }
        p = static_cast<const char*>(close) + 1;
        sink_.OnEnd();
        state_ = State::kText;
        break;
      }
      case State::kBang:
        token_ += *p++;
        if (token_ == "--") {
          state_ = State::kComment;
        } else if (token_ == "[CDATA[") {
          state_ = State::kCData;
        } else if (token_.size() >= 7) {
          quote_ = 0;
          subset_ = false;
          state_ = State::kDoctype;
        }
        break;
      case State::kComment: {
        const char c = *p++;
        if (c == '>' && marks_ >= 2) {
          sink_.OnBreak();
          state_ = State::kText;
        }
        marks_ = c == '-' ? marks_ + 1 : 0;
        break;
      }
      case State::kInstruction: {
        const char c = *p++;
        if (c == '>' && marks_ == 1) {
          sink_.OnBreak();
          state_ = State::kText;
        }
        marks_ = c == '?' ? 1 : 0;
        break;
      }
      case State::kCData: {
        if (*p == ']') {
          ++marks_;
          ++p;
          break;
        }
        if (*p == '>' && marks_ >= 2) {
          marks_ -= 2;
          state_ = State::kText;
        }
        for (; marks_ > 0; --marks_) sink_.OnText("]");
        if (state_ != State::kCData) {
          ++p;
          break;
        }
        if (*p == '\r') {
          ++p;
          sink_.OnText("\n");
          skip_lf_ = true;
          break;
        }
        const char* start = p;
        p = Skip(p, end, kCDataStops);
        sink_.OnText(std::string_view(start, static_cast<std::size_t>(p - start)));
        break;
      }
      case State::kDoctype: {
        const char c = *p++;
        if (quote_ != 0) {
          if (c == quote_) quote_ = 0;
        } else if (c == '"' || c == '\'') {
          quote_ = c;
        } else if (c == '[') {
          subset_ = true;
        } else if (c == ']') {
          subset_ = false;
        } else if (c == '>' && !subset_) {
          state_ = State::kText;
        }
        break;
      }
      case State::kReference: {
        const char* start = p;
        while (p < end && *p != ';') ++p;
        token_.append(start, static_cast<std::size_t>(p - start));
        if (p == end) break;
        ++p;
        Reference();
        state_ = State::kText;
        break;
      }
    }
  }
}
