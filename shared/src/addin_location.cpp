#include "utilities.h"

std::string AddinLocationFor(const std::string& path, const std::string& addinName) {
  const auto found = path.find("Autodesk");
  if (found == std::string::npos)
    return std::string();
  return path.substr(0, found) + "Autodesk/Autodesk Fusion 360/API/AddIns/" + addinName;
}
