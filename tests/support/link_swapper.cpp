#include "link_swapper.h"

#include "test_files.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>

bool UnprivilegedAccount(Account& account) {
  if (geteuid() != 0)
    return false;
  const passwd* entry = getpwnam("nobody");
  if (!entry)
    return false;
  account = Account{entry->pw_uid, entry->pw_gid};
  return true;
}

void GiveTo(const std::string& path, const Account& account) {
  ASSERT_EQ(lchown(path.c_str(), account.uid, account.gid), 0) << path;
}

std::string OwnedListing(const std::string& root) {
  std::string listing = Listing(root);
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    struct stat info {};
    if (lstat(entry.path().c_str(), &info) == 0)
      listing += entry.path().string() + " owner " + std::to_string(info.st_uid) + "\n";
  }
  return listing;
}

void MakeSystemFolder(const std::string& root) {
  WriteFile(root + "/sudoers", "root ALL=(ALL) ALL");
  std::filesystem::permissions(root + "/sudoers", std::filesystem::perms::owner_read);
  WriteFile(root + "/LaunchDaemons/cz.example.plist", "daemon");
  WriteFile(root + "/cs-CZ/strings.xml", "system");
}

LinkSwapper::LinkSwapper(const std::vector<std::string>& folders, const std::string& target,
                         const Account* account) {
  std::vector<std::string> links;
  for (const std::string& folder : folders)
    links.push_back(folder + ".link");
  m_child = fork();
  if (m_child < 0)
    ADD_FAILURE() << "cannot fork";
  if (m_child != 0)
    return;
  if (account && (setgroups(0, nullptr) != 0 || setgid(account->gid) != 0 || setuid(account->uid) != 0))
    _exit(126);
  for (;;) {
    for (std::size_t i = 0; i < folders.size(); ++i) {
      const char* folder = folders[i].c_str();
      const char* link = links[i].c_str();
      // A new empty folder takes the name in one rename, replacing the empty one there: whoever looks
      // finds a folder at every moment, never the same one twice.
      if (target.empty()) {
        (void)!mkdir(link, 0755);
        (void)!rename(link, folder);
        continue;
      }
      // The folder steps aside and the ready-made link takes its name in one rename, then both go back.
      const std::string aside = folders[i] + ".aside";
      if (rename(folder, aside.c_str()) == 0) {
        if (rename(link, folder) == 0)
          (void)!rename(folder, link);
        (void)!rename(aside.c_str(), folder);
        continue;
      }
      // The remover took the folder or the link away: both stand again.
      if (mkdir(folder, 0755) == 0) {
        const int file = open((folders[i] + "/planted").c_str(), O_WRONLY | O_CREAT, 0644);
        if (file >= 0)
          close(file);
      }
      (void)!symlink(target.c_str(), link);
    }
  }
}

LinkSwapper::~LinkSwapper() {
  if (m_child <= 0)
    return;
  kill(m_child, SIGKILL);
  int status = 0;
  while (waitpid(m_child, &status, 0) < 0 && errno == EINTR) {
  }
}
