#include "update_protocol.h"

#include <algorithm>
#include <vector>

namespace {

bool IsQueryValueByte(unsigned char byte) {
  if ((byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') || (byte >= '0' && byte <= '9'))
    return true;
  // Unreserved and sub-delimiter characters a query may carry, less those that separate keys and
  // values ('&', '=', '+') or end the query ('#').
  static constexpr char kAllowed[] = "-._~!$'()*,;:@/?";
  return byte != '\0' && std::char_traits<char>::find(kAllowed, sizeof kAllowed - 1, static_cast<char>(byte));
}

// Text strictly between two separator positions; everything after `from` when there is no `to`;
// the whole text when there is no `from`.
std::string Field(const std::string& text, std::int32_t from, std::int32_t to) {
  if (from < 0)
    return text;
  if (to < 0)
    return text.substr(static_cast<std::size_t>(from) + 1);
  return text.substr(static_cast<std::size_t>(from) + 1, static_cast<std::size_t>(to - from - 1));
}

bool IsAsciiLetter(char character) {
  return (character >= 'A' && character <= 'Z') || (character >= 'a' && character <= 'z');
}
bool IsAsciiDigit(char character) {
  return character >= '0' && character <= '9';
}

// The length of the valid UTF-8 character at text[at] and its code point; 0 when the byte there begins
// none (a stray continuation byte, an overlong form, a surrogate, past U+10FFFF, or cut short).
std::size_t Utf8Character(const std::string& text, std::size_t at, char32_t& codePoint) {
  const auto lead = static_cast<unsigned char>(text[at]);
  std::size_t length = 0;
  char32_t value = 0;
  char32_t lowest = 0;
  if (lead < 0x80) {
    codePoint = lead;
    return 1;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, value = lead & 0x1F, lowest = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, value = lead & 0x0F, lowest = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, value = lead & 0x07, lowest = 0x10000;
  } else {
    return 0;
  }
  if (text.size() - at < length)
    return 0;
  for (std::size_t i = 1; i < length; ++i) {
    const auto next = static_cast<unsigned char>(text[at + i]);
    if ((next & 0xC0) != 0x80)
      return 0;
    value = (value << 6) | (next & 0x3F);
  }
  if (value < lowest || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
    return 0;
  codePoint = value;
  return length;
}

// Characters that a reader of the log could take for the end of a line, or that reorder what follows
// them on screen.
bool IsHiddenControl(char32_t codePoint) {
  return (codePoint >= 0x80 && codePoint <= 0x9F) || codePoint == 0x2028 || codePoint == 0x2029 ||
         codePoint == 0x061C || codePoint == 0x200E || codePoint == 0x200F ||
         (codePoint >= 0x202A && codePoint <= 0x202E) || (codePoint >= 0x2066 && codePoint <= 0x2069);
}

// Each of the dot-separated numbers of a version; empty for a text that is no version.
std::vector<std::string> VersionNumbers(const std::string& version) {
  std::vector<std::string> numbers(1);
  for (const char character : version) {
    if (IsAsciiDigit(character)) {
      numbers.back() += character;
    } else if (character == '.' && !numbers.back().empty()) {
      numbers.emplace_back();
    } else {
      return {};
    }
  }
  if (numbers.back().empty())
    return {};
  return numbers;
}

// Orders two digit strings by the numbers they write, whatever their length.
int CompareNumbers(const std::string& left, const std::string& right) {
  const std::size_t leftStart = std::min(left.find_first_not_of('0'), left.size());
  const std::size_t rightStart = std::min(right.find_first_not_of('0'), right.size());
  const std::size_t leftDigits = left.size() - leftStart;
  const std::size_t rightDigits = right.size() - rightStart;
  if (leftDigits != rightDigits)
    return leftDigits < rightDigits ? -1 : 1;
  return left.compare(leftStart, leftDigits, right, rightStart, rightDigits);
}

} // namespace

std::string EncodeQueryValue(const std::string& value) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  encoded.reserve(value.size());
  for (const char character : value) {
    const auto byte = static_cast<unsigned char>(character);
    if (IsQueryValueByte(byte)) {
      encoded += character;
    } else {
      encoded += '%';
      encoded += kHex[byte >> 4];
      encoded += kHex[byte & 0x0F];
    }
  }
  return encoded;
}

std::string VersionQueryUrl(const std::string& serverBaseUrl, const std::string& version) {
  return serverBaseUrl + "/_sys_/updverC.asp?av=1.0&app=Zandrelmac&cv=" + EncodeQueryValue(version);
}

std::string DownloadLinkUrl(const std::string& serverBaseUrl, const std::string& id) {
  return serverBaseUrl + "/dl_file.asp?ID=" + EncodeQueryValue(id);
}

std::int32_t NthOccurrence(const std::string& text, const std::string& pattern, int n) {
  std::size_t position = 0;
  int count = 0;
  while (count != n) {
    position = text.find(pattern, position + 1);
    if (position == std::string::npos)
      return -1;
    ++count;
  }
  return static_cast<std::int32_t>(position);
}

std::string WithoutLineEnd(const std::string& text) {
  std::size_t end = text.size();
  if (end > 0 && text[end - 1] == '\n') {
    --end;
    if (end > 0 && text[end - 1] == '\r')
      --end;
  }
  return text.substr(0, end);
}

VersionAnswer SplitVersionAnswer(const std::string& received) {
  VersionAnswer split;
  const std::string answer = WithoutLineEnd(received);
  if (answer == WithoutLineEnd(kNoNewerVersionAnswer)) {
    split.version = received;
    return split;
  }
  split.offersNewer = true;
  const std::int32_t first = NthOccurrence(answer, "|", 1);
  const std::int32_t second = NthOccurrence(answer, "|", 2);
  const std::int32_t third = NthOccurrence(answer, "|", 3);
  split.id = Field(answer, first, second);
  split.version = Field(answer, second, third);
  return split;
}

std::string PackageAddress(const std::string& received) {
  std::string linkAnswer = WithoutLineEnd(received);
  const std::size_t marker = linkAnswer.find("URL=");
  if (marker == std::string::npos)
    return linkAnswer;
  std::string address = linkAnswer.substr(marker + 4);
  const std::size_t extension = address.find(".pkg");
  if (extension != std::string::npos)
    address.resize(extension + 4);
  return address;
}

bool IsVersionNumber(const std::string& version) {
  return !VersionNumbers(version).empty();
}

bool IsOfferedVersion(const std::string& version) {
  return version.size() <= kMaxVersionLength && IsVersionNumber(version);
}

int CompareVersions(const std::string& left, const std::string& right) {
  const std::vector<std::string> leftNumbers = VersionNumbers(left);
  const std::vector<std::string> rightNumbers = VersionNumbers(right);
  const std::size_t count = std::max(leftNumbers.size(), rightNumbers.size());
  static const std::string kZero = "0";
  for (std::size_t i = 0; i < count; ++i) {
    const int order = CompareNumbers(i < leftNumbers.size() ? leftNumbers[i] : kZero,
                                     i < rightNumbers.size() ? rightNumbers[i] : kZero);
    if (order != 0)
      return order;
  }
  return 0;
}

bool IsUsablePackageAddress(const std::string& address) {
  for (const char character : address) {
    const auto byte = static_cast<unsigned char>(character);
    if (byte <= 0x20 || byte == 0x7F)
      return false;
  }
  std::size_t host = 0;
  const std::size_t front = std::min(address.find_first_of("/?#"), address.size());
  const std::size_t colon = address.find(':');
  if (colon < front) {
    if (address.compare(colon, 3, "://") == 0) {
      bool scheme = colon > 0 && IsAsciiLetter(address[0]);
      for (std::size_t i = 1; scheme && i < colon; ++i) {
        const char character = address[i];
        scheme = IsAsciiLetter(character) || IsAsciiDigit(character) || character == '+' ||
                 character == '-' || character == '.';
      }
      if (!scheme)
        return false;
      std::string name = address.substr(0, colon);
      for (char& character : name)
        character = static_cast<char>(character | 0x20);
      // Another scheme with a server is the transfer's to refuse, and to name as not HTTPS.
      if (name != "https")
        return true;
      host = colon + 3;
    } else if (colon + 1 == front || address.find_first_not_of("0123456789", colon + 1) < front) {
      // No port after the colon: a scheme without "//", which names no server (mailto:, data:,
      // javascript: and the like).
      return false;
    }
  }
  // User information ("user@host") would make whatever stands before '@' no part of the server.
  const std::size_t authorityEnd = std::min(address.find_first_of("/?#", host), address.size());
  if (address.find('@', host) < authorityEnd)
    return false;
  // A host name, an IPv4 address or a bracketed IPv6 address begins with one of these.
  return host < address.size() &&
         (IsAsciiLetter(address[host]) || IsAsciiDigit(address[host]) || address[host] == '[');
}

bool IsFlatPackageStart(const std::string& firstBytes) {
  return firstBytes.compare(0, 4, "xar!") == 0;
}

std::string EscapeForLog(const std::string& text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string escaped;
  escaped.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    char32_t codePoint = 0;
    const std::size_t length = Utf8Character(text, at, codePoint);
    if (length == 0 || codePoint < 0x20 || codePoint == 0x7F) {
      const auto byte = static_cast<unsigned char>(text[at]);
      if (byte == '\n') {
        escaped += "\\n";
      } else if (byte == '\r') {
        escaped += "\\r";
      } else {
        escaped += "\\x";
        escaped += kHex[byte >> 4];
        escaped += kHex[byte & 0x0F];
      }
      ++at;
      continue;
    }
    if (IsHiddenControl(codePoint)) {
      escaped += "\\u";
      for (int shift = 12; shift >= 0; shift -= 4)
        escaped += kHex[(codePoint >> shift) & 0x0F];
    } else {
      escaped.append(text, at, length);
    }
    at += length;
  }
  return escaped;
}

std::string QuoteForLog(const std::string& text) {
  if (text.size() <= kLoggedPieceBytes)
    return EscapeForLog(text);
  // Whole characters only; a byte of no character counts as one.
  std::size_t end = 0;
  for (;;) {
    char32_t codePoint = 0;
    const std::size_t length = std::max<std::size_t>(Utf8Character(text, end, codePoint), 1);
    if (end + length > kLoggedPieceBytes)
      break;
    end += length;
  }
  return EscapeForLog(text.substr(0, end)) + "\xE2\x80\xA6 (" + std::to_string(text.size()) + " bytes)";
}
