#include "service/unit_inputs.h"

#include <pwd.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/temp_dir.h"

namespace pelorin {
namespace {

// An application directory with its three store directories, made by whoever
// runs the test, so that account owns it.
class UnitInputsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* sub : {"config", "user", "pelorin"}) std::filesystem::create_directory(dir_.File(sub));
    const passwd* me = ::getpwuid(::getuid());
    ASSERT_NE(nullptr, me);
    me_ = me->pw_name;
  }

  void WriteConfig(const std::string& file, const std::string& elements) {
    testing::WriteFile(dir_.File("config/" + file),
                       "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<xConfig>\n" + elements + "\n</xConfig>\n");
  }

  testing::TTempDir dir_;
  std::string me_;
};

TEST_F(UnitInputsTest, OwnerOfEveryStoreDirectoryPasses) {
  const TSvcResult checked = CheckServiceAccount(me_, dir_.path());
  EXPECT_TRUE(checked) << checked.Reason();
}

TEST_F(UnitInputsTest, MissingAccountSaysHowToMakeIt) {
  const TSvcResult checked = CheckServiceAccount("pelorin-no-such-account", dir_.path());
  ASSERT_FALSE(checked);
  EXPECT_NE(std::string::npos, checked.Reason().find("adduser --system")) << checked.Reason();
}

TEST_F(UnitInputsTest, MissingStoreDirectoryFails) {
  std::filesystem::remove(dir_.File("user"));
  EXPECT_FALSE(CheckServiceAccount(me_, dir_.path()));
}

TEST_F(UnitInputsTest, StoreDirectoryOfAnotherAccountSaysHowToHandItOver) {
  if (::getuid() != 0) GTEST_SKIP() << "only root can give a directory to another account";
  ASSERT_EQ(0, ::chown(dir_.File("pelorin").c_str(), 65534, 65534));
  const TSvcResult checked = CheckServiceAccount(me_, dir_.path());
  ASSERT_FALSE(checked);
  EXPECT_NE(std::string::npos, checked.Reason().find("chown -R")) << checked.Reason();
}

TEST_F(UnitInputsTest, FirstRunPortAboveTheRangeNeedsNoPrivilege) {
  WriteConfig("configinit.xml", "<ServiceProviderPort>9555</ServiceProviderPort>");
  EXPECT_FALSE(ConfiguresPrivilegedPort(dir_.path()));
}

TEST_F(UnitInputsTest, StoreFileWinsOverTheFirstRunFile) {
  WriteConfig("configinit.xml", "<ServiceProviderPort>9555</ServiceProviderPort>");
  WriteConfig("config.xml", "<ServiceProviderPort> 80 </ServiceProviderPort>");
  EXPECT_TRUE(ConfiguresPrivilegedPort(dir_.path()));
}

TEST_F(UnitInputsTest, TlsPortCountsToo) {
  WriteConfig("config.xml", "<ServiceProviderPort>8080</ServiceProviderPort><HttpsPort>443</HttpsPort>");
  EXPECT_TRUE(ConfiguresPrivilegedPort(dir_.path()));
}

TEST_F(UnitInputsTest, PortsTheSystemPicksOrThatAreNoPortsNeedNoPrivilege) {
  for (const char* port : {"0", "", "1024", "65535", "abc", "-80", "100000"}) {
    WriteConfig("config.xml", std::string("<ServiceProviderPort>") + port + "</ServiceProviderPort>");
    EXPECT_FALSE(ConfiguresPrivilegedPort(dir_.path())) << port;
  }
  WriteConfig("config.xml", "<ServiceProviderPort>1023</ServiceProviderPort>");
  EXPECT_TRUE(ConfiguresPrivilegedPort(dir_.path()));
}

TEST_F(UnitInputsTest, NoConfigurationNeedsNoPrivilege) { EXPECT_FALSE(ConfiguresPrivilegedPort(dir_.path())); }

}  // namespace
}  // namespace pelorin
