// A small JSON reader for the lookup service's answers: parses a whole
// document into a tree. Strict about syntax (a damaged answer is refused,
// never half-read), nesting limited to 64 levels.
//
// Thread safety: pure functions.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace cddb_component {

struct JsonMember;

struct JsonValue {
  enum class Type { kNull, kBool, kNumber, kString, kArray, kObject };
  Type type = Type::kNull;
  bool boolean = false;
  double number = 0;
  std::string text;
  std::vector<JsonValue> items;     // arrays
  std::vector<JsonMember> members;  // objects, in order

  // The member `name` of an object; a null value when absent.
  const JsonValue& operator[](std::string_view name) const;
  bool IsString() const { return type == Type::kString; }
  bool IsNumber() const { return type == Type::kNumber; }
  bool IsArray() const { return type == Type::kArray; }
  bool IsObject() const { return type == Type::kObject; }
};

// One member of an object: its name and value.
struct JsonMember {
  std::string first;
  JsonValue second;
};

// Parses `text`; false (with `error` saying where) when it is not one
// well-formed JSON value.
bool ParseJson(std::string_view text, JsonValue* out, std::string* error = nullptr);

}  // namespace cddb_component
