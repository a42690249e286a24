#include "version_check.h"

#include "host_support.h"
#include "http_fetch.h"
#include "new_version.h"
#include "platform.h"
#include "utilities.h"
#include "version_check_internal.h"

#include <fstream>

std::string localVersion;
std::string serverVersion;
std::string idServerVersion;

namespace {

constexpr const char* kRoutine = "CheckNewVersion";
// The server's whole answer when the installed version is the newest.
constexpr const char* kNoNewerVersionAnswer = "Zandrelmac\n";

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

std::string ReadLocalVersion(const std::string& path) {
  std::string result;
  if (!FileExists(path))
    return result;
  std::ifstream file(path);
  if (!file)
    return result;
  std::string line;
  while (std::getline(file, line))
    result = line.empty() ? std::string() : line.substr(1);
  return result;
}

std::string LocalVersionFile() {
  const std::string folder = GetAddinLocation(GetExecutableDirectory());
  return folder.empty() ? std::string() : folder + "/version.txt";
}

std::string GetLocalVersion() {
  const std::string path = LocalVersionFile();
  return path.empty() ? std::string() : ReadLocalVersion(path);
}

std::string VersionQueryUrl(const std::string& serverBaseUrl, const std::string& version) {
  return serverBaseUrl + "/_sys_/updverC.asp?av=1.0&app=Zandrelmac&cv=" + EncodeQueryValue(version);
}

bool CheckNewVersionAt(const std::string& versionFile, const std::string& serverBaseUrl) {
  LogRoutine(kRoutine, " start function");
  localVersion = versionFile.empty() ? std::string() : ReadLocalVersion(versionFile);

  bool noticeDue = false;
  if (localVersion.empty()) {
    LogRoutine(kRoutine, " file with local version wasn't find.");
    noticeDue = true;
  } else {
    const TextFetch answer = FetchText(VersionQueryUrl(serverBaseUrl, localVersion));
    const std::string failure = DescribeTextFetch(answer);
    if (!failure.empty()) {
      // Without an answer nothing is known about a newer version, so nothing is offered.
      LogRoutine(kRoutine, " version query failed: " + failure);
    } else {
      const VersionAnswer split = SplitVersionAnswer(answer.text);
      serverVersion = split.version;
      if (!split.offersNewer)
        return false;
      noticeDue = true;
      idServerVersion = split.id;
    }
  }

  if (noticeDue)
    NewVersionUI();
  LogRoutine(kRoutine, " local ver: " + localVersion);
  LogRoutine(kRoutine, " server ver: " + serverVersion);
  LogRoutine(kRoutine, " end function");
  return noticeDue;
}

bool CheckNewVersion() {
  try {
    return CheckNewVersionAt(LocalVersionFile(), ServerBaseUrl());
  } catch (const std::exception& error) {
    LogRoutine(kRoutine, std::string(" stopped: ") + error.what());
    return false;
  }
}
