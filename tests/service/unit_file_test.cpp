#include "service/unit_file.h"

#include <sys/stat.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "tests/temp_dir.h"
#include "web/http_server.h"

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
      "User=pelorin",
      "Group=pelorin",
      "UMask=0077",
      "LimitNOFILE=32896",
      "NoNewPrivileges=yes",
      "ProtectSystem=strict",
      "ReadWritePaths=/opt/pelorin",
      "ReadOnlyPaths=/opt/pelorin/pelorind",
      "ProtectHome=yes",
      "PrivateTmp=yes",
      "PrivateDevices=yes",
      "DevicePolicy=closed",
      "ProtectKernelTunables=yes",
      "ProtectKernelModules=yes",
      "ProtectKernelLogs=yes",
      "ProtectControlGroups=yes",
      "ProtectClock=yes",
      "ProtectHostname=yes",
      "ProtectProc=invisible",
      "ProcSubset=pid",
      "RestrictNamespaces=yes",
      "RestrictRealtime=yes",
      "RestrictSUIDSGID=yes",
      "LockPersonality=yes",
      "MemoryDenyWriteExecute=yes",
      "RemoveIPC=yes",
      "RestrictAddressFamilies=AF_INET AF_INET6 AF_UNIX",
      "SystemCallArchitectures=native",
      "SystemCallFilter=@system-service",
      "SystemCallFilter=~@privileged",
      "SystemCallErrorNumber=EPERM",
      "CapabilityBoundingSet=",
      "PrivateUsers=yes",
      "",
      "[Install]",
      "WantedBy=multi-user.target",
      "Alias=pelorin.service",
  };
  EXPECT_EQ(want, lines);
}

// Below 1024 the account needs the one capability that binds such a port, and
// keeps it only in the host's user namespace.
TEST(UnitFileTest, PrivilegedPortKeepsOnlyTheBindCapability) {
  TServiceEntry entry = Entry("/opt/pelorin/pelorind");
  entry.PrivilegedPort = true;
  const std::vector<std::string> lines = Lines(TextFor(entry));
  const auto has = [&](const std::string& line) { return std::find(lines.begin(), lines.end(), line) != lines.end(); };
  EXPECT_TRUE(has("CapabilityBoundingSet=CAP_NET_BIND_SERVICE"));
  EXPECT_TRUE(has("AmbientCapabilities=CAP_NET_BIND_SERVICE"));
  EXPECT_FALSE(has("CapabilityBoundingSet="));
  EXPECT_FALSE(has("PrivateUsers=yes"));
  EXPECT_TRUE(has("User=pelorin"));
}

// The descriptor limit lets both listeners reach the HTTP layer's connection cap.
TEST(UnitFileTest, OpenFileLimitCoversTwoListenersAtTheirCap) {
  EXPECT_EQ(2 * THttpServerLimits{}.MaxConnections + 128, static_cast<std::size_t>(kUnitOpenFileLimit));
}

TEST(UnitFileTest, WritablePathsAreTheExecutablesDirectoryQuotedWhereNeeded) {
  const struct {
    const char* path;
    const char* read_write;
    const char* read_only;
  } cases[] = {
      {"/opt/pelorin/pelorind", "ReadWritePaths=/opt/pelorin", "ReadOnlyPaths=/opt/pelorin/pelorind"},
      {"/pelorind", "ReadWritePaths=/", "ReadOnlyPaths=/pelorind"},
      {"/opt/my apps/pelorind", "ReadWritePaths=\"/opt/my apps\"", "ReadOnlyPaths=\"/opt/my apps/pelorind\""},
      {"/opt/100%/pelorind", "ReadWritePaths=\"/opt/100%%\"", "ReadOnlyPaths=\"/opt/100%%/pelorind\""},
      {"/opt/$HOME/pelorind", "ReadWritePaths=\"/opt/$HOME\"", "ReadOnlyPaths=\"/opt/$HOME/pelorind\""},
      {"/opt/a\"b/pelorind", "ReadWritePaths=\"/opt/a\\\"b\"", "ReadOnlyPaths=\"/opt/a\\\"b/pelorind\""},
  };
  for (const auto& c : cases) {
    const std::vector<std::string> lines = Lines(TextFor(Entry(c.path)));
    EXPECT_EQ(c.read_write, lines[13]) << c.path;
    EXPECT_EQ(c.read_only, lines[14]) << c.path;
  }
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

// The sandbox as systemd rates it: an exposure of 3.0 or lower (the threshold is
// in tenths), with and without the capability for a port below 1024.
TEST(UnitFileTest, SystemdRatesTheSandboxExposureAtMostThree) {
  if (std::system("command -v systemd-analyze >/dev/null 2>&1") != 0) GTEST_SKIP() << "systemd-analyze is missing";
  for (const bool privileged : {false, true}) {
    testing::TTempDir dir;
    TServiceEntry entry = Entry("/opt/pelorin/pelorind");
    entry.PrivilegedPort = privileged;
    ASSERT_TRUE(WriteUnitFile(dir.path(), entry));
    const std::string command = "systemd-analyze security --offline=true --threshold=30 --no-pager '" +
                                dir.File("PelorinService.service") + "' > '" + dir.File("security.txt") + "' 2>&1";
    const int status = std::system(command.c_str());
    const std::string report = testing::ReadFile(dir.File("security.txt"));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << report;
    EXPECT_NE(std::string::npos, report.find("Overall exposure level")) << report;
  }
}

}  // namespace
}  // namespace pelorin
