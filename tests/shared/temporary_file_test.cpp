// The one temporary-file helper and the install record written through it.
#include "install_record.h"
#include "platform.h"
#include "temp_folder.h"
#include "temporary_file.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

namespace fs = std::filesystem;

namespace {

class TemporaryFileTest : public ::testing::Test {
protected:
  const TempFolder m_folder{"temporary_file_test_" + CurrentTestName() + "_"};
  const std::string m_target = m_folder / "target.txt";
};

bool WriteText(int fd, const std::string& text) {
  return write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
}

TEST_F(TemporaryFileTest, CommitReplacesTheTargetAndLeavesNothingBehind) {
  WriteFile(m_target, "old");
  {
    TemporaryFile temporary = TemporaryFile::CreateBeside(m_target);
    ASSERT_TRUE(temporary.valid()) << temporary.error();
    ASSERT_TRUE(WriteText(temporary.fd(), "new"));
    // Until the rename the target is the old file, and the temporary is hidden beside it.
    EXPECT_EQ("old", ReadFile(m_target));
    EXPECT_EQ('.', temporary.name().front());
    EXPECT_FALSE(IsTemporaryOfDeadProcess(temporary.name().c_str()));
    EXPECT_EQ(0, temporary.finish());
    EXPECT_EQ(0, temporary.commit(/*durable=*/true));
  }
  EXPECT_EQ("new", ReadFile(m_target));
  EXPECT_EQ(std::vector<std::string>{"target.txt"}, Entries(m_folder.path()));
}

TEST_F(TemporaryFileTest, AnUncommittedOrFailedFileIsRemovedAndTheTargetKept) {
  WriteFile(m_target, "old");
  {
    TemporaryFile temporary = TemporaryFile::CreateBeside(m_target);
    ASSERT_TRUE(WriteText(temporary.fd(), "half"));
  }
  EXPECT_EQ("old", ReadFile(m_target));
  EXPECT_EQ(std::vector<std::string>{"target.txt"}, Entries(m_folder.path()));

  // A folder with content at the target's name cannot be replaced by a file.
  const std::string folderTarget = m_folder / "occupied";
  WriteFile(folderTarget + "/inside", "x");
  TemporaryFile temporary = TemporaryFile::CreateBeside(folderTarget);
  ASSERT_TRUE(temporary.valid());
  EXPECT_NE(0, temporary.commit());
  temporary.discard();
  EXPECT_EQ((std::vector<std::string>{"occupied", "target.txt"}), Entries(m_folder.path()));

  TemporaryFile missing = TemporaryFile::CreateBeside(m_folder / "absent/target.txt");
  EXPECT_FALSE(missing.valid());
  EXPECT_EQ(ENOENT, missing.error());
}

TEST_F(TemporaryFileTest, LongAndCzechNamesAreCutAtACharacterBoundary) {
  std::string name;
  for (int i = 0; i < 120; ++i)
    name += "č"; // two bytes each: 240 bytes
  TemporaryFile temporary = TemporaryFile::CreateBeside(m_folder / name);
  ASSERT_TRUE(temporary.valid()) << temporary.error();
  EXPECT_LT(temporary.name().size(), 255u);
  // "." and 90 whole letters, then the process tag.
  EXPECT_EQ(0u, temporary.name().compare(0, 181, "." + name.substr(0, 180)));
  EXPECT_EQ(0, temporary.commit());
  EXPECT_TRUE(Exists(m_folder / name));
}

TEST(TemporaryNames, OnlyTemporariesOfEndedProcessesCountAsDead) {
  const std::string dead = std::to_string(ReapedProcessId());
  const std::string alive = std::to_string(getppid());
  struct Case {
    std::string name;
    bool dead;
  };
  const Case cases[] = {
      {".page.html." + dead + "-3.qxtmp", true},
      {".x." + dead + "-1.qxtmp", true},
      {".page.html." + alive + "-3.qxtmp", false},
      {".page.html." + std::to_string(getpid()) + "-3.qxtmp", false}, // this process: still writing
      {"page.html." + dead + "-3.qxtmp", false},                      // not hidden
      {".page.html." + dead + "-3.qxtmp.bak", false},
      {".page.html." + dead + ".qxtmp", false},
      {".page.html.-3.qxtmp", false},
      {".page.html." + dead + "-.qxtmp", false},
      {".page.html.+" + dead + "-3.qxtmp", false},
      {"." + dead + "-3.qxtmp", false}, // no target name
      {".page.html.99999999999999999999-3.qxtmp", false},
      {".notes.txt.qxtmp", false},
      {".qxtmp", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.dead, IsTemporaryOfDeadProcess(c.name.c_str()));
  }
}

TEST_F(TemporaryFileTest, SweepRemovesFilesOfEndedProcessesAndZombies) {
  // A zombie has ended but is not reaped yet: its files are as dead as those of a reaped process.
  const pid_t zombie = fork();
  if (zombie == 0)
    _exit(0);
  ASSERT_GT(zombie, 0);
  // Wait until it is a zombie without reaping it.
  siginfo_t info{};
  ASSERT_EQ(0, waitid(P_PID, static_cast<id_t>(zombie), &info, WEXITED | WNOWAIT));
  EXPECT_FALSE(ProcessIsRunning(zombie));
  EXPECT_TRUE(ProcessIsRunning(getpid()));

  const std::string fromZombie = ".a.txt." + std::to_string(zombie) + "-1.qxtmp";
  const std::string fromReaped = ".b.txt." + std::to_string(ReapedProcessId()) + "-1.qxtmp";
  const std::string fromParent = ".c.txt." + std::to_string(getppid()) + "-1.qxtmp";
  for (const std::string& name : {fromZombie, fromReaped, fromParent, std::string("plain.txt")})
    WriteFile(m_folder / name, "x");
  // A folder of such a name is no temporary file.
  const std::string folder = ".d.txt." + std::to_string(ReapedProcessId()) + "-1.qxtmp";
  ASSERT_EQ(0, mkdir((m_folder / folder).c_str(), 0755));

  SweepDeadTemporaries(m_folder.path());
  EXPECT_EQ((std::vector<std::string>{fromParent, folder, "plain.txt"}), Entries(m_folder.path()));
  waitpid(zombie, nullptr, 0);
}

TEST_F(TemporaryFileTest, InstallRecordRoundTripsOddPathsAndRefusesDamage) {
  installrecord::InstallRecord record;
  record.files["Contents/Libraries/Neutron/StringTable/cs-CZ/a b.xml"] = {12, 1700000000, 123456789};
  record.files["Contents/odd\t%name\n.txt"] = {0, 1, 0};
  record.folders.insert("Contents/Resources/AIRMAX/cs-CZ");
  const std::string path = m_folder / installrecord::kFileName;
  // A temporary that a killed run left beside the record goes with the next write.
  WriteFile(m_folder / ("." + std::string(installrecord::kFileName) + "." +
                        std::to_string(ReapedProcessId()) + "-1.qxtmp"),
            "half");
  Failure failure;
  ASSERT_TRUE(installrecord::WriteInstallRecord(path, record, failure)) << failure.code.message();
  EXPECT_EQ(std::vector<std::string>{installrecord::kFileName}, Entries(m_folder.path()));

  installrecord::InstallRecord read;
  ASSERT_TRUE(installrecord::ReadInstallRecord(path, read, failure)) << failure.code.message();
  EXPECT_EQ(record.files, read.files);
  EXPECT_EQ(record.folders, read.folders);

  // A later entry for the same file wins.
  installrecord::InstallRecord later;
  later.files["Contents/odd\t%name\n.txt"] = {5, 2, 0};
  installrecord::MergeInto(read, later);
  EXPECT_EQ(5u, read.files.at("Contents/odd\t%name\n.txt").size);
  EXPECT_EQ(2u, read.files.size());

  installrecord::InstallRecord none;
  EXPECT_TRUE(installrecord::ReadInstallRecord(m_folder / "absent.txt", none, failure));
  EXPECT_TRUE(none.files.empty() && none.folders.empty());

  // Entries that would lead out of the bundle, and files that are no record, are refused whole.
  const std::string damaged[] = {
      "# Orvandel install record 1\nD\t../../Documents\n",
      "# Orvandel install record 1\nF\t1\t2\t3\t/etc/passwd\n",
      "# Orvandel install record 1\nF\t1\t2\t3\ta/./b\n",
      "# Orvandel install record 1\nF\tx\t2\t3\ta\n",
      "# Orvandel install record 1\nF\t1\t2\t1000000000\ta\n",
      "# Orvandel install record 1\nD\ta%2\n",
      "D\ta\n",
  };
  for (const std::string& text : damaged) {
    SCOPED_TRACE(text);
    WriteFile(path, text);
    installrecord::InstallRecord kept = record;
    EXPECT_FALSE(installrecord::ReadInstallRecord(path, kept, failure));
    EXPECT_EQ(record.files, kept.files);
  }
}

} // namespace
