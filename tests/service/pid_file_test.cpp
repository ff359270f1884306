#include "service/pid_file.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "service/service_manager.h"
#include "tests/temp_dir.h"

namespace pelorin {
namespace {

std::string PidLine(pid_t pid) { return std::to_string(pid) + "\n"; }

// A pid no process has: the highest pid the kernel may hand out, plus one.
pid_t UnusedPid() { return 4194304 + 1; }

// A child process of this test binary that holds the pid file of `dir` until it
// is killed; the parent returns once the claim is made.
class TClaimingChild {
 public:
  explicit TClaimingChild(const std::string& dir) {
    int ready[2];
    if (::pipe(ready) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(ready[0]);
      TPidFile claim;
      const char result = claim.Acquire(dir) ? 'y' : 'n';
      (void)!::write(ready[1], &result, 1);
      ::pause();
      ::_exit(0);
    }
    ::close(ready[1]);
    char result = 'n';
    if (::read(ready[0], &result, 1) != 1) result = 'n';
    ::close(ready[0]);
    claimed_ = result == 'y';
  }
  ~TClaimingChild() { Kill(); }

  // SIGKILL leaves the pid file behind, as a crash does.
  void Kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  pid_t Pid() const { return pid_; }
  bool Claimed() const { return claimed_; }

 private:
  pid_t pid_ = -1;
  bool claimed_ = false;
};

TEST(PidFileTest, ClaimWritesOurPidAndReleaseRemovesIt) {
  testing::TTempDir dir;
  const std::string path = dir.File(kPidFileName);
  {
    TPidFile claim;
    ASSERT_TRUE(claim.Acquire(dir.path())) << claim.Reason();
    EXPECT_TRUE(claim.Held());
    EXPECT_EQ(PidLine(::getpid()), testing::ReadFile(path));
    struct stat info {};
    ASSERT_EQ(0, ::stat(path.c_str(), &info));
    EXPECT_EQ(0644u, info.st_mode & 0777u);
  }
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_EQ(0, std::distance(std::filesystem::directory_iterator(dir.path()), {}));  // no temp file left
}

TEST(PidFileTest, SecondClaimFailsWhileTheFirstHolds) {
  testing::TTempDir dir;
  TPidFile first;
  ASSERT_TRUE(first.Acquire(dir.path()));
  TPidFile second;
  EXPECT_FALSE(second.Acquire(dir.path()));
  EXPECT_NE(std::string::npos, second.Reason().find("already runs")) << second.Reason();
  EXPECT_NE(std::string::npos, second.Reason().find(std::to_string(::getpid()))) << second.Reason();
  second.Release();  // releasing a failed claim must not remove the holder's file
  EXPECT_EQ(PidLine(::getpid()), testing::ReadFile(dir.File(kPidFileName)));
}

TEST(PidFileTest, StaleFilesAreReplaced) {
  const char* stale_contents[] = {"", "garbage", "0\n", "-5\n", "99999999999999999999\n"};
  for (const char* contents : stale_contents) {
    testing::TTempDir dir;
    testing::WriteFile(dir.File(kPidFileName), contents);
    TPidFile claim;
    EXPECT_TRUE(claim.Acquire(dir.path())) << contents << ": " << claim.Reason();
    EXPECT_EQ(PidLine(::getpid()), testing::ReadFile(dir.File(kPidFileName))) << contents;
  }
  // The file of a crashed process names a pid that may be alive again, even ours:
  // only the claim counts.
  for (const pid_t pid : {UnusedPid(), ::getpid(), ::getppid()}) {
    testing::TTempDir dir;
    testing::WriteFile(dir.File(kPidFileName), PidLine(pid));
    TPidFile claim;
    EXPECT_TRUE(claim.Acquire(dir.path())) << pid << ": " << claim.Reason();
  }
}

TEST(PidFileTest, FileOfACrashedProcessIsReplaced) {
  testing::TTempDir dir;
  TClaimingChild child(dir.path());
  ASSERT_TRUE(child.Claimed());
  const pid_t crashed = child.Pid();
  child.Kill();
  ASSERT_EQ(PidLine(crashed), testing::ReadFile(dir.File(kPidFileName)));
  TPidFile claim;
  EXPECT_TRUE(claim.Acquire(dir.path())) << claim.Reason();
  EXPECT_EQ(PidLine(::getpid()), testing::ReadFile(dir.File(kPidFileName)));
}

TEST(PidFileTest, ReleaseLeavesAFileThatIsNoLongerOurs) {
  testing::TTempDir dir;
  TPidFile claim;
  ASSERT_TRUE(claim.Acquire(dir.path()));
  std::filesystem::remove(dir.File(kPidFileName));
  testing::WriteFile(dir.File(kPidFileName), "4242\n");
  claim.Release();
  EXPECT_EQ("4242\n", testing::ReadFile(dir.File(kPidFileName)));
}

TEST(PidFileTest, UnwritableDirectoryIsReported) {
  testing::TTempDir dir;
  TPidFile claim;
  EXPECT_FALSE(claim.Acquire(dir.File("missing")));
  EXPECT_NE(std::string::npos, claim.Reason().find("No such file or directory")) << claim.Reason();
  EXPECT_FALSE(claim.Held());
}

TEST(PidFileTest, LiveServiceIsTheClaimingProcessRunningTheExecutable) {
  testing::TTempDir dir;
  const std::string self = ExecutablePath();
  EXPECT_EQ(0, FindLiveService(dir.path(), self));  // no file
  TClaimingChild child(dir.path());
  ASSERT_TRUE(child.Claimed());
  EXPECT_EQ(child.Pid(), FindLiveService(dir.path(), self));
  EXPECT_EQ(0, FindLiveService(dir.path(), "/usr/sbin/another-program"));
  EXPECT_EQ(0, FindLiveService(dir.path(), self + "x"));
  child.Kill();
  EXPECT_TRUE(std::filesystem::exists(dir.File(kPidFileName)));
  EXPECT_EQ(0, FindLiveService(dir.path(), self));  // left by a crash
}

TEST(PidFileTest, AnUnclaimedFileNamingALiveProcessIsNoService) {
  testing::TTempDir dir;
  // Our own pid and our parent's are alive, and ours even runs the executable.
  for (const pid_t pid : {::getpid(), ::getppid()}) {
    testing::WriteFile(dir.File(kPidFileName), PidLine(pid));
    EXPECT_EQ(0, FindLiveService(dir.path(), ExecutablePath())) << pid;
  }
}

TEST(PidFileTest, RunsExecutableComparesTheProcessImage) {
  EXPECT_TRUE(RunsExecutable(::getpid(), ExecutablePath()));
  EXPECT_TRUE(RunsExecutable(::getpid(), ExecutablePath() + " (deleted)"));
  EXPECT_FALSE(RunsExecutable(::getpid(), "/bin/true"));
  EXPECT_FALSE(RunsExecutable(UnusedPid(), ExecutablePath()));
}

}  // namespace
}  // namespace pelorin
