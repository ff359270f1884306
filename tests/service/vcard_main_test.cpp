// The module's life: loading the stores with the first-run fallback, the start's
// order and failures, the port, the saves of the timer and of the stop.
#include "service/vcard_main.h"

#include <chrono>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "tests/service/service_fixture.h"

namespace pelorin::testing {
namespace {

namespace fs = std::filesystem;

class ServiceLifeTest : public TServiceTest {
 protected:
  void WriteInitStores(const std::string& config = kTestConfig) {
    WriteFile(dir_.File("config/configinit.xml"), config);
    WriteFile(dir_.File("pelorin/baseinit.xml"), kTestCards);
    WriteFile(dir_.File("user/userinit.xml"), kTestUsers);
  }
  bool Exists(const std::string& name) const { return fs::exists(dir_.File(name)); }
  // A directory where the save's temporary file would go makes the save fail,
  // also for root, who may write read-only files.
  void BlockSave(const std::string& store) { fs::create_directory(dir_.File(store + ".saving")); }
  bool TimerEnabled() {
    TStoreGuard guard(service_->StoreLock);
    return service_->SaveTimer.Enabled();
  }
  void EnableTimer() {
    TStoreGuard guard(service_->StoreLock);
    service_->SaveTimer.SetEnabled(true);
  }
};

TEST_F(ServiceLifeTest, StartsFromTheFirstRunFilesAndLogsTheStart) {
  WriteInitStores();
  ASSERT_TRUE(Start());
  EXPECT_NE(0, service_->Port());
  EXPECT_EQ(dir_.path(), service_->AppDir);
  EXPECT_EQ("/config/config.xml", service_->ConfigPath);
  EXPECT_EQ("/pelorin/base.xml", service_->BasePath);
  EXPECT_EQ("/user/user.xml", service_->UserPath);
  EXPECT_NE(std::string::npos, LogText().find(": Starting Pelorin Version 1.0.1\r\n"));
  EXPECT_EQ(200, Get("/pelorin/list", "bob", "pw").StatusCode);  // users from userinit.xml
  EXPECT_FALSE(Exists("user/user.xml"));                          // the fallback is only read
}

TEST_F(ServiceLifeTest, RegularFileWinsOverTheFirstRunFile) {
  WriteInitStores();
  WriteFile(dir_.File("user/user.xml"),
            "<xUser><User><USER>carol</USER><PASSWORD>c</PASSWORD></User></xUser>");
  ASSERT_TRUE(Start());
  EXPECT_EQ(200, Get("/pelorin/list", "carol", "c").StatusCode);
  EXPECT_EQ(kAccountRealm, Get("/pelorin/list", "bob", "pw").Realm);
}

TEST_F(ServiceLifeTest, AppDirLosesItsTrailingSeparator) {
  WriteInitStores();
  service_ = std::make_unique<TPelorinService>(loop_);
  bool started = true;
  service_->ServiceStart(dir_.path() + "/", started);
  EXPECT_TRUE(started);
  EXPECT_EQ(dir_.path(), service_->AppDir);
}

TEST_F(ServiceLifeTest, MissingConfigurationStopsTheStartBeforeTheOtherStores) {
  WriteFile(dir_.File("pelorin/baseinit.xml"), kTestCards);
  WriteFile(dir_.File("user/userinit.xml"), kTestUsers);
  EXPECT_FALSE(Start());
  const std::string log = LogText();
  EXPECT_NE(std::string::npos, log.find(": Could not load file " + dir_.File("config/configinit.xml") + "\r\n"));
  EXPECT_EQ(log.find("Could not load"), log.rfind("Could not load"));  // the only load line
  EXPECT_EQ("", service_->BasePath);
  EXPECT_EQ("", service_->UserPath);
  EXPECT_EQ(0, service_->Port());
}

TEST_F(ServiceLifeTest, IllFormedStoreFileIsNotReplacedByTheFirstRunFile) {
  WriteInitStores();
  WriteFile(dir_.File("pelorin/base.xml"), "<xBase><vCard></xBase>");
  EXPECT_FALSE(Start());
  const std::string log = LogText();
  EXPECT_NE(std::string::npos, log.find("Could not load file " + dir_.File("pelorin/base.xml") + "\r\n"));
  EXPECT_EQ("/config/config.xml", service_->ConfigPath);
  EXPECT_EQ("/pelorin/base.xml", service_->BasePath);
  EXPECT_EQ("", service_->UserPath);
}

TEST_F(ServiceLifeTest, PortFromTheConfiguration) {
  // Text that is not a number gives 0, and 0 picks a free port.
  for (const char* text : {"0", "", "abc", "12ab"}) {
    WriteStores("<xConfig><ServiceProviderPort>" + std::string(text) + "</ServiceProviderPort></xConfig>");
    ASSERT_TRUE(Start()) << text;
    EXPECT_NE(0, service_->Port()) << text;
    service_.reset();
  }
}

TEST_F(ServiceLifeTest, PortOutsideTheRangeEndsTheStart) {
  for (const char* text : {"65536", "70000", "-1"}) {
    WriteStores("<xConfig><ServiceProviderPort>" + std::string(text) + "</ServiceProviderPort></xConfig>");
    EXPECT_FALSE(Start()) << text;
    EXPECT_EQ(0, service_->Port()) << text;
    service_.reset();
  }
  EXPECT_NE(std::string::npos, LogText().find(": Unable to activate HTTP server.\r\n"));
}

TEST_F(ServiceLifeTest, PortInUseEndsTheStartWithALogLine) {
  WriteStores();
  ASSERT_TRUE(Start());
  const int taken = service_->Port();
  TPelorinService second(loop_);
  WriteStores("<xConfig><ServiceProviderPort>" + std::to_string(taken) + "</ServiceProviderPort></xConfig>");
  bool started = true;
  second.ServiceStart(dir_.path(), started);
  EXPECT_FALSE(started);
  const std::string log = LogText();
  const auto unable = log.find(": Unable to activate HTTP server.\r\n");
  ASSERT_NE(std::string::npos, unable);
  EXPECT_LT(log.rfind("Starting Pelorin Version 1.0.1"), unable);
}

TEST_F(ServiceLifeTest, TimerSaveWritesAllThreeStoresAndDisarms) {
  WriteInitStores();
  ASSERT_TRUE(Start());
  EnableTimer();
  service_->SaveTimerTimer();
  EXPECT_TRUE(Exists("config/config.xml"));
  EXPECT_TRUE(Exists("pelorin/base.xml"));
  EXPECT_TRUE(Exists("user/user.xml"));
  EXPECT_NE(std::string::npos, ReadFile(dir_.File("user/user.xml")).find("<USER>Alice</USER>"));
  EXPECT_FALSE(TimerEnabled());
}

TEST_F(ServiceLifeTest, FailedTimerSaveWritesTheOthersAndStaysArmed) {
  WriteInitStores();
  ASSERT_TRUE(Start());
  BlockSave("pelorin/base.xml");
  EnableTimer();
  service_->SaveTimerTimer();
  EXPECT_FALSE(Exists("pelorin/base.xml"));
  EXPECT_TRUE(Exists("user/user.xml"));
  EXPECT_TRUE(Exists("config/config.xml"));
  EXPECT_TRUE(TimerEnabled());  // tried again one period later
  EXPECT_NE(std::string::npos, LogText().find("Could not save " + dir_.File("pelorin/base.xml")));
}

TEST_F(ServiceLifeTest, PeriodicSaveRunsOnTheLoop) {
  WriteInitStores();
  ASSERT_TRUE(Start(std::chrono::milliseconds(20)));
  EnableTimer();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!Exists("user/user.xml") && std::chrono::steady_clock::now() < deadline) {
    loop_.run_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(Exists("config/config.xml"));
  EXPECT_TRUE(Exists("pelorin/base.xml"));
  EXPECT_TRUE(Exists("user/user.xml"));
  EXPECT_FALSE(TimerEnabled());
}

TEST_F(ServiceLifeTest, StopSavesEvenWithoutChangesAndEndsServing) {
  WriteInitStores();
  ASSERT_TRUE(Start());
  EXPECT_EQ(302, Get("/logout", "bob", "pw").StatusCode);  // a change that arms no save
  bool stopped = true;
  service_->ServiceStop(stopped);
  EXPECT_TRUE(stopped);
  EXPECT_EQ(0, service_->Port());
  EXPECT_TRUE(Exists("config/config.xml"));
  EXPECT_TRUE(Exists("pelorin/base.xml"));
  EXPECT_NE(std::string::npos, ReadFile(dir_.File("user/user.xml")).find("<LOGOUT/>"));
  EXPECT_NE(std::string::npos, LogText().find(": Stopping Pelorin\r\n"));
  EXPECT_FALSE(TimerEnabled());
}

TEST_F(ServiceLifeTest, StopReportsAFailedSave) {
  WriteInitStores();
  ASSERT_TRUE(Start());
  BlockSave("config/config.xml");
  bool stopped = true;
  service_->ServiceStop(stopped);
  EXPECT_FALSE(stopped);
  EXPECT_TRUE(Exists("user/user.xml"));  // the others are still written
}

}  // namespace
}  // namespace pelorin::testing
