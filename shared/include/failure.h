// Why an operation failed, for the caller to report.
//
// The error style below the host boundary: an operation that can fail returns bool and fills a Failure
// given by reference (its last parameter), and its caller must look at the bool. No exception may cross
// the host or main, and each caller words the report in Czech for its own user. An expected end (a
// missing file, a copy asked to stop) is a result its caller branches on, so no exception is part of the
// control flow; exceptions stay for the unexpected (memory, the host), caught once at each boundary.
//
// A system error becomes a Failure through Fail, which takes the errno value first. Codes of our own
// (a copy asked to stop, a damaged install record, a file too large to read) have categories of their
// own and are set as a Failure's code directly, with the reason for the user as detail.
//
// Two kinds of function report otherwise, each for a reason said where it is declared: the thin
// wrappers of one system call return 0 or an errno value (platform.h states the rule; temporary_file.h,
// a wrapper of the same kind around open, write, fsync and rename, keeps it), and the transfers of the
// update client return result structs that carry more than a failure (http_fetch.h). The uninstaller's
// checks of where it was started return bool with a refusal text for the user, no Failure: a refusal is
// no system error (uninstall.h). Results are returned or given by reference, never through a pointer
// out-parameter.
#pragma once

#include <string>
#include <system_error>

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
// Fills failure with action on path, failed with the system error `error` (an errno value), and returns
// false, so that a caller ends with `return Fail(errno, "odstranění", path, failure);`.
//
// errno comes first as a value, but C++ leaves the order of a call's arguments open: when a path is
// built in the call (a concatenation allocates, and an allocation may change errno), read errno into a
// local first (`const int error = errno;`) and pass that.
inline bool Fail(int error, const char* action, const std::string& path, Failure& failure) {
  failure = Failure{action, path, std::error_code(error, std::generic_category()), std::string()};
  return false;
}

// The same for an operation on two entries: path the one read, target the one written.
inline bool Fail(int error, const char* action, const std::string& path, const std::string& target,
                 Failure& failure) {
  failure = Failure{action, path, std::error_code(error, std::generic_category()), std::string(), target};
  return false;
}
