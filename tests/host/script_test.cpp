// Word splitting and checking of hostsim script lines.
#include "script.h"

#include <gtest/gtest.h>

namespace {

using Words = std::vector<std::string>;

TEST(ScriptWords, SplitLikeAPosixShell) {
  struct Case {
    const char* line;
    Words words;
  };
  const Case cases[] = {
      {"load Orvandel", {"load", "Orvandel"}},
      {"  click\tidCzButton  ", {"click", "idCzButton"}},
      {"fail addButtonDefinition 'boom boom'", {"fail", "addButtonDefinition", "boom boom"}},
      {R"(html pal "a \"quoted\" \\ $x" act)", {"html", "pal", R"(a "quoted" \ $x)", "act"}},
      {R"(html pal 'single \keeps "all"')", {"html", "pal", R"(single \keeps "all")"}},
      {R"(run a\ b c\'d)", {"run", "a b", "c'd"}},
      {"run x'y'\"z\"", {"run", "xyz"}},
      {"run '' \"\"", {"run", "", ""}},
      {"# only a comment", {}},
      {"online # the host goes online", {"online"}},
      {"run a#b", {"run", "a#b"}},
      {"run ~/bin/tool ~user '~/quoted' x~/y", {"run", "/home/u/bin/tool", "~user", "~/quoted", "x~/y"}},
      {"", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    Words words;
    std::string error;
    ASSERT_TRUE(hostsim::SplitWords(c.line, "/home/u", &words, &error)) << error;
    EXPECT_EQ(words, c.words);
  }
  for (const char* bad : {"run 'open", "run \"open", "run trailing\\"}) {
    SCOPED_TRACE(bad);
    Words words;
    std::string error;
    EXPECT_FALSE(hostsim::SplitWords(bad, "/home/u", &words, &error));
    EXPECT_FALSE(error.empty());
  }
}

TEST(ScriptWords, CommandsAreCheckedBeforeAnythingRuns) {
  const Words good[] = {{"load", "A"},
                        {"answer", "yes", "no", "ok", "cancel"},
                        {"html", "p", "d"},
                        {"html", "p", "d", "a"},
                        {"fail", "get", "x"},
                        {"remove", "panel", "P"},
                        {"language", "14"},
                        {"restart"},
                        {"run", "/bin/true"},
                        {"state"},
                        {"wait", "0.5"},
                        {"wait", "0"},
                        {"waitfor", "progress done"},
                        {"waitfor", "x", "2.5"},
                        {"cancel"}};
  for (const Words& words : good) {
    SCOPED_TRACE(words[0]);
    std::string error;
    EXPECT_TRUE(hostsim::ValidateCommand(words, &error)) << error;
  }
  const Words bad[] = {{"clik", "x"},
                       {"load"},
                       {"load", "a", "b"},
                       {"answer", "maybe"},
                       {"remove", "menu", "x"},
                       {"language", "15"},
                       {"language", "2x"},
                       {"fail", "get"},
                       {"online", "now"},
                       {"run"},
                       {"wait"},
                       {"wait", "-1"},
                       {"wait", "1s"},
                       {"wait", "nan"},
                       {"wait", "inf"},
                       {"wait", "100000"},
                       {"waitfor", ""},
                       {"waitfor", "x", "soon"},
                       {"waitfor", "x", "1", "2"},
                       {"cancel", "now"}};
  for (const Words& words : bad) {
    SCOPED_TRACE(words[0] + " " + (words.size() > 1 ? words.back() : ""));
    std::string error;
    EXPECT_FALSE(hostsim::ValidateCommand(words, &error));
    EXPECT_FALSE(error.empty());
  }

  std::vector<hostsim::ScriptCommand> commands;
  std::string error;
  EXPECT_FALSE(hostsim::ParseScript("load A\n\n# c\nclik x\nonline\n", "/h", &commands, &error));
  EXPECT_EQ(error.rfind("4: ", 0), 0u) << error;
  ASSERT_TRUE(hostsim::ParseScript("load A\n\n# c\nonline\n", "/h", &commands, &error));
  ASSERT_EQ(commands.size(), 2u);
  EXPECT_EQ(commands[1].line, 4);
}

} // namespace
