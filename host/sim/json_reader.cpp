#include "json_reader.h"

#include <hostsim/control.h>

#include <cstdint>

namespace hostsim {

namespace {

constexpr int kMaxDepth = 64;

class Reader {
public:
  explicit Reader(const std::string& text) : m_text(text) {}

  bool document(JsonValue* value) {
    skipSpace();
    if (!readValue(value, 0))
      return false;
    skipSpace();
    if (m_pos != m_text.size())
      return fail("text after the value");
    return true;
  }

  std::string problem() const { return m_problem; }

private:
  bool fail(const std::string& what) {
    if (m_problem.empty()) {
      size_t line = 1;
      size_t column = 1;
      for (size_t i = 0; i < m_pos && i < m_text.size(); ++i) {
        if (m_text[i] == '\n') {
          ++line;
          column = 1;
        } else {
          ++column;
        }
      }
      m_problem = "line " + std::to_string(line) + ", column " + std::to_string(column) + ": " + what;
    }
    return false;
  }

  bool atEnd() const { return m_pos >= m_text.size(); }
  char peek() const { return atEnd() ? '\0' : m_text[m_pos]; }

  void skipSpace() {
    while (!atEnd() && (peek() == ' ' || peek() == '\t' || peek() == '\n' || peek() == '\r'))
      ++m_pos;
  }

  bool expectWord(const char* word) {
    for (const char* c = word; *c; ++c, ++m_pos) {
      if (peek() != *c)
        return fail(std::string("expected ") + word);
    }
    return true;
  }

  // depth: how many arrays and objects enclose the value.
  bool readValue(JsonValue* value, int depth) {
    if ((peek() == '{' || peek() == '[') && depth >= kMaxDepth)
      return fail("nested deeper than " + std::to_string(kMaxDepth));
    switch (peek()) {
    case '{':
      return readObject(value, depth);
    case '[':
      return readArray(value, depth);
    case '"':
      value->kind = JsonValue::Kind::String;
      return readString(&value->text);
    case 't':
      value->kind = JsonValue::Kind::Boolean;
      value->boolean = true;
      return expectWord("true");
    case 'f':
      value->kind = JsonValue::Kind::Boolean;
      value->boolean = false;
      return expectWord("false");
    case 'n':
      value->kind = JsonValue::Kind::Null;
      return expectWord("null");
    default:
      if (peek() == '-' || (peek() >= '0' && peek() <= '9'))
        return readNumber(value);
      return fail(atEnd() ? "unexpected end of text" : "expected a value");
    }
  }

  bool readObject(JsonValue* value, int depth) {
    value->kind = JsonValue::Kind::Object;
    ++m_pos; // {
    skipSpace();
    if (peek() == '}') {
      ++m_pos;
      return true;
    }
    for (;;) {
      if (peek() != '"')
        return fail("expected a member name in double quotes");
      std::string name;
      if (!readString(&name))
        return false;
      if (value->member(name))
        return fail("member \"" + name + "\" given twice");
      skipSpace();
      if (peek() != ':')
        return fail("expected ':'");
      ++m_pos;
      skipSpace();
      JsonValue member;
      if (!readValue(&member, depth + 1))
        return false;
      value->members.emplace_back(std::move(name), std::move(member));
      skipSpace();
      if (peek() == '}') {
        ++m_pos;
        return true;
      }
      if (peek() != ',')
        return fail("expected ',' or '}'");
      ++m_pos;
      skipSpace();
    }
  }

  bool readArray(JsonValue* value, int depth) {
    value->kind = JsonValue::Kind::Array;
    ++m_pos; // [
    skipSpace();
    if (peek() == ']') {
      ++m_pos;
      return true;
    }
    for (;;) {
      JsonValue item;
      if (!readValue(&item, depth + 1))
        return false;
      value->items.push_back(std::move(item));
      skipSpace();
      if (peek() == ']') {
        ++m_pos;
        return true;
      }
      if (peek() != ',')
        return fail("expected ',' or ']'");
      ++m_pos;
      skipSpace();
    }
  }

  bool readDigits() {
    if (!(peek() >= '0' && peek() <= '9'))
      return fail("expected a digit");
    while (peek() >= '0' && peek() <= '9')
      ++m_pos;
    return true;
  }

  bool readNumber(JsonValue* value) {
    const size_t start = m_pos;
    if (peek() == '-')
      ++m_pos;
    if (peek() == '0') {
      ++m_pos;
      if (peek() >= '0' && peek() <= '9')
        return fail("a number with a leading zero");
    } else if (!readDigits()) {
      return false;
    }
    if (peek() == '.') {
      ++m_pos;
      if (!readDigits())
        return false;
    }
    if (peek() == 'e' || peek() == 'E') {
      ++m_pos;
      if (peek() == '+' || peek() == '-')
        ++m_pos;
      if (!readDigits())
        return false;
    }
    value->kind = JsonValue::Kind::Number;
    value->text = m_text.substr(start, m_pos - start);
    return true;
  }

  bool readHex4(std::uint32_t* code) {
    *code = 0;
    for (int i = 0; i < 4; ++i, ++m_pos) {
      const char c = peek();
      std::uint32_t digit = 0;
      if (c >= '0' && c <= '9')
        digit = static_cast<std::uint32_t>(c - '0');
      else if (c >= 'a' && c <= 'f')
        digit = static_cast<std::uint32_t>(c - 'a' + 10);
      else if (c >= 'A' && c <= 'F')
        digit = static_cast<std::uint32_t>(c - 'A' + 10);
      else
        return fail("expected four hexadecimal digits after \\u");
      *code = *code * 16 + digit;
    }
    return true;
  }

  static void appendUtf8(std::uint32_t code, std::string* out) {
    if (code < 0x80) {
      out->push_back(static_cast<char>(code));
    } else if (code < 0x800) {
      out->push_back(static_cast<char>(0xC0 | (code >> 6)));
      out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
      out->push_back(static_cast<char>(0xE0 | (code >> 12)));
      out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
      out->push_back(static_cast<char>(0xF0 | (code >> 18)));
      out->push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
      out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
  }

  bool readEscape(std::string* out) {
    ++m_pos; // backslash
    const char c = peek();
    ++m_pos;
    switch (c) {
    case '"':
    case '\\':
    case '/':
      out->push_back(c);
      return true;
    case 'b':
      out->push_back('\b');
      return true;
    case 'f':
      out->push_back('\f');
      return true;
    case 'n':
      out->push_back('\n');
      return true;
    case 'r':
      out->push_back('\r');
      return true;
    case 't':
      out->push_back('\t');
      return true;
    case 'u':
      break;
    default:
      --m_pos;
      return fail("an unknown escape in a string");
    }
    std::uint32_t code = 0;
    if (!readHex4(&code))
      return false;
    if (code >= 0xDC00 && code <= 0xDFFF)
      return fail("an unpaired surrogate escape");
    if (code >= 0xD800 && code <= 0xDBFF) {
      std::uint32_t low = 0;
      if (peek() != '\\' || m_pos + 1 >= m_text.size() || m_text[m_pos + 1] != 'u')
        return fail("an unpaired surrogate escape");
      m_pos += 2;
      if (!readHex4(&low))
        return false;
      if (low < 0xDC00 || low > 0xDFFF)
        return fail("an unpaired surrogate escape");
      code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
    }
    appendUtf8(code, out);
    return true;
  }

  // One well-formed UTF-8 sequence (no overlong forms, no surrogates, nothing above U+10FFFF).
  bool readUtf8(std::string* out) {
    const size_t length = Utf8SequenceLength(m_text, m_pos);
    if (length == 0)
      return fail("invalid UTF-8");
    out->append(m_text, m_pos, length);
    m_pos += length;
    return true;
  }

  bool readString(std::string* out) {
    ++m_pos; // opening quote
    for (;;) {
      if (atEnd())
        return fail("a string without its closing quote");
      const auto c = static_cast<unsigned char>(peek());
      if (c == '"') {
        ++m_pos;
        return true;
      }
      if (c < 0x20)
        return fail("a control character in a string");
      if (c == '\\') {
        if (!readEscape(out))
          return false;
      } else if (c < 0x80) {
        out->push_back(static_cast<char>(c));
        ++m_pos;
      } else if (!readUtf8(out)) {
        return false;
      }
    }
  }

  const std::string& m_text;
  size_t m_pos = 0;
  std::string m_problem;
};

} // namespace

const JsonValue* JsonValue::member(const std::string& name) const {
  for (const auto& entry : members) {
    if (entry.first == name)
      return &entry.second;
  }
  return nullptr;
}

const char* JsonKindName(JsonValue::Kind kind) {
  switch (kind) {
  case JsonValue::Kind::Null:
    return "null";
  case JsonValue::Kind::Boolean:
    return "boolean";
  case JsonValue::Kind::Number:
    return "number";
  case JsonValue::Kind::String:
    return "string";
  case JsonValue::Kind::Array:
    return "array";
  case JsonValue::Kind::Object:
    return "object";
  }
  return "value";
}

bool ParseJson(const std::string& text, JsonValue* value, std::string* problem) {
  Reader reader(text);
  JsonValue result;
  if (!reader.document(&result)) {
    if (problem)
      *problem = reader.problem();
    return false;
  }
  *value = std::move(result);
  return true;
}

} // namespace hostsim
