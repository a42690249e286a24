#include "guide_palette.h"

#include "recording_opener.h"
#include "temp_folder.h"

#include <gtest/gtest.h>

#include <filesystem>

using miravelo::AddressFromPageMessage;
using miravelo_test::RecordingOpener;

namespace {

TEST(PageMessage, OnlyQuotedWebAddressesAreOpened) {
  struct Case {
    const char* message;
    const char* address; // empty: nothing is opened
  };
  const Case cases[] = {
      {"\"https://learning.quorlex.cz/kurz?id=3&x=y\"", "https://learning.quorlex.cz/kurz?id=3&x=y"},
      {"\"http://example.com\"", "http://example.com"},
      {"\"HTTPS://Example.com/\"", "HTTPS://Example.com/"},
      {"\"https://example.com/č\"", "https://example.com/č"},
      // The first and the last character go whatever they are.
      {"'https://example.com/'", "https://example.com/"},
      {"https://example.com/", ""},
      {"\"\"", ""},
      {"\"", ""},
      {"", ""},
      {"\"https://\"", ""},
      {"\"file:///etc/passwd\"", ""},
      {"\"/Applications/Calculator.app\"", ""},
      {"\"mailto:info@quorlex.cz\"", ""},
      {"\"javascript:alert(1)\"", ""},
      {"\"-a Calculator\"", ""},
      {"\"https://example.com/a b\"", ""},
      {"\"https://example.com/\ttab\"", ""},
      {"\"https://example.com/\x7f\"", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    EXPECT_EQ(c.address, AddressFromPageMessage(c.message));
  }
}

TEST(PageMessage, ShellPayloadsRunNothingButTheOpenerWithTheExactAddress) {
  SKIP_WITHOUT_SIMULATED_OPENER();
  TempFolder folder{"miravelo-test-"};
  RecordingOpener opener(folder.path());
  const std::string pwned = folder.path() + "/pwned";
  struct Case {
    std::string message;
    std::string opened; // empty: the opener must not start
  };
  const std::vector<Case> cases = {
      {"\"https://x/$(touch " + pwned + ")\"", ""},
      {"\"https://x/$(touch${IFS}" + pwned + ")\"", "https://x/$(touch${IFS}" + pwned + ")"},
      {"\"https://x/`touch${IFS}" + pwned + "`\"", "https://x/`touch${IFS}" + pwned + "`"},
      {"\"`touch " + pwned + "`\"", ""},
      {"\"https://x/;touch${IFS}" + pwned + "\"", "https://x/;touch${IFS}" + pwned},
      {"\"https://x/&&touch${IFS}" + pwned + "\"", "https://x/&&touch${IFS}" + pwned},
      {"\"x && touch " + pwned + "\"", ""},
      {"\"https://x/\ntouch " + pwned + "\"", ""},
      {"\"https://x/'\"", "https://x/'"},
  };
  std::vector<std::vector<std::string>> expected;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    miravelo::OpenPageMessage(c.message);
    if (!c.opened.empty())
      expected.push_back({c.opened});
    EXPECT_EQ(expected, opener.Calls());
    EXPECT_FALSE(std::filesystem::exists(pwned));
  }
}

} // namespace
