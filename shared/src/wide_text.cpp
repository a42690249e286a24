#include "utilities.h"

namespace {

constexpr char32_t kReplacementCharacter = 0xFFFD;

bool IsScalarValue(char32_t c) {
  return c <= 0x10FFFF && !(c >= 0xD800 && c <= 0xDFFF);
}

void AppendUtf8(std::string& out, char32_t c) {
  if (!IsScalarValue(c))
    c = kReplacementCharacter;
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

} // namespace

std::string ws2s(const std::wstring& text) {
  static_assert(sizeof(wchar_t) == 4, "one code point per wide character");
  std::string out;
  out.reserve(text.size() * 2);
  for (wchar_t c : text)
    AppendUtf8(out, static_cast<char32_t>(static_cast<unsigned int>(c)));
  return out;
}

std::string Wstr2Str(const std::wstring& text) {
  return ws2s(text);
}
