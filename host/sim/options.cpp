#include "options.h"

#include "layout.h"

#include <cstdlib>

namespace hostsim {

bool ParseOptions(int argc, char** argv, Options* options, std::string* error) {
  bool positionalOnly = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (positionalOnly || arg.empty() || arg[0] != '-') {
      options->addinFolders.push_back(arg);
      continue;
    }
    // --option=value: the value starts after the first "=".
    bool hasInlineValue = false;
    std::string inlineValue;
    const size_t equals = arg.find('=');
    if (arg.compare(0, 2, "--") == 0 && equals != std::string::npos) {
      hasInlineValue = true;
      inlineValue = arg.substr(equals + 1);
      arg.erase(equals);
    }
    bool valueTaken = false;
    auto value = [&](std::string* target) {
      valueTaken = true;
      if (hasInlineValue) {
        *target = inlineValue;
        return true;
      }
      if (i + 1 >= argc) {
        *error = "option " + arg + " needs a value";
        return false;
      }
      *target = argv[++i];
      return true;
    };
    std::string text;
    if (arg == "--") {
      positionalOnly = true;
    } else if (arg == "--help" || arg == "-h") {
      options->help = true;
    } else if (arg == "--version") {
      options->version = true;
    } else if (arg == "--timings") {
      options->timings = true;
    } else if (arg == "--verbose" || arg == "-v") {
      options->verbose = true;
    } else if (arg == "--root") {
      if (!value(&options->root))
        return false;
    } else if (arg == "--keep") {
      options->keep = true;
    } else if (arg == "--build") {
      if (!value(&options->build))
        return false;
      if (options->build.empty() || options->build.find('/') != std::string::npos || options->build == "." ||
          options->build == "..") {
        *error = "--build wants a folder name, not \"" + options->build + "\"";
        return false;
      }
    } else if (arg == "--offline") {
      options->offline = true;
    } else if (arg == "--language") {
      if (!value(&text))
        return false;
      char* end = nullptr;
      const long number = std::strtol(text.c_str(), &end, 10);
      if (text.empty() || *end != '\0' || number < 0 || number > 14) {
        *error = "--language wants a number from 0 to 14 (2 is Czech, 3 English), not \"" + text + "\"";
        return false;
      }
      options->language = static_cast<int>(number);
    } else if (arg == "--server") {
      if (!value(&options->server))
        return false;
    } else if (arg == "--cafile") {
      if (!value(&options->cafile))
        return false;
    } else if (arg == "--script") {
      if (!value(&options->script))
        return false;
    } else if (arg == "--jsonl") {
      options->jsonl = true;
    } else if (arg == "--host-process") {
      options->hostProcess = true;
    } else if (arg == "--control") {
      if (!value(&options->control))
        return false;
    } else if (arg == "--start") {
      if (!value(&text))
        return false;
      options->start = static_cast<size_t>(std::strtoull(text.c_str(), nullptr, 10));
    } else if (arg == "--reload") {
      if (!value(&text))
        return false;
      options->reload.push_back(text);
    } else {
      *error = "unknown option " + arg + " (see hostsim --help)";
      return false;
    }
    if (hasInlineValue && !valueTaken) {
      *error = "option " + arg + " takes no value";
      return false;
    }
  }
  return true;
}

std::string VersionText() {
  return std::string("hostsim ") + HOSTSIM_VERSION;
}

std::string OptionsHelp() {
  return std::string(
             R"(Usage: hostsim [--root DIR] [--keep] [--build NAME] [--offline] [--language N] [--server URL]
               [--cafile FILE] [--script FILE] [--jsonl] [--timings] [--verbose] [ADDIN_FOLDER...]
       hostsim --help | --version

A simulated host: loads the given add-ins from a simulated Mac file tree, plays the host's events
and prints everything a user would see, one line per event.

  --root DIR      the simulated Mac's "/": created when missing, reused when present (files in it
                  are kept, so a test can prepare it). Default: a fresh temporary folder, removed at
                  exit. HOME is DIR/Users/user, the Mac's /Library is DIR/Library; the host runs from
                  HOME/Library/Application Support/Autodesk/webdeploy/production/NAME/Autodesk
                  Fusion.app/Contents/MacOS and keeps its files in .../production/Autodesk Fusion.app
  --keep          keep the temporary root at exit (its path is printed on stderr)
  --build NAME    the host build folder NAME under production/ (default )") +
         kDefaultBuild + R"()
  --offline       the host starts offline; the default play reports offline instead of online
  --language N    the host's language preference at start (2 Czech, 3 English; default: what an
                  earlier run on the same root left, else English)
  --server URL    origin of the update server the add-ins talk to (HOSTSIM_SERVER_BASE_URL)
  --cafile FILE   CA bundle that verifies that server (HOSTSIM_CA_FILE)
  --script FILE   play the commands of FILE instead of the default play
  --jsonl         print one JSON object per line instead of readable lines. Every line is valid
                  JSON and valid UTF-8: a byte that is not part of well-formed UTF-8 (for example
                  in a program's output) is written as \u00XX, XX its value (so 0xFF becomes
                  \u00ff); text that is valid UTF-8 is never written that way, so in a line
                  \u0080 to \u00ff always stand for such bytes
  --timings       after every call into an add-in (run, stop, each handler, each delivered custom
                  event) a "handler" event: the add-in, what was called and the milliseconds the
                  host's main thread spent in it; at the end one "longest_call" line
  --verbose, -v   readable lines for the host's plumbing too: each custom event the host delivers
                  (custom_event, whose order against the add-ins' threads varies from run to
                  run); --jsonl always has them
  --help          print this help
  --version       print hostsim's version
  ADDIN_FOLDER    a built add-in folder (NAME/NAME.so, resources/, ...); copied into the user's
                  add-in tree HOME/Library/Application Support/Autodesk/Autodesk Fusion 360/API/AddIns/NAME
                  unless it is already there (newer files replace older ones, others stay)

Without --script, hostsim plays one default start: load every add-in, report online, unload every
add-in.

Environment of the add-ins and of `run` programs: HOME, HOSTSIM_MAC_ROOT (the root), HOSTSIM_OPENER
(the simulated browser: each call becomes an "open" event whose argv holds the arguments the
opener received, without its own name), HOSTSIM_SERVER_BASE_URL and HOSTSIM_CA_FILE (from --server
and --cafile).

Options that take a value accept it as the next argument or after "=": --root=DIR.

Events (the "event" key of --jsonl): addin, log, messagebox, definition_added, definition_removed,
control_added, control_promoted, control_removed, palette_added, palette_visible, palette_docking,
palette_removed, preference, online_status, click, html, open, program, state, restart,
custom_event, progress_shown, progress, progress_hidden, handler, longest_call, error.
A progress dialog prints at most one progress line per tenth of its range or per second.

Exit status: 0 the script ran to its end; 1 bad command line or simulated Mac; 2 bad script line;
3 an add-in library that will not load; 4 an add-in crashed or the host process ended unexpectedly;
5 a waitfor timed out.
)";
}

} // namespace hostsim
