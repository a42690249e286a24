// Shared fixtures of the update client's tests: a fresh folder per test, file helpers, and the
// process-wide state (CA file, libcurl, host handles) every test starts from.
#pragma once

#include "host_support.h"
#include "loopback_https.h"
#include "update/update_client.h"

#include <hostsim/control.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace updatetest {

inline std::string ReadAll(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream content;
  content << file.rdbuf();
  return content.str();
}

inline void WriteAll(const std::string& path, const std::string& content) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << content;
}

// Entries of a folder, names only, sorted.
inline std::vector<std::string> Entries(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// A fresh folder per test, removed afterwards unless the test failed (then its path is printed).
// Trusts the test CA, initialises libcurl, and gives the add-in a fresh host.
class UpdateTest : public ::testing::Test {
protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "update-test-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    m_folder = pattern;
    ::setenv("HOSTSIM_CA_FILE", loopback::TestCaFile().c_str(), 1);
    ASSERT_TRUE(UpdateClientStart());
    hostsim::ResetHost();
    app = adsk::core::Application::get();
    ui = app ? app->userInterface() : nullptr;
  }

  void TearDown() override {
    ui = nullptr;
    app = nullptr;
    UpdateClientStop();
    if (HasFailure())
      std::cerr << "test folder kept: " << m_folder << "\n";
    else
      std::filesystem::remove_all(m_folder);
  }

  const std::string& folder() const { return m_folder; }

  // The messages of the log events, in order.
  static std::vector<hostsim::TranscriptEvent> Events(const std::string& type) {
    std::vector<hostsim::TranscriptEvent> events;
    for (const auto& event : hostsim::Transcript())
      if (event.type == type)
        events.push_back(event);
    return events;
  }

private:
  std::string m_folder;
};

} // namespace updatetest
