#include "musicid/component/json.h"

#include <cctype>
#include <charconv>
#include <cstdlib>
#include <limits>
#include <string>

namespace cddb_component {
namespace {

constexpr int kMaxDepth = 64;

class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text) {}

  bool Document(JsonValue* out) {
    if (!Value(out, 0)) return false;
    SkipSpace();
    return pos_ == text_.size() || Fail("text after the value");
  }
  std::string error() const { return error_ + " at offset " + std::to_string(pos_); }

 private:
  bool Fail(const char* what) {
    if (error_.empty()) error_ = what;
    return false;
  }
  void SkipSpace() {
    while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t' ||
                                   text_[pos_] == '\n' || text_[pos_] == '\r'))
      ++pos_;
  }
  bool Literal(std::string_view word) {
    if (text_.substr(pos_, word.size()) != word) return Fail("unknown word");
    pos_ += word.size();
    return true;
  }

  bool Value(JsonValue* out, int depth) {
    if (depth > kMaxDepth) return Fail("nesting too deep");
    SkipSpace();
    if (pos_ >= text_.size()) return Fail("unexpected end");
    const char c = text_[pos_];
    if (c == '{') return Object(out, depth);
    if (c == '[') return Array(out, depth);
    if (c == '"') {
      out->type = JsonValue::Type::kString;
      return String(&out->text);
    }
    if (c == 't' || c == 'f') {
      out->type = JsonValue::Type::kBool;
      out->boolean = c == 't';
      return Literal(c == 't' ? "true" : "false");
    }
    if (c == 'n') return Literal("null");
    return Number(out);
  }

  bool Number(JsonValue* out) {
    const std::size_t start = pos_;
    if (pos_ < text_.size() && text_[pos_] == '-') ++pos_;
    const std::size_t digits = pos_;
    while (pos_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[pos_]))) ++pos_;
    if (pos_ == digits) return Fail("not a value");
    auto more_digits = [&] {
      const std::size_t from = pos_;
      while (pos_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[pos_]))) ++pos_;
      return pos_ > from;
    };
    if (pos_ < text_.size() && text_[pos_] == '.') {
      ++pos_;
      if (!more_digits()) return Fail("bad number");
    }
    if (pos_ < text_.size() && (text_[pos_] == 'e' || text_[pos_] == 'E')) {
      ++pos_;
      if (pos_ < text_.size() && (text_[pos_] == '+' || text_[pos_] == '-')) ++pos_;
      if (!more_digits()) return Fail("bad number");
    }
    out->type = JsonValue::Type::kNumber;
    out->number = NumberValue(text_.substr(start, pos_ - start));
    return true;
  }

  // The value of a well-formed JSON number, whatever the process locale
  // says about decimal points. Beyond the range of a double it becomes the
  // largest finite double of its sign (or 0 below the smallest), so that
  // no caller converts an infinity to an integer.
  static double NumberValue(std::string_view number) {
    double value = 0;
    const auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (ec == std::errc::result_out_of_range) {
      const std::size_t e = number.find_first_of("eE");
      const bool tiny =
          e != std::string_view::npos && e + 1 < number.size() && number[e + 1] == '-';
      const bool negative = !number.empty() && number[0] == '-';
      if (tiny) return 0;
      return negative ? -std::numeric_limits<double>::max() : std::numeric_limits<double>::max();
    }
    (void)end;
    return value;
  }

  static void AppendUtf8(std::string* s, unsigned long cp) {
    if (cp < 0x80) {
      *s += static_cast<char>(cp);
    } else if (cp < 0x800) {
      *s += static_cast<char>(0xC0 | (cp >> 6));
      *s += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      *s += static_cast<char>(0xE0 | (cp >> 12));
      *s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      *s += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      *s += static_cast<char>(0xF0 | (cp >> 18));
      *s += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      *s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      *s += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }

  bool Hex4(unsigned long* value) {
    if (pos_ + 4 > text_.size()) return Fail("bad escape");
    *value = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = text_[pos_++];
      int digit = std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
                  : (c >= 'a' && c <= 'f')                    ? c - 'a' + 10
                  : (c >= 'A' && c <= 'F')                    ? c - 'A' + 10
                                                              : -1;
      if (digit < 0) return Fail("bad escape");
      *value = *value * 16 + static_cast<unsigned long>(digit);
    }
    return true;
  }

  bool String(std::string* out) {
    ++pos_;  // the opening quote
    out->clear();
    while (pos_ < text_.size()) {
      const char c = text_[pos_++];
      if (c == '"') return true;
      if (static_cast<unsigned char>(c) < 0x20) return Fail("control character in text");
      if (c != '\\') {
        *out += c;
        continue;
      }
      if (pos_ >= text_.size()) break;
      const char e = text_[pos_++];
      switch (e) {
        case '"':
        case '\\':
        case '/':
          *out += e;
          break;
        case 'b':
          *out += '\b';
          break;
        case 'f':
          *out += '\f';
          break;
        case 'n':
          *out += '\n';
          break;
        case 'r':
          *out += '\r';
          break;
        case 't':
          *out += '\t';
          break;
        case 'u': {
          unsigned long cp = 0;
          if (!Hex4(&cp)) return false;
          if (cp >= 0xD800 && cp < 0xDC00 && text_.substr(pos_, 2) == "\\u") {
            pos_ += 2;
            unsigned long low = 0;
            if (!Hex4(&low)) return false;
            if (low < 0xDC00 || low > 0xDFFF) return Fail("bad surrogate pair");
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
          } else if (cp >= 0xD800 && cp < 0xE000) {
            cp = 0xFFFD;  // a lone surrogate
          }
          AppendUtf8(out, cp);
          break;
        }
        default:
          return Fail("bad escape");
      }
    }
    return Fail("unterminated text");
  }

  bool Array(JsonValue* out, int depth) {
    ++pos_;
    out->type = JsonValue::Type::kArray;
    SkipSpace();
    if (pos_ < text_.size() && text_[pos_] == ']') {
      ++pos_;
      return true;
    }
    for (;;) {
      out->items.emplace_back();
      if (!Value(&out->items.back(), depth + 1)) return false;
      SkipSpace();
      if (pos_ >= text_.size()) return Fail("unterminated array");
      const char c = text_[pos_++];
      if (c == ']') return true;
      if (c != ',') return Fail("expected , or ]");
    }
  }

  bool Object(JsonValue* out, int depth) {
    ++pos_;
    out->type = JsonValue::Type::kObject;
    SkipSpace();
    if (pos_ < text_.size() && text_[pos_] == '}') {
      ++pos_;
      return true;
    }
    for (;;) {
      SkipSpace();
      if (pos_ >= text_.size() || text_[pos_] != '"') return Fail("expected a member name");
      std::string name;
      if (!String(&name)) return false;
      SkipSpace();
      if (pos_ >= text_.size() || text_[pos_++] != ':') return Fail("expected :");
      out->members.push_back({std::move(name), JsonValue()});
      if (!Value(&out->members.back().second, depth + 1)) return false;
      SkipSpace();
      if (pos_ >= text_.size()) return Fail("unterminated object");
      const char c = text_[pos_++];
      if (c == '}') return true;
      if (c != ',') return Fail("expected , or }");
    }
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  std::string error_;
};

}  // namespace

const JsonValue& JsonValue::operator[](std::string_view name) const {
  static const JsonValue kNull;
  for (const auto& member : members)
    if (member.first == name) return member.second;
  return kNull;
}

bool ParseJson(std::string_view text, JsonValue* out, std::string* error) {
  Parser parser(text);
  JsonValue value;
  if (!parser.Document(&value)) {
    if (error) *error = parser.error();
    return false;
  }
  *out = std::move(value);
  return true;
}

}  // namespace cddb_component
