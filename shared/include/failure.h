// Why an operation failed, for the caller to report.
#pragma once

#include <string>
#include <system_error>

// shared/, the installer and the uninstaller return bool and fill a Failure given by reference: no
// exception may cross the host or main, and each caller words the report in Czech for its own user.
// An expected end (a missing file, a copy asked to stop) is a result its caller branches on, so no
// exception is part of the control flow; exceptions stay for the unexpected (memory, the host), caught
// once at each boundary.
struct Failure {
  std::string action; // what was tried, in Czech without diacritics (as a Terminal shows every text)
  std::string path;   // the entry it was tried on
  std::error_code code;
  std::string detail;   // the reason for the user when no code tells it
  std::string target{}; // an operation on two entries (a copy): the one written; path is the one read
};
