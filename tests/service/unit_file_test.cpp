#include "service/unit_file.h"

#include <sys/stat.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "tests/temp_dir.h"

namespace pelorin {
namespace {

TServiceEntry Entry(const std::string& path) { return {"PelorinService", kServiceDisplayName, path}; }

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string TextFor(const TServiceEntry& entry) {
  std::string text;
  const TSvcResult made = UnitFileText(entry, text);
  EXPECT_TRUE(made) << made.Reason();
  return text;
}

TEST(UnitFileTest, UnitCarriesTheEntryValues) {
  const std::vector<std::string> lines = Lines(TextFor(Entry("/opt/pelorin/pelorind")));
  const std::vector<std::string> want = {
      "[Unit]",
      "Description=Pelorin  - Web Based Address Books",
      "",
      "[Service]",
      "Type=notify",
      "ExecStart=/opt/pelorin/pelorind",
      "Restart=on-failure",
      "",
      "[Install]",
      "WantedBy=multi-user.target",
  };
  EXPECT_EQ(want, lines);
}

TEST(UnitFileTest, ExecStartQuotesWhatSystemdWouldInterpret) {
  const struct {
    const char* path;
    const char* exec_start;
  } cases[] = {
      {"/opt/pelorin-1.0/pel_orind", "ExecStart=/opt/pelorin-1.0/pel_orind"},
      {"/opt/my apps/pelorind", "ExecStart=\"/opt/my apps/pelorind\""},
      {"/opt/100%/pelorind", "ExecStart=\"/opt/100%%/pelorind\""},
      {"/opt/$HOME/pelorind", "ExecStart=\"/opt/$$HOME/pelorind\""},
      {"/opt/a\"b/pelorind", "ExecStart=\"/opt/a\\\"b/pelorind\""},
      {"/opt/a\\b/pelorind", "ExecStart=\"/opt/a\\\\b/pelorind\""},
      {"/opt/a;b/pelorind", "ExecStart=\"/opt/a;b/pelorind\""},
  };
  for (const auto& c : cases) EXPECT_EQ(c.exec_start, Lines(TextFor(Entry(c.path)))[5]) << c.path;
}

TEST(UnitFileTest, DescriptionEscapesSpecifiers) {
  TServiceEntry entry = Entry("/opt/pelorind");
  entry.DisplayName = "Books 100%n";
  EXPECT_EQ("Description=Books 100%%n", Lines(TextFor(entry))[1]);
}

TEST(UnitFileTest, RefusesEntriesThatCannotBeWrittenSafely) {
  const struct {
    const char* name;
    TServiceEntry entry;
  } cases[] = {
      {"relative path", Entry("pelorind")},
      {"empty path", Entry("")},
      {"line break in path", Entry("/opt/p\nExecStartPre=/bin/rm -rf /")},
      {"carriage return in path", Entry("/opt/p\rx")},
      {"tab in path", Entry("/opt/p\tx")},
      {"line break in name", {"PelorinService", "Books\n[Service]", "/opt/pelorind"}},
      {"slash in name", {"../PelorinService", kServiceDisplayName, "/opt/pelorind"}},
      {"blank in name", {"Pelorin Service", kServiceDisplayName, "/opt/pelorind"}},
      {"empty name", {"", kServiceDisplayName, "/opt/pelorind"}},
      {"hidden name", {".PelorinService", kServiceDisplayName, "/opt/pelorind"}},
  };
  for (const auto& c : cases) {
    std::string text = "untouched";
    const TSvcResult made = UnitFileText(c.entry, text);
    EXPECT_FALSE(made) << c.name;
    EXPECT_FALSE(made.Reason().empty()) << c.name;
    EXPECT_EQ("untouched", text) << c.name;
  }
}

TEST(UnitFileTest, WriteCreatesReadableFileOnceAndRemoveDeletesIt) {
  testing::TTempDir dir;
  const std::string path = dir.File("PelorinService.service");
  ASSERT_TRUE(WriteUnitFile(dir.path(), Entry("/opt/pelorind")));
  EXPECT_EQ(TextFor(Entry("/opt/pelorind")), testing::ReadFile(path));
  struct stat info {};
  ASSERT_EQ(0, ::stat(path.c_str(), &info));
  EXPECT_EQ(0644u, info.st_mode & 0777u);

  const TSvcResult again = WriteUnitFile(dir.path(), Entry("/elsewhere/pelorind"));
  EXPECT_FALSE(again);
  EXPECT_NE(std::string::npos, again.Reason().find("already installed")) << again.Reason();
  EXPECT_EQ(TextFor(Entry("/opt/pelorind")), testing::ReadFile(path));  // the first one stays
  // No temporary file is left beside it, after success or failure.
  EXPECT_EQ(1, std::distance(std::filesystem::directory_iterator(dir.path()), {}));

  ASSERT_TRUE(RemoveUnitFile(dir.path(), "PelorinService"));
  EXPECT_FALSE(std::filesystem::exists(path));
  const TSvcResult gone = RemoveUnitFile(dir.path(), "PelorinService");
  EXPECT_FALSE(gone);
  EXPECT_NE(std::string::npos, gone.Reason().find("not installed")) << gone.Reason();
}

TEST(UnitFileTest, FailuresCarryTheSystemText) {
  testing::TTempDir dir;
  const TSvcResult missing = WriteUnitFile(dir.File("absent"), Entry("/opt/pelorind"));
  EXPECT_FALSE(missing);
  EXPECT_EQ("No such file or directory", missing.Reason());
  EXPECT_FALSE(RemoveUnitFile(dir.path(), "../etc/passwd"));
}

// systemd's own check of the unit, with the executable in a directory whose name
// needs quoting.
TEST(UnitFileTest, SystemdAcceptsTheUnit) {
  if (std::system("command -v systemd-analyze >/dev/null 2>&1") != 0) GTEST_SKIP() << "systemd-analyze is missing";
  testing::TTempDir dir;
  const std::string app_dir = dir.File("app dir 100%");
  std::filesystem::create_directory(app_dir);
  const std::string executable = app_dir + "/pelorind";
  std::filesystem::copy_file("/bin/true", executable);
  const std::string units = dir.File("units");
  std::filesystem::create_directory(units);
  ASSERT_TRUE(WriteUnitFile(units, Entry(executable)));
  const std::string command = "systemd-analyze verify --man=no '" + units + "/PelorinService.service' > '" +
                              dir.File("verify.txt") + "' 2>&1";
  const int status = std::system(command.c_str());
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << testing::ReadFile(dir.File("verify.txt"));
}

}  // namespace
}  // namespace pelorin
