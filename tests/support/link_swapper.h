// A hostile local user for the removal tests: a child process that, until it is stopped, swaps each of
// some folders for a symbolic link to a target elsewhere and back, as fast as it can, and makes the
// folder (with a file in it) and the link again where a remover took one.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

// The account the hostile user runs as when the tests run as root.
struct Account {
  uid_t uid = 0;
  gid_t gid = 0;
};

// The account "nobody" when this process is root; false otherwise (a test that needs it skips).
bool UnprivilegedAccount(Account& account);

// Gives path (not what a link there points to) to account.
void GiveTo(const std::string& path, const Account& account);

// Listing(root) of test_files.h with each entry's owner: what the hostile user must not change.
std::string OwnedListing(const std::string& root);

// Lays out, at root, folders and files of root's only (a root-only file, mode 0400, stands for
// /private/etc/sudoers); the hostile user points links at it.
void MakeSystemFolder(const std::string& root);

class LinkSwapper {
public:
  // Starts the child, as account when given. The parents of folders must be writable by it. With an
  // empty target each folder, kept empty, is replaced by a new empty folder over and over instead.
  LinkSwapper(const std::vector<std::string>& folders, const std::string& target, const Account* account);
  // Kills and reaps the child.
  ~LinkSwapper();
  LinkSwapper(const LinkSwapper&) = delete;
  LinkSwapper& operator=(const LinkSwapper&) = delete;

private:
  pid_t m_child = -1;
};
