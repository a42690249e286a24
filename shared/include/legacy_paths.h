// The Czech files that earlier package versions put into the older bundle of each host build. Both the
// installer's cleanup and the uninstaller remove them, appended to a build folder's full path.
#pragma once

#include "failure.h"
#include "tree_removal.h"

#include <string>
#include <vector>

namespace legacy {

// Removed only when present (a single entry).
constexpr const char* kSingleFiles[] = {
    "/Autodesk Fusion 360.app/Contents/Libraries/Applications/CAM360/Data/Translations/czech_cz.xml",
    "/Autodesk Fusion 360.app/Contents/Libraries/Applications/CAM360/NeuCAM/UI/NeuCAMUI"
    "/Resources/Help/cz-html.html",
};
// Removed as whole trees; an absent tree is no error.
constexpr const char* kTrees[] = {
    "/Autodesk Fusion 360.app/Contents/Libraries/Applications/CAM360/NeuCAM/UI/NeuCAMUI"
    "/Resources/Help/cz-html/",
    "/Autodesk Fusion 360.app/Contents/Libraries/Neutron/StringTable/cs-CZ/",
};

// One legacy path of one build folder that holds something.
struct Place {
  std::string
      relative; // below the production folder: the build's name, then the legacy path, no trailing '/'
  bool tree;    // removed as a whole tree; else as a single entry
  removal::EntryKind kind; // never kAbsent; kBehindLink when a folder on the way is a link
};

// Every place of the legacy paths that holds something, in each build folder of productionFolder. A
// build folder is an entry that is a real folder: a link, whatever it points to, and a plain file are
// passed over, and so is the build named currentBuild (compared as a whole name; empty passes none). A
// missing production folder holds no places. Nothing is followed on the way to a place.
bool FindPlaces(const std::string& productionFolder, const std::string& currentBuild,
                std::vector<Place>& places, Failure& failure);
// The same in the open production folder, whose path productionFolder names it in reports.
bool FindPlaces(int production, const std::string& productionFolder, const std::string& currentBuild,
                std::vector<Place>& places, Failure& failure);

// Removes a place FindPlaces found, by handle: a tree as a whole (a link at the place as the link), a
// single entry alone. A link swapped in on the way since stops it.
bool RemovePlace(const std::string& productionFolder, const Place& place, Failure& failure);

} // namespace legacy
