#include "json_reader.h"

#include <gtest/gtest.h>

#include <string>

using hostsim::JsonValue;
using hostsim::ParseJson;

TEST(JsonReader, ReadsEveryKindOfValue) {
  JsonValue value;
  std::string problem;
  ASSERT_TRUE(
      ParseJson(" {\"a\": [1, -0.5e+3, true, false, null], \"b\": {\"\": \"\\u010c\\ud83d\\ude00\\n\"},"
                "\"c\": \"Průvodce\"}\r\n",
                &value, &problem))
      << problem;
  ASSERT_EQ(value.kind, JsonValue::Kind::Object);
  ASSERT_EQ(value.members.size(), 3u);
  const JsonValue* a = value.member("a");
  ASSERT_NE(a, nullptr);
  ASSERT_EQ(a->items.size(), 5u);
  EXPECT_EQ(a->items[1].kind, JsonValue::Kind::Number);
  EXPECT_EQ(a->items[1].text, "-0.5e+3");
  EXPECT_TRUE(a->items[2].boolean);
  EXPECT_EQ(a->items[3].kind, JsonValue::Kind::Boolean);
  EXPECT_FALSE(a->items[3].boolean);
  EXPECT_EQ(a->items[4].kind, JsonValue::Kind::Null);
  // \u010c is Č; the surrogate pair is U+1F600, four bytes in UTF-8.
  EXPECT_EQ(value.member("b")->member("")->text, "\xC4\x8C\xF0\x9F\x98\x80\n");
  EXPECT_EQ(value.member("c")->text, "Průvodce");
  EXPECT_EQ(value.member("d"), nullptr);
}

TEST(JsonReader, RefusesWhatIsNotStrictJson) {
  const struct {
    std::string text;
    std::string problem;
  } cases[] = {
      {"", "line 1, column 1: unexpected end of text"},
      {"{\"a\": 1,}", "expected a member name"},
      {"[1, 2,]", "expected a value"},
      {"{\"a\": 1} x", "text after the value"},
      {"{\"a\": 1}{}", "text after the value"},
      {"{'a': 1}", "expected a member name"},
      {"{\"a\": 1, \"a\": 2}", "member \"a\" given twice"},
      {"{\"a\" 1}", "expected ':'"},
      {"[01]", "leading zero"},
      {"[1.]", "expected a digit"},
      {"[-]", "expected a digit"},
      {"[1e]", "expected a digit"},
      {"[tru]", "expected true"},
      {"[True]", "expected a value"},
      {"// note\n{}", "expected a value"},
      {"\xEF\xBB\xBF{}", "line 1, column 1: expected a value"}, // a byte-order mark
      {"[\"a\tb\"]", "control character"},
      {"[\"\\x\"]", "unknown escape"},
      {"[\"\\u12\"]", "four hexadecimal digits"},
      {"[\"\\ud83d\"]", "unpaired surrogate"},
      {"[\"\\ude00\"]", "unpaired surrogate"},
      {"[\"\\ud83d\\u0041\"]", "unpaired surrogate"},
      {"[\"\xC3\"]", "invalid UTF-8"},
      {"[\"\xC0\xAF\"]", "invalid UTF-8"},         // overlong '/'
      {"[\"\xED\xA0\x80\"]", "invalid UTF-8"},     // an encoded surrogate
      {"[\"\xF4\x90\x80\x80\"]", "invalid UTF-8"}, // above U+10FFFF
      {"[\"abc", "without its closing quote"},
      {"{\n  \"a\": 1\n  \"b\": 2\n}", "line 3, column 3: expected ',' or '}'"},
      {std::string(65, '[') + std::string(65, ']'), "nested deeper than 64"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    JsonValue value;
    std::string problem;
    EXPECT_FALSE(ParseJson(c.text, &value, &problem));
    EXPECT_NE(problem.find(c.problem), std::string::npos) << problem;
  }
  // The deepest nesting allowed.
  JsonValue value;
  std::string problem;
  EXPECT_TRUE(ParseJson(std::string(64, '[') + std::string(64, ']'), &value, &problem)) << problem;
}
