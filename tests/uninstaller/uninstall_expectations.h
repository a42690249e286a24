// What the tests of the removal and of the built program both lay out and expect: the legacy paths of
// a host build, the host's own string table beside them, and the closing message.
#pragma once

#include "legacy_paths.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <string>

// Two lines of 29 asterisks around the Czech text, each piece as the user must see it.
inline const std::string kStars(29, '*');
inline const std::string kClosingMessage =
    "\n" + ("\n" + kStars + "\n") +
    "Soubory s lokalizaci a AddInu byly odstraneny.\nOkno Terminalu je mozne uzavrit" +
    ("\n" + kStars + "\n") + "\n";

inline const std::string kHostStringTable =
    "/Autodesk Fusion 360.app/Contents/Libraries/Neutron/StringTable/en-US/strings.txt";

// The language note, then the closing message as the very last output.
inline void ExpectNotesThenClosingMessage(const std::string& out) {
  ASSERT_GE(out.size(), kClosingMessage.size()) << out;
  EXPECT_EQ(out.substr(out.size() - kClosingMessage.size()), kClosingMessage) << out;
  EXPECT_NE(out.find("Preferences > General > Language"), std::string::npos) << out;
}

inline std::string LegacyFile(const std::string& build, int index) {
  return build + legacy::kSingleFiles[index];
}
inline std::string LegacyTree(const std::string& build, int index) {
  return build + legacy::kTrees[index];
}

inline void AddLegacyPaths(const std::string& build, bool singles, bool firstTree, bool secondTree) {
  if (singles) {
    WriteFile(LegacyFile(build, 0), "<xml/>");
    WriteFile(LegacyFile(build, 1), "<html/>");
  }
  if (firstTree)
    WriteFile(LegacyTree(build, 0) + "images/a.png", "png");
  if (secondTree)
    WriteFile(LegacyTree(build, 1) + "strings.txt", "cs");
}

inline bool HoldsAnyLegacyPath(const std::string& build) {
  return Exists(LegacyFile(build, 0)) || Exists(LegacyFile(build, 1)) || Exists(LegacyTree(build, 0)) ||
         Exists(LegacyTree(build, 1));
}
