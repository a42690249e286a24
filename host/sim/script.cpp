#include "script.h"

#include <cstdlib>
#include <sstream>

namespace hostsim {

bool SplitWords(const std::string& line, const std::string& home, std::vector<std::string>* words,
                std::string* error) {
  words->clear();
  std::string word;
  bool inWord = false;
  bool tildeHome = false; // the word began with an unquoted "~/"
  size_t i = 0;
  const size_t n = line.size();
  auto finish = [&]() {
    if (!inWord)
      return;
    if (tildeHome)
      word = home + word.substr(1);
    words->push_back(word);
    word.clear();
    inWord = false;
    tildeHome = false;
  };
  while (i < n) {
    const char c = line[i];
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      finish();
      ++i;
    } else if (c == '#' && !inWord) {
      break;
    } else if (c == '\'') {
      const size_t close = line.find('\'', i + 1);
      if (close == std::string::npos) {
        *error = "unterminated single quote";
        return false;
      }
      word += line.substr(i + 1, close - i - 1);
      inWord = true;
      i = close + 1;
    } else if (c == '"') {
      inWord = true;
      ++i;
      bool closed = false;
      while (i < n) {
        const char d = line[i];
        if (d == '"') {
          closed = true;
          ++i;
          break;
        }
        if (d == '\\' && i + 1 < n &&
            (line[i + 1] == '\\' || line[i + 1] == '"' || line[i + 1] == '$' || line[i + 1] == '`')) {
          word += line[i + 1];
          i += 2;
          continue;
        }
        word += d;
        ++i;
      }
      if (!closed) {
        *error = "unterminated double quote";
        return false;
      }
    } else if (c == '\\') {
      if (i + 1 >= n) {
        *error = "backslash at the end of the line";
        return false;
      }
      word += line[i + 1];
      inWord = true;
      i += 2;
    } else {
      if (!inWord && c == '~' && i + 1 < n && line[i + 1] == '/')
        tildeHome = true;
      word += c;
      inWord = true;
      ++i;
    }
  }
  finish();
  return true;
}

namespace {

struct Usage {
  const char* name;
  size_t minArgs;
  size_t maxArgs; // SIZE_MAX: any number
  const char* usage;
};

constexpr size_t kAny = static_cast<size_t>(-1);

const Usage kCommands[] = {
    {"load", 1, 1, "load NAME"},
    {"unload", 1, 1, "unload NAME"},
    {"online", 0, 0, "online"},
    {"offline", 0, 0, "offline"},
    {"click", 1, 1, "click COMMAND_ID"},
    {"answer", 1, kAny, "answer yes|no|ok|cancel ..."},
    {"html", 2, 3, "html PALETTE_ID DATA [ACTION]"},
    {"fail", 2, kAny, "fail CALL TEXT"},
    {"remove", 2, 2, "remove toolbar|panel ID"},
    {"language", 1, 1, "language N"},
    {"entitlement", 1, 1, "entitlement TEXT"},
    {"restart", 0, 0, "restart"},
    {"state", 0, 0, "state"},
    {"run", 1, kAny, "run PROGRAM ARGS..."},
    {"wait", 1, 1, "wait SECONDS"},
    {"waitfor", 1, 2, "waitfor TEXT [SECONDS]"},
    {"cancel", 0, 0, "cancel"},
};

bool IsAnswer(const std::string& word) {
  return word == "yes" || word == "no" || word == "ok" || word == "cancel";
}

} // namespace

bool ParseSeconds(const std::string& text, double* seconds) {
  if (text.empty() || text[0] == '-' || text[0] == '+')
    return false;
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  // At most a day: a longer wait is a typing error, and the bound keeps the deadline arithmetic safe.
  if (*end != '\0' || !(value >= 0 && value <= 86400))
    return false;
  *seconds = value;
  return true;
}

bool ValidateCommand(const std::vector<std::string>& words, std::string* error) {
  if (words.empty())
    return true;
  const std::string& name = words[0];
  const size_t args = words.size() - 1;
  for (const Usage& usage : kCommands) {
    if (name != usage.name)
      continue;
    if (args < usage.minArgs || (usage.maxArgs != kAny && args > usage.maxArgs)) {
      *error = "wrong number of arguments for " + name + "; usage: " + usage.usage;
      return false;
    }
    if (name == "answer") {
      for (size_t i = 1; i < words.size(); ++i) {
        if (!IsAnswer(words[i])) {
          *error = "unknown answer \"" + words[i] + "\"; usage: " + usage.usage;
          return false;
        }
      }
    } else if (name == "remove" && words[1] != "toolbar" && words[1] != "panel") {
      *error = "remove what? \"" + words[1] + "\"; usage: " + usage.usage;
      return false;
    } else if (name == "wait" || (name == "waitfor" && words.size() > 2)) {
      double seconds = 0;
      if (!ParseSeconds(words.back(), &seconds)) {
        *error = name + " wants a number of seconds, not \"" + words.back() + "\"; usage: " + usage.usage;
        return false;
      }
    } else if (name == "waitfor" && words[1].empty()) {
      *error = "waitfor wants a text to wait for; usage: " + std::string(usage.usage);
      return false;
    } else if (name == "language") {
      char* end = nullptr;
      const long value = std::strtol(words[1].c_str(), &end, 10);
      if (words[1].empty() || *end != '\0' || value < 0 || value > 14) {
        *error = "language wants a number from 0 to 14 (2 is Czech, 3 English), not \"" + words[1] + "\"";
        return false;
      }
    }
    return true;
  }
  *error = "unknown command \"" + name + "\" (see hostsim --help)";
  return false;
}

bool ParseScript(const std::string& text, const std::string& home, std::vector<ScriptCommand>* commands,
                 std::string* error) {
  commands->clear();
  std::istringstream in(text);
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    ScriptCommand command;
    command.line = number;
    std::string reason;
    if (!SplitWords(line, home, &command.words, &reason) || !ValidateCommand(command.words, &reason)) {
      *error = std::to_string(number) + ": " + reason;
      return false;
    }
    if (!command.words.empty())
      commands->push_back(std::move(command));
  }
  return true;
}

std::vector<ScriptCommand> DefaultPlay(const std::vector<std::string>& addinNames, bool offline) {
  std::vector<ScriptCommand> commands;
  for (const auto& name : addinNames)
    commands.push_back(ScriptCommand{0, {"load", name}});
  commands.push_back(ScriptCommand{0, {offline ? "offline" : "online"}});
  for (const auto& name : addinNames)
    commands.push_back(ScriptCommand{0, {"unload", name}});
  return commands;
}

const char* ScriptHelp() {
  return R"(Script commands (one per line; words split as a POSIX shell splits them: '...' and "..." group,
a backslash escapes; a leading ~/ stands for the simulated HOME; # starts a comment):
  load NAME                   load the add-in NAME from the add-in tree and call its run
  unload NAME                 call stop of the add-in NAME and unload its library
  online | offline            the host reports that it is online / offline (fires the status event)
  click COMMAND_ID            click the control of a command: command-created, then execute handlers
  answer yes|no|ok|cancel ... queue answers for the next message boxes (an unqueued box gets OK,
                              or No for a Yes/No box)
  html PALETTE_ID DATA [ACTION]
                              the page in a palette sends adsk.fusionSendData(ACTION, DATA);
                              ACTION is empty when not given
  fail CALL TEXT              every later call named CALL fails with TEXT as the host's last error;
                              CALL is a member (addButtonDefinition, itemById, add) or Class.member
                              (Toolbars.itemById); "get" empties Application::get
  remove toolbar|panel ID     take a toolbar or panel out of the host's user interface
  language N                  set the host's language preference (2 Czech, 3 English)
  entitlement TEXT            the host's answer to the entitlement text command
  restart                     unload every add-in, start a new host process, load them again:
                              module state is gone, files and preferences stay
  state                       print the host's state: add-ins, commands, toolbars, palettes
  run PROGRAM ARGS...         run a program with the simulated Mac's environment and record
                              its arguments, exit status, stdout and stderr
  wait SECONDS                the host idles for SECONDS (a decimal number), delivering the
                              custom events the add-ins' threads fire
  waitfor TEXT [SECONDS]      the host idles until a line containing TEXT has been printed since
                              the previous script line began (default 60 s); when none comes, an
                              error event and exit status 5
  cancel                      the user presses Cancel on the progress dialog that is showing
Custom events fired from any thread are delivered, in order, only while the host is idle: between
script lines and during wait and waitfor; never during a call into an add-in.
At the end of a script every add-in still loaded is unloaded, as when the host quits.
)";
}

} // namespace hostsim
