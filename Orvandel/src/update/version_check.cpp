#include "version_check.h"

#include "host_support.h"
#include "http_fetch.h"
#include "new_version.h"
#include "offer_state.h"
#include "platform.h"
#include "update_protocol.h"
#include "utilities.h"
#include "worker_bridge.h"

#include <file.h>

#include <cstdint>
#include <memory>

namespace {

constexpr const char* kRoutine = "CheckNewVersion";
constexpr const char* kVersionCheckEvent = "OrvandelVersionCheck";
// A version file is one short line; anything far larger is not one.
constexpr std::size_t kMaxVersionFileBytes = 64 * 1024;

// The installed version as a version number, without the carriage return a version file written with
// CR LF leaves at its end; empty when it is no version number, and so cannot be compared.
std::string InstalledVersionNumber(const std::string& local) {
  std::string number = local;
  if (!number.empty() && number.back() == '\r')
    number.pop_back();
  return IsVersionNumber(number) ? number : std::string();
}

} // namespace

std::string ReadLocalVersion(const std::string& path) {
  std::string content;
  Failure ignored;
  if (!ReadWholeFile(path, kMaxVersionFileBytes, content, ignored))
    return std::string();
  // The last line: a line end at the very end closes it and starts none.
  if (!content.empty() && content.back() == '\n')
    content.pop_back();
  const std::size_t lineStart = content.rfind('\n');
  const std::string line = lineStart == std::string::npos ? content : content.substr(lineStart + 1);
  return line.empty() ? std::string() : line.substr(1);
}

std::string LocalVersionFile() {
  const std::string folder = GetAddinLocation(GetExecutableDirectory());
  return folder.empty() ? std::string() : folder + "/version.txt";
}

VersionQuery QueryVersion(const std::string& versionFile, const std::string& serverBaseUrl,
                          const TransferProgress& progress) {
  VersionQuery query;
  query.localVersion = versionFile.empty() ? std::string() : ReadLocalVersion(versionFile);
  if (!query.localVersion.empty()) {
    query.asked = true;
    query.answer = FetchText(VersionQueryUrl(serverBaseUrl, query.localVersion), progress);
  }
  return query;
}

void BeginVersionCheck() {
  LogRoutine(kRoutine, " start function");
}

bool FinishVersionCheck(const VersionQuery& query) {
  localVersion = query.localVersion;

  bool noticeDue = false;
  if (!query.asked) {
    LogRoutine(kRoutine, " file with local version wasn't find.");
    noticeDue = true;
  } else {
    const std::string failure = DescribeTextFetch(query.answer);
    if (!failure.empty()) {
      // Without an answer nothing is known about a newer version, so nothing is offered.
      LogRoutine(kRoutine, " version query failed: " + QuoteForLog(failure));
    } else {
      const VersionAnswer split = SplitVersionAnswer(query.answer.text);
      if (!split.offersNewer) {
        serverVersion = split.version;
        return false;
      }
      const std::string installed = InstalledVersionNumber(query.localVersion);
      if (!IsOfferedVersion(split.version)) {
        // The version is shown to the user: server text that is no version is never shown.
        LogRoutine(kRoutine,
                   " version query failed: offered version is not a version: " + QuoteForLog(split.version));
      } else if (!installed.empty() && CompareVersions(split.version, installed) <= 0) {
        // Never an older package for a newer one, nor the same one again.
        serverVersion = split.version;
        LogRoutine(kRoutine, " offered version " + split.version + " is not newer than the installed " +
                                 installed + ", nothing to offer");
      } else {
        serverVersion = split.version;
        idServerVersion = split.id;
        noticeDue = true;
      }
    }
  }

  if (noticeDue)
    NewVersionUI();
  LogRoutine(kRoutine, " local ver: " + QuoteForLog(localVersion));
  LogRoutine(kRoutine, " server ver: " + QuoteForLog(serverVersion));
  LogRoutine(kRoutine, " end function");
  return noticeDue;
}

bool StartVersionCheck(const std::string& versionFile, const std::string& serverBaseUrl) {
  // Written by the job, read by the end on the main thread after the bridge has joined the worker.
  auto query = std::make_shared<VersionQuery>();
  return workerbridge::Start(
      kVersionCheckEvent,
      [query, versionFile, serverBaseUrl](workerbridge::JobContext& context) {
        *query = QueryVersion(versionFile, serverBaseUrl,
                              [&context](std::uint64_t, std::uint64_t) { return !context.StopRequested(); });
      },
      [query] { FinishVersionCheck(*query); });
}

bool CheckNewVersion() {
  try {
    BeginVersionCheck();
    if (StartVersionCheck(LocalVersionFile(), ServerBaseUrl()))
      return true;
    LogRoutine(kRoutine, " the check cannot start in the background");
    return false;
  } catch (const std::exception& error) {
    LogRoutine(kRoutine, std::string(" stopped: ") + error.what());
    return false;
  }
}
