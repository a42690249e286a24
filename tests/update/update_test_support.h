// The fixture of the update client's tests: a fresh folder per test and the process-wide state (CA
// file, libcurl, host handles) every test starts from.
#pragma once

#include "host_support.h"
#include "loopback_https.h"
#include "temp_folder.h"
#include "test_files.h"
#include "update/update_client.h"
#include "update/update_tasks.h"

#include <hostsim/control.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace updatetest {

// Gives each test a fresh folder (kept and printed when the test failed), trusts the test CA,
// initialises libcurl, and gives the add-in a fresh host.
class UpdateTest : public ::testing::Test {
protected:
  void SetUp() override {
    ::setenv("HOSTSIM_CA_FILE", loopback::TestCaFile().c_str(), 1);
    ASSERT_TRUE(UpdateClientStart());
    hostsim::ResetHost();
    orvandel::app = adsk::core::Application::get();
    orvandel::ui = orvandel::app ? orvandel::app->userInterface() : nullptr;
  }

  void TearDown() override {
    StopUpdateTasks();
    orvandel::ui = nullptr;
    orvandel::app = nullptr;
    UpdateClientStop();
  }

  const std::string& folder() const { return m_folder.path(); }

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

private:
  TempFolder m_folder{"update-test-"};
};

} // namespace updatetest
