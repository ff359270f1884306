#include "service/servicectl.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "service/event_log.h"
#include "tests/service/fake_service_manager.h"
#include "tests/temp_dir.h"

namespace pelorin {
namespace {

using testing::FakeOpener;
using testing::TFakeScript;
using Journal = std::vector<std::string>;

TEST(ServiceCtlTest, OpenAsksFullManagerAccessAndTheGivenServiceAccess) {
  TFakeScript script;
  TSvcHandle handle = SvcOpen(FakeOpener(script), "", "", "PelorinService", 0x14);
  EXPECT_TRUE(handle.Manager);
  EXPECT_TRUE(handle.Service);
  EXPECT_EQ((Journal{"open-manager '' '' 0xF003F", "open-service PelorinService 0x14"}), script.journal);
  SvcClose(handle);
}

TEST(ServiceCtlTest, OpenManagerPassesItsAccessAndOpensNoService) {
  TFakeScript script;
  TSvcHandle handle = SvcOpenManager(FakeOpener(script), "", "", 0x1);
  EXPECT_TRUE(handle.Manager);
  EXPECT_FALSE(handle.Service);
  EXPECT_FALSE(SvcStart(handle, {}));
  EXPECT_EQ((Journal{"open-manager '' '' 0x1"}), script.journal);
}

TEST(ServiceCtlTest, RequestsCarryTheirControlCodesAndTheStatusRecord) {
  const struct {
    bool (*request)(TSvcHandle&);
    const char* journal;
  } cases[] = {
      {[](TSvcHandle& h) { return SvcStop(h); }, "control 1"},
      {[](TSvcHandle& h) { return SvcPause(h); }, "control 2"},
      {[](TSvcHandle& h) { return SvcContinue(h); }, "control 3"},
      {[](TSvcHandle& h) { return SvcStart(h, {}); }, "start args=0"},
      {[](TSvcHandle& h) { return SvcStart(h, {"a", "b"}); }, "start args=2"},
  };
  for (const auto& c : cases) {
    TFakeScript script;
    TSvcHandle handle = SvcOpen(FakeOpener(script), "", "", kServiceName, SERVICE_ALL_ACCESS);
    EXPECT_TRUE(c.request(handle)) << c.journal;
    EXPECT_EQ(c.journal, script.journal.back());
  }
  TFakeScript script;
  TSvcHandle handle = SvcOpen(FakeOpener(script), "", "", kServiceName, SERVICE_ALL_ACCESS);
  ASSERT_TRUE(SvcPause(handle));
  EXPECT_EQ(102u, handle.Status.CurrentState);
}

TEST(ServiceCtlTest, RefusedOrThrowingRequestsReturnFalse) {
  for (const bool throws : {false, true}) {
    TFakeScript script;
    script.requests_succeed = false;
    script.requests_throw = throws;
    TSvcHandle handle = SvcOpen(FakeOpener(script), "", "", kServiceName, SERVICE_ALL_ACCESS);
    EXPECT_FALSE(SvcStart(handle, {})) << throws;
    EXPECT_FALSE(SvcStop(handle)) << throws;
    EXPECT_FALSE(SvcPause(handle)) << throws;
    EXPECT_FALSE(SvcContinue(handle)) << throws;
  }
}

TEST(ServiceCtlTest, ServiceNotInstalledLeavesManagerOpenAndRequestsFalse) {
  TFakeScript script;
  script.service_opens = false;
  TSvcHandle handle = SvcOpen(FakeOpener(script), "", "", "Missing", SERVICE_ALL_ACCESS);
  EXPECT_TRUE(handle.Manager);
  EXPECT_FALSE(handle.Service);
  EXPECT_FALSE(SvcStart(handle, {}));
  EXPECT_FALSE(SvcStop(handle));
  EXPECT_FALSE(SvcPause(handle));
  EXPECT_FALSE(SvcContinue(handle));
  const std::size_t before_close = script.journal.size();
  SvcClose(handle);
  EXPECT_EQ((Journal{"close-manager"}), Journal(script.journal.begin() + before_close, script.journal.end()));
}

TEST(ServiceCtlTest, ManagerNotOpenedLeavesNeitherHandleAndClosesNothing) {
  for (const bool throws : {false, true}) {
    TFakeScript script;
    script.manager_opens = false;
    script.opener_throws = throws;
    TSvcHandle handle = SvcOpen(FakeOpener(script), "", "", kServiceName, SERVICE_ALL_ACCESS);
    EXPECT_FALSE(handle.Manager);
    EXPECT_FALSE(handle.Service);
    EXPECT_FALSE(SvcStart(handle, {}));
    EXPECT_FALSE(SvcStop(handle));
    EXPECT_FALSE(SvcPause(handle));
    EXPECT_FALSE(SvcContinue(handle));
    SvcClose(handle);
    EXPECT_EQ((Journal{"open-manager '' '' 0xF003F"}), script.journal) << throws;
  }
}

TEST(ServiceCtlTest, CloseClosesServiceThenManagerOnce) {
  TFakeScript script;
  TSvcHandle handle = SvcOpen(FakeOpener(script), "", "", kServiceName, SERVICE_ALL_ACCESS);
  script.journal.clear();
  SvcClose(handle);
  SvcClose(handle);
  EXPECT_EQ((Journal{"close-service", "close-manager"}), script.journal);
  EXPECT_FALSE(SvcStop(handle));
}

TEST(ServiceCtlTest, OtherMachinesAndDatabasesCannotBeOpened) {
  EXPECT_FALSE(SvcOpenManager("othermachine", "", SC_MANAGER_ALL_ACCESS).Manager);
  EXPECT_FALSE(SvcOpenManager("", "FailedDatabase", SC_MANAGER_ALL_ACCESS).Manager);
  TSvcHandle handle = SvcOpen("othermachine", "", kServiceName, SERVICE_ALL_ACCESS);
  EXPECT_FALSE(handle.Service);
  EXPECT_FALSE(SvcStart(handle, {}));
}

TEST(ServiceManagerChoiceTest, SystemdWhenItsDirectoryExistsUnlessOverridden) {
  testing::TTempDir dir;
  const std::string present = dir.path();
  const std::string absent = dir.File("no-such-dir");
  const struct {
    const char* choice;
    const std::string& marker;
    TServiceManagerKind want;
  } cases[] = {
      {nullptr, present, TServiceManagerKind::Systemd}, {nullptr, absent, TServiceManagerKind::Local},
      {"local", present, TServiceManagerKind::Local},   {"systemd", absent, TServiceManagerKind::Systemd},
      {"", present, TServiceManagerKind::Systemd},      {"LOCAL", present, TServiceManagerKind::Systemd},
      {"locals", absent, TServiceManagerKind::Local},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.want, ChooseServiceManager(c.choice, c.marker)) << (c.choice ? c.choice : "(unset)") << " " << c.marker;
  }
}

}  // namespace
}  // namespace pelorin
