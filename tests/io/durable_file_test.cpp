// The durable-file steps on a real file system: what each leaves behind when it
// succeeds and when a step fails, the modes of new and replaced files, and an
// append file that never keeps a torn piece after a failed write.
#include "io/durable_file.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/temp_dir.h"

namespace pelorin::testing {
namespace {

namespace fs = std::filesystem;

mode_t ModeOf(const std::string& path) {
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : 0;
}

std::vector<std::string> Entries(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// Sets the umask for one test and puts the old one back.
class TUmask {
 public:
  explicit TUmask(mode_t mask) : old_(::umask(mask)) {}
  ~TUmask() { ::umask(old_); }

 private:
  mode_t old_;
};

TEST(ReplaceFileDurablyTest, ReplacesTheContentKeepingAnExistingFilesModeAndLeavesNothingBeside) {
  TTempDir dir;
  const std::string path = dir.File("base.xml");
  WriteFile(path, "old content that is longer than the new");
  ::chmod(path.c_str(), 0640);
  ReplaceFileDurably(path, "new", 0600);
  EXPECT_EQ("new", ReadFile(path));
  EXPECT_EQ(0640u, ModeOf(path));
  EXPECT_EQ(std::vector<std::string>{"base.xml"}, Entries(dir.path()));
}

TEST(ReplaceFileDurablyTest, ANewFileGetsItsModeWhateverTheUmask) {
  TTempDir dir;
  const TUmask mask(077);
  const std::string path = dir.File("user.xml");
  ReplaceFileDurably(path, std::string(100'000, 'x'), 0644);
  EXPECT_EQ(std::string(100'000, 'x'), ReadFile(path));
  EXPECT_EQ(0644u, ModeOf(path));
}

// A crash between write and rename leaves "<path>.saving" behind; the next save
// starts it afresh rather than adding to it.
TEST(ReplaceFileDurablyTest, ALeftoverSavingFileIsStartedAfresh) {
  TTempDir dir;
  const std::string path = dir.File("base.xml");
  WriteFile(path + ".saving", "torn piece of an earlier save, longer than the next one");
  ReplaceFileDurably(path, "whole", 0600);
  EXPECT_EQ("whole", ReadFile(path));
  EXPECT_EQ(std::vector<std::string>{"base.xml"}, Entries(dir.path()));
}

TEST(ReplaceFileDurablyTest, AFailedStepNamesItselfAndLeavesTheOldFileAndNoTemporary) {
  TTempDir dir;
  const std::string missing = dir.File("no/such/base.xml");
  try {
    ReplaceFileDurably(missing, "x", 0600);
    ADD_FAILURE() << "no error for a missing directory";
  } catch (const TFileError& e) {
    EXPECT_STREQ("create", e.Step);
    EXPECT_EQ(ENOENT, e.Error);
    EXPECT_EQ("Could not save " + missing + " (create): No such file or directory", std::string(e.what()));
  }
  // A directory where the file should be: everything up to the rename works.
  const std::string occupied = dir.File("base.xml");
  fs::create_directory(occupied);
  WriteFile(occupied + "/inside", "kept");
  try {
    ReplaceFileDurably(occupied, "x", 0600);
    ADD_FAILURE() << "no error for a directory in the way";
  } catch (const TFileError& e) {
    EXPECT_STREQ("rename", e.Step);
    EXPECT_EQ(EISDIR, e.Error);
  }
  EXPECT_EQ("kept", ReadFile(occupied + "/inside"));
  EXPECT_EQ(std::vector<std::string>{"base.xml"}, Entries(dir.path()));
}

TEST(CreateFileDurablyTest, CreatesOnlyWhereNothingIsAndNeverLeavesATemporary) {
  TTempDir dir;
  const TUmask mask(077);
  const std::string path = dir.File("pelorind.service");
  EXPECT_EQ(0, CreateFileDurably(path, "[Unit]\n", 0644));
  EXPECT_EQ("[Unit]\n", ReadFile(path));
  EXPECT_EQ(0644u, ModeOf(path));
  EXPECT_EQ(EEXIST, CreateFileDurably(path, "other", 0600));
  EXPECT_EQ("[Unit]\n", ReadFile(path));
  EXPECT_EQ(0644u, ModeOf(path));
  EXPECT_EQ(std::vector<std::string>{"pelorind.service"}, Entries(dir.path()));
  EXPECT_EQ(ENOENT, CreateFileDurably(dir.File("no/such/file"), "x", 0600));
}

TEST(AppendFileTest, AppendsContinueAfterReopeningAndTruncateEmpties) {
  TTempDir dir;
  const std::string path = dir.File("journal");
  {
    TAppendFile file;
    file.Open(path, 0600);
    EXPECT_TRUE(file.IsOpen());
    file.Append("one\n");
    file.Append("two\n");
    file.Sync();
    EXPECT_EQ(8, file.Size());
  }
  EXPECT_EQ("one\ntwo\n", ReadFile(path));
  EXPECT_EQ(0600u, ModeOf(path));
  TAppendFile file;
  file.Open(path, 0600);
  EXPECT_EQ(8, file.Size());
  file.Append("three\n");
  EXPECT_EQ("one\ntwo\nthree\n", ReadFile(path));
  file.Truncate();
  EXPECT_EQ(0, file.Size());
  EXPECT_EQ("", ReadFile(path));
  file.Append("four\n");
  EXPECT_EQ("four\n", ReadFile(path));
  file.Close();
  EXPECT_FALSE(file.IsOpen());
  try {
    file.Append("five\n");
    ADD_FAILURE() << "a closed file took an append";
  } catch (const TFileError& e) {
    EXPECT_STREQ("write", e.Step);
    EXPECT_EQ(EBADF, e.Error);
  }
  EXPECT_EQ("four\n", ReadFile(path));
}

TEST(AppendFileTest, OpeningWhereNoFileCanBeThrows) {
  TTempDir dir;
  TAppendFile file;
  try {
    file.Open(dir.File("no/such/journal"), 0600);
    ADD_FAILURE() << "opened in a missing directory";
  } catch (const TFileError& e) {
    EXPECT_STREQ("open", e.Step);
    EXPECT_EQ(ENOENT, e.Error);
  }
  EXPECT_FALSE(file.IsOpen());
}

// A write that gets only part of an entry out (here: the file size limit cuts
// it) must not leave that part before the next entry. Run in a child, as the
// limit applies to the whole process.
TEST(AppendFileTest, AFailedAppendIsCutBackToTheLastWholeEntry) {
  TTempDir dir;
  const std::string path = dir.File("journal");
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails with EFBIG instead
    const rlimit limit{100, 100};
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(10);
    TAppendFile file;
    try {
      file.Open(path, 0600);
      file.Append(std::string(60, 'a'));
    } catch (...) {
      ::_exit(11);
    }
    try {
      file.Append(std::string(60, 'b'));
      ::_exit(12);  // past the limit, yet no error
    } catch (const TFileError& e) {
      if (e.Error != EFBIG || std::string(e.Step) != "write") ::_exit(13);
    }
    if (file.Size() != 60) ::_exit(14);
    try {
      file.Append(std::string(30, 'c'));  // fits again
    } catch (...) {
      ::_exit(15);
    }
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(child, ::waitpid(child, &status, 0));
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(0, WEXITSTATUS(status));
  EXPECT_EQ(std::string(60, 'a') + std::string(30, 'c'), ReadFile(path));
}

}  // namespace
}  // namespace pelorin::testing
