// hostsim scripts: one command per line, words split as a POSIX shell splits them.
#pragma once

#include <string>
#include <vector>

namespace hostsim {

struct ScriptCommand {
  int line = 0; // 1-based line in the script; 0 for the default play
  std::vector<std::string> words;
};

// Splits one line into words: blanks separate words, single quotes keep everything literal, double
// quotes keep everything but a backslash before \ " $ or `, a backslash outside quotes
// escapes the next character, and '#' at the start of a word starts a comment. A word that begins
// with an unquoted "~/" gets home in place of the "~". False with a reason for an unterminated quote
// or a trailing backslash.
bool SplitWords(const std::string& line, const std::string& home, std::vector<std::string>* words,
                std::string* error);

// A number of seconds as wait and waitfor take it: a decimal number from 0 to 86400.
bool ParseSeconds(const std::string& text, double* seconds);

// Checks a command's name and number of arguments; the reason names the command's usage.
bool ValidateCommand(const std::vector<std::string>& words, std::string* error);

// Parses a whole script; stops at the first bad line with "LINE: reason" in *error.
bool ParseScript(const std::string& text, const std::string& home, std::vector<ScriptCommand>* commands,
                 std::string* error);

// The start hostsim plays without a script: load every add-in, report the online status, unload them.
std::vector<ScriptCommand> DefaultPlay(const std::vector<std::string>& addinNames, bool offline);

// The usage text of the script commands, for --help.
const char* ScriptHelp();

} // namespace hostsim
