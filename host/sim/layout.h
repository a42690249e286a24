// The simulated Mac under hostsim's --root: the user's home, the host's deployment and add-in tree.
#pragma once

#include <string>

namespace hostsim {

struct MacLayout {
  std::string root;       // the Mac's "/"
  std::string home;       // root + /Users/user
  std::string production; // the host's deployment folder, one sub-folder per build
  std::string macosDir;   // production/BUILD/Autodesk Fusion.app/Contents/MacOS
  std::string hostExe;    // the host executable in macosDir (a copy of hostsim)
  std::string hostBundle; // production/Autodesk Fusion.app, where the host's files live
  std::string addinsRoot; // the user's add-in tree
  std::string opener;     // root + /usr/bin/open: the simulated browser opener
  std::string preferences;
};

// The build folder used when --build is not given.
constexpr const char* kDefaultBuild = "6a0c9d2f3e8b4a71b5d4c3e2f1a09876";

MacLayout LayoutFor(const std::string& root, const std::string& build);

// Creates what is missing of the layout (files already there are kept, so a test can prepare the root),
// puts a fresh copy of selfExe in place as the host executable and links the opener to it.
bool PrepareMac(const MacLayout& layout, const std::string& selfExe, std::string* error);

// Copies a built add-in folder into the add-in tree, unless it is the tree's own folder. Entries the
// tree already holds are replaced only by newer ones: files the add-in wrote in an earlier run, or a test
// prepared, survive, and a rebuilt library is taken. *name gets the add-in's name (the folder's name).
bool InstallAddin(const MacLayout& layout, const std::string& folder, std::string* name, std::string* error);

} // namespace hostsim
