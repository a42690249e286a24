// The add-in manifest: the host lists and starts an add-in only when the folder holds one it accepts.
#pragma once

#include <string>

namespace hostsim {

// Checks FOLDER/NAME.manifest (NAME: the folder's own name) as the host does before it loads the
// add-in: a JSON object whose "type" is "addin", whose "supportedOS" names mac (alone or among others,
// separated by "|"), and which holds the host's other required fields with their JSON types. On
// refusal returns false with *problem naming the add-in, the file and what is wrong with it (the field).
bool CheckAddinManifest(const std::string& folder, std::string* problem);

} // namespace hostsim
