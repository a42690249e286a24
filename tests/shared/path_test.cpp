#include "path.h"

#include <gtest/gtest.h>

TEST(DirectoryOf, EverythingBeforeTheLastSeparator) {
  const struct {
    const char* path;
    const char* folder;
  } cases[] = {
      {"/a/b/prog", "/a/b"}, {"/prog", ""},   {"/a/b\\c", "/a/b"}, // a backslash counts as a separator too
      {"/a\\b/c", "/a\\b"},  {"prog", ""},    {"", ""},
      {"/a/b/", "/a/b"},     {"./prog", "."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(DirectoryOf(c.path), c.folder);
  }
}

// FolderOf and NameOf split where the system does: FolderOf(path) + "/" + NameOf(path) names the same
// entry, a backslash included in a name.
TEST(PathText, SplitAsTheSystemReadsAPath) {
  const struct {
    const char* path;
    const char* folder;
    const char* name;
    const char* parent; // SplitLastName
    const char* last;
  } cases[] = {
      {"/a/b/file", "/a/b", "file", "/a/b", "file"},
      {"/file", "/", "file", "", "file"},
      {"file", ".", "file", "", "file"},
      {"a/b/c/", "a/b/c", "", "a/b", "c"},
      {"a/b//", "a/b/", "", "a", "b"},
      {"/a/we\\ird/file", "/a/we\\ird", "file", "/a/we\\ird", "file"},
      {"/a/b\\c", "/a", "b\\c", "/a", "b\\c"},
      {"", ".", "", "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(FolderOf(c.path), c.folder);
    EXPECT_EQ(NameOf(c.path), c.name);
    const PathSplit split = SplitLastName(c.path);
    EXPECT_EQ(split.parent, c.parent);
    EXPECT_EQ(split.name, c.last);
  }
}

TEST(PathText, JoinPutsOneSeparatorBetween) {
  const struct {
    const char* folder;
    const char* name;
    const char* joined;
  } cases[] = {
      {"/a/b", "c", "/a/b/c"}, {"/a/b/", "c", "/a/b/c"}, {"/a/b//", "c/d", "/a/b/c/d"},
      {"/", "c", "/c"},        {"//", "c", "/c"},        {"", "c", "c"},
      {"a", "", "a/"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.folder) + " + " + c.name);
    EXPECT_EQ(JoinPath(c.folder, c.name), c.joined);
  }
  EXPECT_EQ(WithoutTrailingSlashes("/a/b//"), "/a/b");
  EXPECT_EQ(WithoutTrailingSlashes("///"), "/");
}
