#include "update_protocol.h"

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

VersionAnswer SplitVersionAnswer(const std::string& answer) {
  VersionAnswer split;
  if (answer == kNoNewerVersionAnswer) {
    split.version = answer;
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

std::string PackageAddress(const std::string& linkAnswer) {
  const std::size_t marker = linkAnswer.find("URL=");
  if (marker == std::string::npos)
    return linkAnswer;
  std::string address = linkAnswer.substr(marker + 4);
  const std::size_t extension = address.find(".pkg");
  if (extension != std::string::npos)
    address.resize(extension + 4);
  return address;
}

bool IsOfferedVersion(const std::string& version) {
  if (version.empty() || version.size() > kMaxVersionLength)
    return false;
  bool digitBefore = false;
  for (const char character : version) {
    if (IsAsciiDigit(character)) {
      digitBefore = true;
    } else if (character == '.' && digitBefore) {
      digitBefore = false;
    } else {
      return false;
    }
  }
  return digitBefore;
}

bool IsUsablePackageAddress(const std::string& address) {
  for (const char character : address) {
    const auto byte = static_cast<unsigned char>(character);
    if (byte <= 0x20 || byte == 0x7F)
      return false;
  }
  std::size_t host = 0;
  const std::size_t separator = address.find("://");
  if (separator != std::string::npos) {
    bool schemeLike = separator > 0 && IsAsciiLetter(address[0]);
    for (std::size_t i = 1; schemeLike && i < separator; ++i) {
      const char character = address[i];
      schemeLike = IsAsciiLetter(character) || IsAsciiDigit(character) || character == '+' ||
                   character == '-' || character == '.';
    }
    if (schemeLike) {
      std::string scheme = address.substr(0, separator);
      for (char& character : scheme)
        character = IsAsciiLetter(character) ? static_cast<char>(character | 0x20) : character;
      // Another scheme is the transfer's to refuse, and to name as not HTTPS.
      if (scheme != "https")
        return true;
      host = separator + 3;
    }
  }
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
  for (const char character : text) {
    const auto byte = static_cast<unsigned char>(character);
    if (byte == '\n') {
      escaped += "\\n";
    } else if (byte == '\r') {
      escaped += "\\r";
    } else if (byte < 0x20 || byte == 0x7F) {
      escaped += "\\x";
      escaped += kHex[byte >> 4];
      escaped += kHex[byte & 0x0F];
    } else {
      escaped += character;
    }
  }
  return escaped;
}

std::string ShortenedForLog(const std::string& text, std::size_t limit) {
  if (text.size() <= limit)
    return text;
  std::size_t end = limit;
  // Back to the first byte of the character that would be cut.
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
    --end;
  return text.substr(0, end) + "...";
}
