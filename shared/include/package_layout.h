// Where the localization data package's files go in the host: each folder of the package (below
// product::kPackageRoot), the folder of the host bundle the installer copies it into and how, and what
// the uninstaller looks for there when no install record says what was placed. The installer and the
// uninstaller both read this table, so that a folder added to the package is installed and found again.
#pragma once

namespace packagelayout {

// The host's folder of builds below a home folder; the current bundle is kCurrentBundle in it.
constexpr const char* kProductionInHome = "/Library/Application Support/Autodesk/webdeploy/production";
constexpr const char* kCurrentBundle = "Autodesk Fusion.app";

// Folders of the current bundle, relative to it.
constexpr const char* kCamTranslations = "Contents/Libraries/Applications/CAM360/Data/Translations";
constexpr const char* kCamHelp = "Contents/Libraries/Applications/CAM360/NeuCAM/UI/NeuCAMUI/Resources/Help";

// The CAM translation the installer copies last: its presence tells later starts that the Czech files
// are in place.
constexpr const char* kMarkerName = "czech_cz.xml";

// The Czech help pages the installer makes from the host's own in kCamHelp: the page kEnglishHelpPage
// copied to kCzechHelpPage, the tree kEnglishHelpTree and the entries of kHelpImages into kCzechHelpTree.
constexpr const char* kEnglishHelpPage = "en-html.html";
constexpr const char* kCzechHelpPage = "cz-html.html";
constexpr const char* kEnglishHelpTree = "en-html";
constexpr const char* kHelpImages = "images";
constexpr const char* kCzechHelpTree = "cz-html";

// One folder of the data package. Its whole tree is copied over the target folder (existing files
// replaced, the target's other entries left), except markerLast, which is copied on its own once every
// other copy of the run is made.
struct PackageFolder {
  const char* source;     // below the package root
  const char* target;     // below the bundle
  bool targetIsOurs;      // the installer creates the target folder itself; the host's otherwise
  const char* markerLast; // a file of source copied last; null for none
  const char* knownTree;  // below the bundle: the package's own tree, when the source is gone; or null
  const char* knownEntry; // below the bundle: the package's own file, when the source is gone; or null
};

// Which of kPackageFolders, in the order the installer copies them.
enum PackageFolderIndex { kBaseFolder, kQmFolder, kCamFolder, kHelpFolder, kPackageFolderCount };

constexpr PackageFolder kPackageFolders[kPackageFolderCount] = {
    {"vornidfu", "Contents/Libraries/Neutron/StringTable", false, nullptr,
     "Contents/Libraries/Neutron/StringTable/cs-CZ", nullptr},
    {"VornidQM", "Contents/Resources/AIRMAX/cs-CZ", true, nullptr, "Contents/Resources/AIRMAX/cs-CZ",
     nullptr},
    {"vornidca", kCamTranslations, false, kMarkerName, nullptr,
     "Contents/Libraries/Applications/CAM360/Data/Translations/czech_cz.xml"},
    {"vornidhe", kCamHelp, false, nullptr, nullptr, nullptr},
};

} // namespace packagelayout
