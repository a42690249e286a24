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
  std::string action; // what was tried, a Czech noun in UTF-8 ("odstranění", "čtení složky")
  std::string path;   // the entry it was tried on
  std::error_code code;
  std::string detail;   // the reason for the user when no code tells it
  std::string target{}; // an operation on two entries (a copy): the one written; path is the one read
};

// The reason of a system error in Czech (UTF-8), for the user; "systémová chyba č. N" for an error
// number without a text of its own, and the category's own text for a code that is no system error.
std::string CzechReason(const std::error_code& code);
