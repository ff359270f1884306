#include "service/orv_logger.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

namespace pelorin {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::system_clock;

// An instant given in UTC; the tests run with TZ=UTC unless they set a zone.
Clock::time_point At(int year, int month, int day, int hour = 12, int minute = 0, int second = 0,
                     int millis = 0) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  return Clock::from_time_t(timegm(&tm)) + std::chrono::milliseconds(millis);
}

TLogClock Fixed(Clock::time_point when) {
  return [when] { return when; };
}

// Successive readings; the last one repeats.
TLogClock Readings(std::vector<Clock::time_point> readings) {
  auto next = std::make_shared<std::size_t>(0);
  return [readings, next] {
    const auto reading = readings[std::min(*next, readings.size() - 1)];
    ++*next;
    return reading;
  };
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void Touch(const std::string& path) { std::ofstream(path) << "x"; }

std::set<std::string> Names(const std::string& dir) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.insert(entry.path().filename());
  return names;
}

std::string CurrentDir() { return fs::current_path().string(); }

class OrvLoggerTest : public testing::Test {
 protected:
  void SetUp() override {
    UseZone("UTC");
    char pattern[] = "/tmp/pelorin-log-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    chmod(dir_.c_str(), 0700);
    fs::remove_all(dir_);
    UseZone("UTC");
  }
  static void UseZone(const char* zone) {
    setenv("TZ", zone, 1);
    tzset();
  }
  void MakeFiles(const std::vector<std::string>& names) {
    for (const auto& name : names) Touch(dir_ + "/" + name);
  }

  std::string dir_;
};

TEST_F(OrvLoggerTest, FirstLineOfDayCreatesFileLaterLinesAppend) {
  TORV_Logger logger(dir_, "", Fixed(At(2026, 12, 7)));
  const std::string file = dir_ + "/20261207.log";
  ASSERT_TRUE(logger.WriteLine("one"));
  EXPECT_EQ(file, logger.LogFileName);
  EXPECT_EQ("one\r\n", ReadFile(file));
  ASSERT_TRUE(logger.WriteLine("two"));
  // A fresh logger, as the service makes per line, appends rather than truncates.
  TORV_Logger second(dir_, "log", Fixed(At(2026, 12, 7, 23, 59, 59)));
  ASSERT_TRUE(second.WriteLine("three"));
  EXPECT_EQ("one\r\ntwo\r\nthree\r\n", ReadFile(file));
  EXPECT_EQ(2, logger.WriteCount);
  EXPECT_EQ(0, logger.WriteFailures);
  EXPECT_EQ(std::set<std::string>{"20261207.log"}, Names(dir_));
}

TEST_F(OrvLoggerTest, DefaultsWriteBareLineWithBreak) {
  TORV_Logger logger(dir_, "");
  EXPECT_TRUE(logger.AddLineBreak);
  EXPECT_FALSE(logger.AddTimeStamp || logger.PurgeOnNewFile || logger.PurgeOnWrite ||
               logger.UseLock);
  EXPECT_EQ(0, logger.KeepDays + logger.MaxFiles + logger.WriteCount + logger.WriteFailures +
                   logger.DeleteFailures);
}

TEST_F(OrvLoggerTest, LineBytes) {
  const struct {
    int hour, minute, second, millis;
    bool stamp, line_break;
    const char* message;
    const char* want;
  } cases[] = {
      {0, 0, 0, 0, true, true, "a", "00:00:00:000: a\r\n"},
      {9, 5, 3, 7, true, true, "x: y", "09:05:03:007: x: y\r\n"},
      {23, 59, 59, 999, true, true, "", "23:59:59:999: \r\n"},
      {9, 5, 3, 7, true, false, "m", "09:05:03:007: m"},
      {9, 5, 3, 7, false, true, "m", "m\r\n"},
      {9, 5, 3, 7, false, false, "m\xE9", "m\xE9"},  // 8-bit bytes as given
  };
  for (const auto& c : cases) {
    const std::string file = dir_ + "/20260102.log";
    fs::remove(file);
    TORV_Logger logger(dir_, ".log", Fixed(At(2026, 1, 2, c.hour, c.minute, c.second, c.millis)));
    logger.AddTimeStamp = c.stamp;
    logger.AddLineBreak = c.line_break;
    ASSERT_TRUE(logger.WriteLine(c.message)) << c.want;
    EXPECT_EQ(c.want, ReadFile(file));
  }
}

TEST_F(OrvLoggerTest, StampOfOldDayLandsInNewDayFileAtMidnight) {
  TORV_Logger logger(dir_, "", Readings({At(2026, 12, 7, 23, 59, 59, 999), At(2026, 12, 8, 0)}));
  logger.AddTimeStamp = true;
  ASSERT_TRUE(logger.WriteLine("late"));
  EXPECT_EQ("23:59:59:999: late\r\n", ReadFile(dir_ + "/20261208.log"));
  EXPECT_EQ(std::set<std::string>{"20261208.log"}, Names(dir_));
}

TEST_F(OrvLoggerTest, DayAndStampFollowLocalZone) {
  UseZone("XYZ-2");  // two hours east of UTC
  TORV_Logger logger(dir_, "", Fixed(At(2026, 12, 31, 23, 30, 0, 250)));
  logger.AddTimeStamp = true;
  ASSERT_TRUE(logger.WriteLine("new year"));
  EXPECT_EQ("01:30:00:250: new year\r\n", ReadFile(dir_ + "/20270101.log"));
}

TEST_F(OrvLoggerTest, ExtensionRules) {
  const struct {
    const char* ext;
    const char* want;
  } cases[] = {{"", ".log"}, {"log", ".log"}, {".log", ".log"}, {"txt", ".txt"},
               {".", "."},   {"..x", "..x"},  {"l.og", ".l.og"}};
  for (const auto& c : cases) EXPECT_EQ(c.want, TORV_Logger(dir_, c.ext).LogExt) << c.ext;
}

TEST_F(OrvLoggerTest, DirectoryRules) {
  Touch(dir_ + "/plain");
  const std::string cwd = CurrentDir() + "/";
  const struct {
    std::string dir, want;
  } cases[] = {
      {dir_, dir_ + "/"},
      {dir_ + "/", dir_ + "/"},  // the separator is not doubled
      {"", cwd},
      {dir_ + "/missing", cwd},
      {dir_ + "/plain", cwd},  // a file is not a directory
  };
  for (const auto& c : cases) EXPECT_EQ(c.want, TORV_Logger(c.dir, "").LogDir) << c.dir;
}

TEST_F(OrvLoggerTest, MissingDirectoryWritesToCurrentDirectory) {
  const std::string previous = CurrentDir();
  ASSERT_EQ(0, chdir(dir_.c_str()));
  TORV_Logger logger(dir_ + "/missing", "txt", Fixed(At(2026, 12, 7)));
  const bool written = logger.WriteLine("here");
  ASSERT_EQ(0, chdir(previous.c_str()));
  EXPECT_TRUE(written);
  EXPECT_EQ("here\r\n", ReadFile(dir_ + "/20261207.txt"));
}

TEST_F(OrvLoggerTest, KeepDaysDeletesDaysBeforeCutoff) {
  const struct {
    Clock::time_point now;
    int32_t keep_days;
    std::vector<std::string> files, remain;
  } cases[] = {
      {At(2026, 12, 7),
       7,
       {"20261128.log", "20261129.log", "20261130.log", "20261207.log"},
       {"20261130.log", "20261207.log"}},
      {At(2026, 1, 3, 0, 0, 0, 1), 3, {"20251230.log", "20251231.log"}, {"20251231.log"}},
      {At(2028, 3, 1, 23, 59, 59), 1, {"20280228.log", "20280229.log"}, {"20280229.log"}},
      // Only eight characters plus the extension count; other names stay.
      {At(2026, 12, 7),
       7,
       {"20261129.txt", "2026112.log", "202611290.log", "0-backup.log"},
       {"20261129.txt", "2026112.log", "202611290.log"}},
  };
  for (const auto& c : cases) {
    fs::remove_all(dir_);
    fs::create_directory(dir_);
    MakeFiles(c.files);
    TORV_Logger logger(dir_, "log", Fixed(c.now));
    logger.KeepDays = c.keep_days;
    EXPECT_TRUE(logger.Purge());
    EXPECT_EQ(std::set<std::string>(c.remain.begin(), c.remain.end()), Names(dir_))
        << c.files.front();
  }
}

TEST_F(OrvLoggerTest, MaxFilesDeletesByteWiseFirst) {
  const struct {
    int32_t max_files;
    std::vector<std::string> files, remain;
  } cases[] = {
      {2,
       {"20261201.log", "20261202.log", "20261203.log", "20261204.log"},
       {"20261203.log", "20261204.log"}},
      {2, {"20261205.log", "20261206.log", "aaaaaaaa.log"}, {"20261206.log", "aaaaaaaa.log"}},
      // Bytes compare unsigned: a name starting with 0xE9 sorts after the digits.
      {1, {"20261201.log", "\xE9qqqqqqq.log"}, {"\xE9qqqqqqq.log"}},
      {4, {"20261201.log", "20261202.log"}, {"20261201.log", "20261202.log"}},
  };
  for (const auto& c : cases) {
    fs::remove_all(dir_);
    fs::create_directory(dir_);
    MakeFiles(c.files);
    TORV_Logger logger(dir_, "", Fixed(At(2026, 12, 7)));
    logger.MaxFiles = c.max_files;
    EXPECT_TRUE(logger.Purge());
    EXPECT_EQ(std::set<std::string>(c.remain.begin(), c.remain.end()), Names(dir_));
    EXPECT_EQ(0, logger.DeleteFailures);
  }
}

TEST_F(OrvLoggerTest, DirectoriesNamedLikeLogFilesAreSkipped) {
  fs::create_directories(dir_ + "/20261101.log/inner");
  MakeFiles({"20261202.log", "20261201.log"});
  TORV_Logger logger(dir_, "", Fixed(At(2026, 12, 7)));
  int32_t count = 0;
  std::string first;
  ASSERT_TRUE(logger.ScanLogFiles(count, first));
  EXPECT_EQ(2, count);
  EXPECT_EQ("20261201.log", first);
  logger.MaxFiles = 1;
  logger.KeepDays = 30;
  EXPECT_TRUE(logger.Purge());
  EXPECT_EQ((std::set<std::string>{"20261101.log", "20261202.log"}), Names(dir_));
}

TEST_F(OrvLoggerTest, NoLimitsNeverDelete) {
  const std::set<std::string> files = {"19990101.log", "20261201.log", "20261206.log"};
  MakeFiles({files.begin(), files.end()});
  for (const auto& [keep_days, max_files] : {std::pair{0, 0}, {-1, 0}, {0, -5}, {-3, -3}}) {
    TORV_Logger logger(dir_, "", Fixed(At(2026, 12, 7)));
    logger.KeepDays = keep_days;
    logger.MaxFiles = max_files;
    EXPECT_FALSE(logger.Purge()) << keep_days << " " << max_files;
  }
  // The service's own writer purges before every line with both limits off.
  ASSERT_EQ(0, WriteDailyLog(dir_, "kept", Fixed(At(2026, 12, 7))));
  EXPECT_EQ(files.size() + 1, Names(dir_).size());
}

TEST_F(OrvLoggerTest, FailedDeletionStopsPurgeAndCounts) {
  if (geteuid() == 0) GTEST_SKIP() << "permission bits do not stop root";
  MakeFiles({"20261201.log", "20261202.log", "20261203.log", "20261204.log"});
  ASSERT_EQ(0, chmod(dir_.c_str(), 0500));
  TORV_Logger logger(dir_, "", Fixed(At(2026, 12, 7)));
  logger.MaxFiles = 2;
  EXPECT_FALSE(logger.Purge());
  EXPECT_EQ(1, logger.DeleteFailures);
  EXPECT_EQ(4u, Names(dir_).size());
}

TEST_F(OrvLoggerTest, UnreadableDirectoryFailsScanAndPurge) {
  TORV_Logger logger(dir_, "", Fixed(At(2026, 12, 7)));
  fs::remove(dir_);
  int32_t count = 7;
  std::string first = "stale";
  EXPECT_FALSE(logger.ScanLogFiles(count, first));
  logger.MaxFiles = 1;
  EXPECT_FALSE(logger.Purge());
  EXPECT_EQ(0, logger.DeleteFailures);
}

// Which writes purge first: files 1101..1103 and MaxFiles 1, so a purge removes 1101.
TEST_F(OrvLoggerTest, PurgeRunsBeforeNewFileAndOptionallyBeforeAppend) {
  const struct {
    bool day_file_exists, on_new_file, on_write, want_purge;
  } cases[] = {
      {false, true, false, true}, {false, true, true, true},  {false, false, true, false},
      {true, true, true, true},   {true, true, false, false}, {true, false, true, false},
  };
  for (const auto& c : cases) {
    fs::remove_all(dir_);
    fs::create_directory(dir_);
    MakeFiles({"20261101.log", "20261102.log", "20261103.log"});
    if (c.day_file_exists) MakeFiles({"20261207.log"});
    TORV_Logger logger(dir_, "", Fixed(At(2026, 12, 7)));
    logger.MaxFiles = 1;
    logger.PurgeOnNewFile = c.on_new_file;
    logger.PurgeOnWrite = c.on_write;
    ASSERT_TRUE(logger.WriteLine("line"));
    EXPECT_EQ(!c.want_purge, fs::exists(dir_ + "/20261101.log"))
        << c.day_file_exists << c.on_new_file << c.on_write;
  }
}

TEST_F(OrvLoggerTest, VanishedDirectoryFailsUntilItComesBack) {
  const std::string sub = dir_ + "/logs";
  fs::create_directory(sub);
  TORV_Logger logger(sub, "", Fixed(At(2026, 12, 7)));
  fs::remove(sub);
  EXPECT_FALSE(logger.WriteLine("lost"));
  EXPECT_EQ(1, logger.WriteFailures);
  fs::create_directory(sub);
  EXPECT_TRUE(logger.WriteLine("back"));
  EXPECT_EQ("back\r\n", ReadFile(sub + "/20261207.log"));
  EXPECT_EQ(2, logger.WriteCount);
  EXPECT_EQ(1, logger.WriteFailures);
}

TEST_F(OrvLoggerTest, UnwritableDayFileFails) {
  fs::create_directory(dir_ + "/20261207.log");  // open() fails even for root
  TORV_Logger logger(dir_, "", Fixed(At(2026, 12, 7)));
  EXPECT_FALSE(logger.WriteLine("lost"));
  EXPECT_EQ(1, logger.WriteFailures);
  EXPECT_EQ(-1, WriteDailyLog(dir_, "lost", Fixed(At(2026, 12, 7))));
}

TEST_F(OrvLoggerTest, WriterHoldingFileOpenDoesNotBlockLogger) {
  const std::string file = dir_ + "/20261207.log";
  const int fd = open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT, 0640);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(9, write(fd, "outside\r\n", 9));
  TORV_Logger logger(dir_, "", Fixed(At(2026, 12, 7)));
  EXPECT_TRUE(logger.WriteLine("inside"));
  ASSERT_EQ(6, write(fd, "more\r\n", 6));
  close(fd);
  EXPECT_EQ("outside\r\ninside\r\nmore\r\n", ReadFile(file));
}

// Every line of two concurrent writers arrives exactly once and whole.
void ExpectEveryLineOnce(const std::string& text, int threads, int lines, const char* prefix) {
  std::multiset<std::string> got;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
    got.insert(text.substr(start, end - start));
  EXPECT_EQ(text.size(), start) << "text after the last line break";
  std::multiset<std::string> want;
  for (int t = 0; t < threads; ++t)
    for (int i = 0; i < lines; ++i)
      want.insert(prefix + std::to_string(t) + " line " + std::to_string(i));
  EXPECT_TRUE(got == want) << got.size() << " lines of " << want.size();
}

TEST_F(OrvLoggerTest, ConcurrentServiceWritersLoseNoLine) {
  constexpr int kThreads = 2, kLines = 2000;
  std::vector<std::thread> writers;
  std::vector<int> failures(kThreads, 0);
  for (int t = 0; t < kThreads; ++t)
    writers.emplace_back([this, t, &failures] {
      for (int i = 0; i < kLines; ++i) {
        const std::string message = "thread " + std::to_string(t) + " line " + std::to_string(i);
        if (WriteDailyLog(dir_, message, Fixed(At(2026, 12, 7))) != 0) ++failures[t];
      }
    });
  for (auto& writer : writers) writer.join();
  EXPECT_EQ(std::vector<int>(kThreads, 0), failures);
  ExpectEveryLineOnce(ReadFile(dir_ + "/20261207.log"), kThreads, kLines, "12:00:00:000: thread ");
}

TEST_F(OrvLoggerTest, SharedLoggerWithLockCountsEveryLine) {
  constexpr int kThreads = 2, kLines = 1000;
  TORV_Logger logger(dir_, "", Fixed(At(2026, 12, 7)));
  logger.UseLock = true;
  std::vector<std::thread> writers;
  for (int t = 0; t < kThreads; ++t)
    writers.emplace_back([&logger, t] {
      for (int i = 0; i < kLines; ++i)
        (void)logger.WriteLine("t" + std::to_string(t) + " line " + std::to_string(i));
    });
  for (auto& writer : writers) writer.join();
  EXPECT_EQ(kThreads * kLines, logger.WriteCount);
  EXPECT_EQ(0, logger.WriteFailures);
  ExpectEveryLineOnce(ReadFile(dir_ + "/20261207.log"), kThreads, kLines, "t");
}

TEST_F(OrvLoggerTest, ServiceLineEscapesControlCharacters) {
  const struct {
    const char* message;
    const char* want;
  } cases[] = {
      {"Stopping Pelorin", "Stopping Pelorin"},
      {"User (a\r\nb/x) check failed.", "User (a\\x0D\\x0Ab/x) check failed."},
      {"tab\tand \x1B[2J del\x7F", "tab\tand \\x1B[2J del\\x7F"},
      {"M\xFCller", "M\xFCller"},  // 8-bit text passes unchanged
  };
  for (const auto& c : cases) {
    fs::remove(dir_ + "/20261207.log");
    ASSERT_EQ(0, WriteDailyLog(dir_, c.message, Fixed(At(2026, 12, 7, 8, 1, 2, 30))));
    EXPECT_EQ(std::string("08:01:02:030: ") + c.want + "\r\n", ReadFile(dir_ + "/20261207.log"));
  }
  const std::string with_nul("a\0b", 3);
  fs::remove(dir_ + "/20261207.log");
  ASSERT_EQ(0, WriteDailyLog(dir_, with_nul, Fixed(At(2026, 12, 7))));
  EXPECT_EQ("12:00:00:000: a\\x00b\r\n", ReadFile(dir_ + "/20261207.log"));
}

}  // namespace
}  // namespace pelorin
