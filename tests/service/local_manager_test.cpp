#include "service/local_manager.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "service/event_log.h"
#include "service/pid_file.h"
#include "tests/temp_dir.h"

namespace pelorin {
namespace {

using std::chrono::milliseconds;

// The fake service copied into a fresh application directory, and a manager for
// it. This process adopts the detached service (subreaper), so that it can reap
// it and see that it is gone.
class LocalManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(0, ::prctl(PR_SET_CHILD_SUBREAPER, 1));
    executable_ = dir_.File("pelorind");
    std::filesystem::copy_file(PELORIN_FAKE_SERVICE, executable_);
    std::string reason;
    manager_ = OpenLocalManager(executable_, reason, milliseconds(3000));
    ASSERT_TRUE(manager_) << reason;
    service_ = manager_->OpenService(kServiceName, SERVICE_ALL_ACCESS, reason);
    ASSERT_TRUE(service_) << reason;
  }

  void TearDown() override {
    ::unsetenv("PELORIN_FAKE_IGNORE_TERM");
    if (const pid_t pid = FindLiveService(dir_.path(), executable_); pid != 0) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
    while (::waitpid(-1, nullptr, WNOHANG) > 0) {
    }
  }

  // The pid of the started service once it holds its pid file, 0 after 5 s.
  pid_t WaitForService() {
    for (int i = 0; i < 500; ++i) {
      if (const pid_t pid = FindLiveService(dir_.path(), executable_); pid != 0) return pid;
      std::this_thread::sleep_for(milliseconds(10));
    }
    return 0;
  }

  // True once the signal log holds `text`.
  bool WaitForSignals(const std::string& text) {
    for (int i = 0; i < 500; ++i) {
      if (testing::ReadFile(dir_.File("fake-signals.txt")) == text) return true;
      std::this_thread::sleep_for(milliseconds(10));
    }
    return false;
  }

  testing::TTempDir dir_;
  std::string executable_;
  std::unique_ptr<TServiceManager> manager_;
  std::unique_ptr<TService> service_;
  TServiceStatus status_;
};

TEST_F(LocalManagerTest, StartPauseContinueStop) {
  ASSERT_TRUE(service_->Start({}));
  const pid_t pid = WaitForService();
  ASSERT_NE(0, pid);
  const TSvcResult twice = service_->Start({});
  EXPECT_FALSE(twice);
  EXPECT_NE(std::string::npos, twice.Reason().find("already running")) << twice.Reason();

  ASSERT_TRUE(service_->Control(SERVICE_CONTROL_PAUSE, status_));
  EXPECT_EQ(SERVICE_PAUSED, status_.CurrentState);
  EXPECT_TRUE(WaitForSignals("USR1\n"));
  ASSERT_TRUE(service_->Control(SERVICE_CONTROL_CONTINUE, status_));
  EXPECT_EQ(SERVICE_RUNNING, status_.CurrentState);
  EXPECT_TRUE(WaitForSignals("USR1\nUSR2\n"));

  ASSERT_TRUE(service_->Control(SERVICE_CONTROL_STOP, status_));
  EXPECT_EQ(SERVICE_STOPPED, status_.CurrentState);
  // The stop waited for the end: the process is already a zombie or gone.
  int exit_status = -1;
  EXPECT_EQ(pid, ::waitpid(pid, &exit_status, WNOHANG));
  EXPECT_TRUE(WIFEXITED(exit_status) && WEXITSTATUS(exit_status) == 0);
  EXPECT_FALSE(std::filesystem::exists(dir_.File(kPidFileName)));
  EXPECT_EQ(0, FindLiveService(dir_.path(), executable_));

  // And it can be started again at once.
  ASSERT_TRUE(service_->Start({}));
  EXPECT_NE(0, WaitForService());
}

TEST_F(LocalManagerTest, ServiceRunsDetached) {
  // A descriptor this process leaves open across exec must not reach the service.
  const int leaked = ::open(dir_.File("leaked-marker").c_str(), O_WRONLY | O_CREAT, 0600);
  ASSERT_GE(leaked, 0);
  ASSERT_TRUE(service_->Start({}));
  ::close(leaked);
  ASSERT_NE(0, WaitForService());
  const std::string start = testing::ReadFile(dir_.File("fake-start.txt"));
  // A session of its own, apart from ours, so that closing our terminal does not
  // reach it.
  EXPECT_EQ(std::string::npos, start.find("sid=" + std::to_string(::getsid(0)) + "\n")) << start;
  EXPECT_EQ(0u, start.find("sid=")) << start;
  EXPECT_NE(std::string::npos, start.find("cwd=/\n")) << start;
  EXPECT_NE(std::string::npos, start.find("fd0=/dev/null\nfd1=/dev/null\nfd2=/dev/null\n")) << start;
  EXPECT_EQ(std::string::npos, start.find("extra=")) << start;
}

TEST_F(LocalManagerTest, ControlsWithoutAServiceFail) {
  for (const std::uint32_t code : {SERVICE_CONTROL_STOP, SERVICE_CONTROL_PAUSE, SERVICE_CONTROL_CONTINUE}) {
    const TSvcResult result = service_->Control(code, status_);
    EXPECT_FALSE(result) << code;
    EXPECT_NE(std::string::npos, result.Reason().find("has not been started")) << result.Reason();
  }
  // A pid file left by a crash names a process that is alive, but not the service.
  testing::WriteFile(dir_.File(kPidFileName), std::to_string(::getpid()) + "\n");
  EXPECT_FALSE(service_->Control(SERVICE_CONTROL_STOP, status_));
  EXPECT_FALSE(service_->Control(4, status_));  // interrogate is not offered
}

TEST_F(LocalManagerTest, StopGivesUpAfterTheTimeout) {
  ::setenv("PELORIN_FAKE_IGNORE_TERM", "1", 1);
  ASSERT_TRUE(service_->Start({}));
  const pid_t pid = WaitForService();
  ASSERT_NE(0, pid);
  const auto begin = std::chrono::steady_clock::now();
  const TSvcResult stopped = service_->Control(SERVICE_CONTROL_STOP, status_);
  EXPECT_FALSE(stopped);
  EXPECT_NE(std::string::npos, stopped.Reason().find("did not stop")) << stopped.Reason();
  EXPECT_GE(std::chrono::steady_clock::now() - begin, milliseconds(2900));
  EXPECT_EQ(pid, FindLiveService(dir_.path(), executable_));
}

TEST_F(LocalManagerTest, StartOfAMissingExecutableFails) {
  std::filesystem::remove(executable_);
  const TSvcResult started = service_->Start({});
  EXPECT_FALSE(started);
  EXPECT_NE(std::string::npos, started.Reason().find("No such file or directory")) << started.Reason();
}

TEST_F(LocalManagerTest, StartArgumentsAreRefused) { EXPECT_FALSE(service_->Start({"x"})); }

TEST_F(LocalManagerTest, OnlyThisServiceIsKnownAndNothingCanBeInstalled) {
  std::string reason;
  EXPECT_FALSE(manager_->OpenService("OtherService", SERVICE_ALL_ACCESS, reason));
  EXPECT_NE(std::string::npos, reason.find("OtherService")) << reason;
  reason.clear();
  EXPECT_FALSE(manager_->CreateService({kServiceName, kServiceDisplayName, executable_}, reason));
  EXPECT_EQ(kNoSystemdReason, reason);
  const TSvcResult deleted = service_->Delete();
  EXPECT_FALSE(deleted);
  EXPECT_EQ(kNoSystemdReason, deleted.Reason());
}

TEST(LocalManagerOpenTest, NeedsAFullExecutablePath) {
  std::string reason;
  EXPECT_FALSE(OpenLocalManager("", reason));
  EXPECT_FALSE(reason.empty());
  EXPECT_FALSE(OpenLocalManager("pelorind", reason));
}

}  // namespace
}  // namespace pelorin
