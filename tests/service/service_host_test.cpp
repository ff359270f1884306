// The service host's own inputs: the save interval override and the directory
// of the executable.
#include "service/service_host.h"

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <optional>

#include <gtest/gtest.h>

namespace pelorin::testing {
namespace {

TEST(SaveIntervalOverrideTest, WholeMillisecondsFromOneToADay) {
  const struct {
    const char* text;
    std::optional<long long> want;
  } cases[] = {
      {"300", 300},       {"1", 1},          {"86400000", 86400000}, {"0", std::nullopt},
      {"-5", std::nullopt}, {"", std::nullopt}, {"300ms", std::nullopt}, {" 300", std::nullopt},
      {"86400001", std::nullopt}, {"99999999999999999999", std::nullopt}, {"3e2", std::nullopt},
  };
  for (const auto& c : cases) {
    const auto got = SaveIntervalOverride(c.text);
    ASSERT_EQ(c.want.has_value(), got.has_value()) << c.text;
    if (c.want) {
      EXPECT_EQ(std::chrono::milliseconds(*c.want), *got) << c.text;
    }
  }
  EXPECT_FALSE(SaveIntervalOverride(nullptr).has_value());
}

TEST(ExecutableDirectoryTest, IsTheDirectoryOfTheRunningBinary) {
  const std::optional<std::string> dir = ExecutableDirectory();
  ASSERT_TRUE(dir.has_value());
  EXPECT_FALSE(dir->ends_with("/"));
  EXPECT_TRUE(std::filesystem::is_directory(*dir));
  EXPECT_EQ(std::filesystem::canonical("/proc/self/exe").parent_path().string(), *dir);
}

}  // namespace
}  // namespace pelorin::testing
