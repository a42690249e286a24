// The fixture of the update client's tests: a fresh folder per test and the process-wide state (CA
// file, libcurl, host handles) every test starts from; and the small helpers the tests share.
#pragma once

#include "host_support.h"
#include "loopback_https.h"
#include "temp_folder.h"
#include "test_files.h"
#include "update/offer_state.h"
#include "update/package_download.h"
#include "update/update_client.h"
#include "update/version_check.h"
#include "worker_bridge.h"

#include <hostsim/control.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace updatetest {

// The names in a folder that holds the installer package alone.
inline const std::vector<std::string> kInstallerAlone{"Orvandel-installer.pkg"};

inline double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// text with the first occurrence of from replaced by to; throws when from does not occur.
inline std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  return text.replace(text.find(from), from.size(), to);
}

// The report pkgutil prints on checking a package signed by the team's Developer ID Installer
// certificate ("signed_by_team"), by another team's ("other_team"), with a development certificate
// ("apple_development"); or signature_reports/<name>.txt.
inline std::string SignatureReport(const std::string& name) {
  const std::string folder = QUORLEX_SIGNATURE_REPORTS;
  const std::string team = ReadFile(folder + "/signed_by_team.txt");
  if (name == "other_team")
    return Replaced(team, "Quorlex s.r.o. (QX7T2M9K4B)", "Someone Else Ltd (AB12CD34EF)");
  if (name == "apple_development")
    return Replaced(
        Replaced(Replaced(team, "distribution\n   Notarization: trusted by the Apple notary service",
                          "development"),
                 "Developer ID Installer: Quorlex s.r.o.", "Apple Development: Jan Novak"),
        "2. Developer ID Certification Authority",
        "2. Apple Worldwide Developer Relations Certification Authority");
  return ReadFile(folder + "/" + name + ".txt");
}

// The version check at once on the calling thread, against the given version file and server origin.
inline bool CheckNewVersionAt(const std::string& versionFile, const std::string& serverBaseUrl) {
  BeginVersionCheck();
  return FinishVersionCheck(QueryVersion(versionFile, serverBaseUrl));
}

// The download of the offered package at once on the calling thread: the server origin, the home folder
// and the signing team as DownloadPackage takes them.
inline void DownloadLatestVersionTo(const std::string& serverBaseUrl, const std::string& home,
                                    const std::string& teamId) {
  PackageDownload download = DownloadPackage(serverBaseUrl, idServerVersion, home, teamId);
  PlacePackage(download);
  ReportPackageDownload(download);
}

// A file fetched as the download fetches it: the transfer and its checks, then the rename the main
// thread makes (PlaceFetchedFile).
inline FileFetch FetchAndPlace(const std::string& url, const std::string& path,
                               const FileAcceptance& accept = nullptr,
                               const TransferProgress& progress = nullptr) {
  FileFetch fetch = FetchFileUnplaced(url, path, accept, progress);
  PlaceFetchedFile(fetch);
  return fetch;
}

// What stop does to the update client: ends and joins the bridge's workers, takes the dialogs down.
inline void StopUpdateWorkers() {
  workerbridge::StopWorkers(std::chrono::seconds(2));
  CancellableProgress::CloseAll();
}

// Sets an environment variable for its lifetime and restores the previous state afterwards.
class ScopedVariable {
public:
  ScopedVariable(const char* name, const std::string& value) : m_name(name) {
    if (const char* previous = std::getenv(name))
      m_previous = previous;
    ::setenv(name, value.c_str(), 1);
  }
  ~ScopedVariable() {
    if (m_previous)
      ::setenv(m_name, m_previous->c_str(), 1);
    else
      ::unsetenv(m_name);
  }
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
  const char* m_name;
  std::optional<std::string> m_previous;
};

// Gives each test a fresh folder (kept and printed when the test failed), trusts the test CA,
// initialises libcurl, and gives the add-in a fresh host.
class UpdateTest : public ::testing::Test {
protected:
  void SetUp() override {
    ::setenv("HOSTSIM_CA_FILE", loopback::TestCaFile().c_str(), 1);
    ASSERT_TRUE(UpdateClientStart());
    FreshHost();
  }

  void TearDown() override {
    StopUpdateWorkers();
    orvandel::ui = nullptr;
    orvandel::app = nullptr;
    UpdateClientStop();
  }

  const std::string& folder() const { return m_folder.path(); }

  // A fresh simulated host, and the add-in's handles to it.
  static void FreshHost() {
    hostsim::ResetHost();
    orvandel::app = adsk::core::Application::get();
    orvandel::ui = orvandel::app ? orvandel::app->userInterface() : nullptr;
  }
  // The offer as a version check leaves it: 1.0 installed, 2.5 with id 17 on the server.
  static void OfferVersion25() {
    localVersion = "1.0";
    serverVersion = "2.5";
    idServerVersion = "17";
  }

  // The host idles, delivering the custom events the workers fire, until done() holds or the timeout
  // passes; true when done() holds.
  static bool IdleUntil(const std::function<bool()>& done,
                        std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
      if (std::chrono::steady_clock::now() >= deadline)
        return false;
      hostsim::WaitForCustomEvents(std::chrono::milliseconds(20));
      hostsim::DeliverCustomEvents();
    }
    return true;
  }

  // The transcript's events of the given type, in order.
  static std::vector<hostsim::TranscriptEvent> Events(const std::string& type) {
    std::vector<hostsim::TranscriptEvent> events;
    for (const auto& event : hostsim::Transcript())
      if (event.type == type)
        events.push_back(event);
    return events;
  }
  // The given text field of the transcript's events of the given type, in order.
  static std::vector<std::string> Texts(const std::string& type, const std::string& field) {
    std::vector<std::string> texts;
    for (const auto& event : Events(type))
      texts.push_back(event.text(field));
    return texts;
  }
  // Text of every message box, in order.
  static std::vector<std::string> Messages() { return Texts("messagebox", "text"); }
  // True when a line of the host's log contains text.
  static bool Logged(const std::string& text) {
    return testing::Value(hostsim::LogMessages(), testing::Contains(testing::HasSubstr(text)));
  }

private:
  TempFolder m_folder{"update-test-"};
};

} // namespace updatetest
