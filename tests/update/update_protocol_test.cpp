#include "update/update_protocol.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(NthOccurrence, CountsFromTheSecondCharacter) {
  struct Case {
    const char* text;
    int n;
    std::int32_t position;
  };
  const Case cases[] = {
      {"Zandrelmac|17|2.5|x", 0, 0},
      {"Zandrelmac|17|2.5|x", 1, 10},
      {"Zandrelmac|17|2.5|x", 3, 17},
      {"Zandrelmac|17|2.5|x", 4, -1},
      {"|17|2.5|x", 1, 3}, // the '|' at index 0 never counts
      {"", 1, -1},
      {"||", 1, 1},
      {"||", 2, -1},
  };
  for (const Case& expected : cases) {
    SCOPED_TRACE(std::string(expected.text) + " n=" + std::to_string(expected.n));
    EXPECT_EQ(NthOccurrence(expected.text, "|", expected.n), expected.position);
  }
}

TEST(EncodeQueryValue, EncodesOnlyWhatAUrlCannotCarry) {
  EXPECT_EQ(EncodeQueryValue("2.5"), "2.5");
  EXPECT_EQ(EncodeQueryValue("17"), "17");
  EXPECT_EQ(EncodeQueryValue("1.0-beta_2~x"), "1.0-beta_2~x");
  EXPECT_EQ(EncodeQueryValue("1.0\r"), "1.0%0D");
  EXPECT_EQ(EncodeQueryValue(" 2.5 "), "%202.5%20");
  EXPECT_EQ(EncodeQueryValue("a&b=c#d+e%f"), "a%26b%3Dc%23d%2Be%25f");
  EXPECT_EQ(EncodeQueryValue("č"), "%C4%8D");
}

TEST(PackageAddress, CutsAfterTheMarkerAndAfterTheExtension) {
  struct Case {
    const char* answer;
    const char* address;
  };
  const Case cases[] = {
      {"URL=https://h/p/Orvandel-2.5.pkg", "https://h/p/Orvandel-2.5.pkg"},
      {"Location: URL=https://h/a.pkg?x=1\n", "https://h/a.pkg"},
      {"URL=h/a.pkg.pkg URL=https://other/b.pkg", "h/a.pkg"},
      {"https://h/a.pkg?x=1\n", "https://h/a.pkg?x=1\n"}, // no marker: used whole, no cut
      {"URL=https://h/a.zip\n", "https://h/a.zip\n"},
      {"URL=", ""},
  };
  for (const Case& expected : cases) {
    SCOPED_TRACE(expected.answer);
    EXPECT_EQ(PackageAddress(expected.answer), expected.address);
  }
}

TEST(IsOfferedVersion, NumbersSeparatedBySingleDotsOfBoundedLength) {
  for (const std::string& version : std::vector<std::string>{"2.5", "10", "1.0.12", std::string(32, '7')})
    EXPECT_TRUE(IsOfferedVersion(version)) << version;
  for (const std::string& version :
       std::vector<std::string>{"", ".5", "2.", "2..5", "2.5 ", "2,5", "v2.5", "2.5\n", "Zandrelmac|17",
                                "２.５", std::string(33, '7')})
    EXPECT_FALSE(IsOfferedVersion(version)) << version;
}

TEST(IsUsablePackageAddress, AnHttpsAddressMustNameAServer) {
  for (const char* address :
       {"https://h/a.pkg", "HTTPS://h/a.pkg", "h.example/a.pkg", "https://[::1]:8443/a.pkg",
        "https://127.0.0.1/a.pkg", "file:///tmp/a.pkg", "ftp://h/a.pkg"})
    EXPECT_TRUE(IsUsablePackageAddress(address)) << address;
  for (const char* address :
       {"", "/download/a.pkg", "./a.pkg", "../a.pkg", "//h/a.pkg", "https:///a.pkg", "https://",
        "https:// h/a.pkg", "https://h/a b.pkg", "https://h/a.pkg\n", "?x.pkg", "https://-h/a.pkg"})
    EXPECT_FALSE(IsUsablePackageAddress(address)) << address;
}

TEST(EscapeForLog, ControlCharactersCannotStartALine) {
  EXPECT_EQ(EscapeForLog("https://h/a.pkg"), "https://h/a.pkg");
  EXPECT_EQ(EscapeForLog("a\nQUORLEX: forged\r"), "a\\nQUORLEX: forged\\r");
  EXPECT_EQ(EscapeForLog(std::string("\0\t\x1b\x7f", 4)), "\\x00\\x09\\x1b\\x7f");
  EXPECT_EQ(EscapeForLog("č \\n"), "č \\n"); // UTF-8 and a literal backslash stay
  // A quote is cut before a character, never inside one.
  EXPECT_EQ(ShortenedForLog("abc", 3), "abc");
  EXPECT_EQ(ShortenedForLog("abčd", 3), "ab...");
  EXPECT_EQ(ShortenedForLog("abčd", 4), "abč...");
}

TEST(IsFlatPackageStart, OnlyTheXarMagic) {
  EXPECT_TRUE(IsFlatPackageStart("xar!"));
  EXPECT_TRUE(IsFlatPackageStart(std::string("xar!\0\x1c", 6)));
  EXPECT_FALSE(IsFlatPackageStart("xar"));
  EXPECT_FALSE(IsFlatPackageStart("<html>"));
  EXPECT_FALSE(IsFlatPackageStart(""));
}

} // namespace
