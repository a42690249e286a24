// A small, strict reader of JSON text, for the files hostsim checks as the host would (add-in manifests).
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace hostsim {

struct JsonValue {
  enum class Kind { Null, Boolean, Number, String, Array, Object };

  Kind kind = Kind::Null;
  bool boolean = false;
  // A string's value (UTF-8), or a number as written.
  std::string text;
  std::vector<JsonValue> items;
  // An object's members in the order written; names are unique.
  std::vector<std::pair<std::string, JsonValue>> members;

  // The member called name of an object; null when there is none or this is no object.
  const JsonValue* member(const std::string& name) const;
};

// "null", "boolean", "number", "string", "array", "object".
const char* JsonKindName(JsonValue::Kind kind);

// Reads text as exactly one JSON value (RFC 8259) with nothing but white space around it. Anything
// else is refused: comments, trailing commas, single quotes, leading zeros, control characters or
// invalid UTF-8 in strings, unpaired surrogate escapes, a name twice in one object, a byte-order mark,
// nesting deeper than 64. On refusal returns false with *problem saying where ("line L, column C: ...").
bool ParseJson(const std::string& text, JsonValue* value, std::string* problem);

} // namespace hostsim
