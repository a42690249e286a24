// The Czech files that earlier package versions put into the older bundle of each host build. Both the
// installer's cleanup and the uninstaller remove them, appended to a build folder's full path.
#pragma once

#include <cstddef>

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

} // namespace legacy
