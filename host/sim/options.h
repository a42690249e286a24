// Command line of hostsim.
#pragma once

#include <string>
#include <vector>

namespace hostsim {

struct Options {
  std::string root;
  bool keep = false;
  std::string build;
  bool offline = false;
  int language = -1; // -1: the stored preference, else English
  std::string server;
  std::string cafile;
  std::string script;
  bool jsonl = false;
  bool timings = false;
  bool verbose = false;                  // readable lines for the host's plumbing too (custom events)
  std::vector<std::string> addinFolders; // as given; in the host process: add-in names
  bool help = false;
  bool version = false;

  // Between hostsim and the host process it starts; not for users.
  bool hostProcess = false;
  std::string control; // folder of the files both sides share
  size_t start = 0;    // index of the first script command to run
  std::vector<std::string> reload;
};

// Options that take a value accept it as the next argument or after "=" (--root=DIR). False with a
// reason for an unknown option, a missing value or a value given to an option that takes none.
bool ParseOptions(int argc, char** argv, Options* options, std::string* error);

std::string OptionsHelp();
// "hostsim VERSION", the package version it was built with.
std::string VersionText();

} // namespace hostsim
