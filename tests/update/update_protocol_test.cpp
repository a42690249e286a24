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
      {"https://h/a.pkg?x=1", "https://h/a.pkg?x=1"}, // no marker: used whole, no cut
      // One line end at the answer's end is no part of it; a second one is.
      {"https://h/a.pkg\n", "https://h/a.pkg"},
      {"https://h/a.pkg\r\n", "https://h/a.pkg"},
      {"https://h/a.pkg\n\n", "https://h/a.pkg\n"},
      {"https://h/a.pkg\r", "https://h/a.pkg\r"},
      {"URL=https://h/a.zip\n", "https://h/a.zip"},
      {"URL=", ""},
  };
  for (const Case& expected : cases) {
    SCOPED_TRACE(expected.answer);
    EXPECT_EQ(PackageAddress(expected.answer), expected.address);
  }
}

TEST(SplitVersionAnswer, OneLineEndAtTheEndIsNoPartOfTheAnswer) {
  struct Case {
    const char* answer;
    bool offersNewer;
    const char* version;
  };
  const Case cases[] = {
      {"Zandrelmac|17|2.5\n", true, "2.5"},
      {"Zandrelmac|17|2.5\r\n", true, "2.5"},
      {"Zandrelmac|17|2.5\n\n", true, "2.5\n"}, // the second one stays, and is no version
      {"Zandrelmac|17|2.5\r", true, "2.5\r"},
      {"Zandrelmac|17|2.5|x\n", true, "2.5"},
      // The no-newer answer with either line end, or none, keeps its text.
      {"Zandrelmac\n", false, "Zandrelmac\n"},
      {"Zandrelmac\r\n", false, "Zandrelmac\r\n"},
      {"Zandrelmac", false, "Zandrelmac"},
      {"Zandrelmac\n\n", true, "Zandrelmac\n"},
  };
  for (const Case& expected : cases) {
    SCOPED_TRACE(expected.answer);
    const VersionAnswer split = SplitVersionAnswer(expected.answer);
    EXPECT_EQ(split.offersNewer, expected.offersNewer);
    EXPECT_EQ(split.version, expected.version);
  }
}

TEST(CompareVersions, NumberByNumberAsDigitStrings) {
  struct Case {
    std::string left;
    std::string right;
    int order;
  };
  const Case cases[] = {
      {"2.5", "2.0.13", 1},
      {"1.10", "1.9", 1},
      {"0.9", "1.0", -1},
      {"1.0", "1.0", 0},
      {"02.5", "2.5", 0},
      {"2.5", "2.5.0", 0},
      {"2.5.0.1", "2.5", 1},
      {"0.0", "0", 0},
      // Past any integer type: compared as digit strings.
      {"1" + std::string(40, '0'), std::string(40, '9'), 1},
      {"3." + std::string(30, '9'), "3." + std::string(29, '9') + "8", 1},
  };
  for (const Case& expected : cases) {
    SCOPED_TRACE(expected.left + " vs " + expected.right);
    const auto sign = [](int value) { return (value > 0) - (value < 0); };
    EXPECT_EQ(sign(CompareVersions(expected.left, expected.right)), expected.order);
    EXPECT_EQ(sign(CompareVersions(expected.right, expected.left)), -expected.order);
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
        "https://127.0.0.1/a.pkg", "h.example:8443/a.pkg", "file:///tmp/a.pkg", "ftp://h/a.pkg"})
    EXPECT_TRUE(IsUsablePackageAddress(address)) << address;
  for (const char* address :
       {"", "/download/a.pkg", "./a.pkg", "../a.pkg", "//h/a.pkg", "https:///a.pkg", "https://",
        "https:// h/a.pkg", "https://h/a b.pkg", "https://h/a.pkg\n", "?x.pkg", "https://-h/a.pkg",
        // No server: a scheme without "//", or user information in front of the server.
        "mailto:a@b.c", "mailto:x@127.0.0.1:8443/a.pkg",
        "data:application/octet-stream;base64,eGFyIQ==", "javascript:alert(1)//a.pkg", "https:h/a.pkg",
        "h:/a.pkg", "https://user@h/a.pkg", "user@h/a.pkg", "1a+://h/a.pkg"})
    EXPECT_FALSE(IsUsablePackageAddress(address)) << address;
}

TEST(EscapeForLog, NothingCanEndALineOrTurnIt) {
  struct Case {
    const char* name;
    std::string text;
    std::string escaped;
  };
  const Case cases[] = {
      {"plain", "https://h/a.pkg", "https://h/a.pkg"},
      {"line ends", "a\nQUORLEX: forged\r", "a\\nQUORLEX: forged\\r"},
      {"other controls", std::string("\0\t\x1b\x7f", 4), "\\x00\\x09\\x1b\\x7f"},
      {"UTF-8 and a backslash stay", "č ž € 😀 \\n", "č ž € 😀 \\n"},
      {"C1 controls", "a\u0085b\u0080\u009f", "a\\u0085b\\u0080\\u009f"},
      {"line and paragraph separators", "a\u2028b\u2029", "a\\u2028b\\u2029"},
      {"direction marks and controls", "\u200e\u200f\u202a\u202e\u2066\u2069\u061c",
       "\\u200e\\u200f\\u202a\\u202e\\u2066\\u2069\\u061c"},
      {"neighbours of the escaped ranges stay", "\u00a0\u2027\u202f\u2065\u206a",
       "\u00a0\u2027\u202f\u2065\u206a"},
      {"invalid UTF-8", "a\xff\xc3(\xe2\x80", "a\\xff\\xc3(\\xe2\\x80"},
      {"overlong and surrogate forms", "\xc0\x8a\xed\xa0\x80", "\\xc0\\x8a\\xed\\xa0\\x80"},
  };
  for (const Case& expected : cases) {
    SCOPED_TRACE(expected.name);
    EXPECT_EQ(EscapeForLog(expected.text), expected.escaped);
  }
}

TEST(QuoteForLog, LongPiecesAreCutBeforeACharacterAndSayTheirLength) {
  EXPECT_EQ(QuoteForLog(std::string(200, 'a')), std::string(200, 'a'));
  EXPECT_EQ(QuoteForLog(std::string(300000, 'a')), std::string(200, 'a') + "… (300000 bytes)");
  // "č" takes two bytes: the one that would cross the bound is left out whole.
  EXPECT_EQ(QuoteForLog(std::string(199, 'a') + "čx"), std::string(199, 'a') + "… (202 bytes)");
  // Escapes are counted by the bytes they stand for.
  EXPECT_EQ(QuoteForLog(std::string(201, '\n')), [] {
    std::string escaped;
    for (int i = 0; i < 200; ++i)
      escaped += "\\n";
    return escaped + "… (201 bytes)";
  }());
}

TEST(IsFlatPackageStart, OnlyTheXarMagic) {
  EXPECT_TRUE(IsFlatPackageStart("xar!"));
  EXPECT_TRUE(IsFlatPackageStart(std::string("xar!\0\x1c", 6)));
  EXPECT_FALSE(IsFlatPackageStart("xar"));
  EXPECT_FALSE(IsFlatPackageStart("<html>"));
  EXPECT_FALSE(IsFlatPackageStart(""));
}

} // namespace
