#include "service/message_box.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

namespace pelorin {
namespace {

std::string Drain(int fd) {
  std::string text;
  char buffer[256];
  ssize_t got;
  while ((got = ::read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<std::size_t>(got));
  return text;
}

TEST(MessageBoxTest, InformationOnOutputErrorsOnErrorStream) {
  int out[2];
  int err[2];
  ASSERT_EQ(0, ::pipe2(out, O_CLOEXEC));
  ASSERT_EQ(0, ::pipe2(err, O_CLOEXEC));
  {
    TConsoleMessageBox boxes(out[1], err[1]);
    boxes.Information("Starting service.");
    boxes.Error("Service \"x\" failed to install with error: \"y\"");
    boxes.Information("");
  }
  ::close(out[1]);
  ::close(err[1]);
  EXPECT_EQ("Starting service.\n\n", Drain(out[0]));
  EXPECT_EQ("Service \"x\" failed to install with error: \"y\"\n", Drain(err[0]));
  ::close(out[0]);
  ::close(err[0]);
}

}  // namespace
}  // namespace pelorin
