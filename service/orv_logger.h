// TORV_Logger: appends lines to one log file per calendar day (YYYYMMDD plus an
// extension) and deletes old day files by age or count. Callable from any thread;
// one logger may be shared between threads only with UseLock set.
#ifndef PELORIN_SERVICE_ORV_LOGGER_H_
#define PELORIN_SERVICE_ORV_LOGGER_H_

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

namespace pelorin {

// Where the logger reads the time. Tests pass their own readings, so that a line
// "just before midnight" needs no waiting; local time follows TZ.
using TLogClock = std::function<std::chrono::system_clock::time_point()>;

std::chrono::system_clock::time_point SystemLogClock();

class TORV_Logger {
 public:
  // An empty dir, or one that is not an existing directory, means the current
  // directory. An empty ext means ".log"; a "." is put in front when missing.
  TORV_Logger(const std::string& dir, const std::string& ext, TLogClock clock = SystemLogClock);
  TORV_Logger(const TORV_Logger&) = delete;
  TORV_Logger& operator=(const TORV_Logger&) = delete;

  // Appends prefix + message + suffix to the day's file with one write(), so lines
  // of concurrent writers (in this process or others) never mix or get lost.
  // False, counted in WriteFailures, when the line was not written whole. Never
  // throws.
  [[nodiscard]] bool WriteLine(const std::string& message);

  // Deletes the oldest log files while one is older than KeepDays or there are
  // more than MaxFiles. False when there is nothing to do (both limits off), the
  // directory cannot be read, or a deletion fails (counted in DeleteFailures).
  bool Purge();

  // Counts the regular files of LogDir named by eight characters and LogExt and
  // finds the byte-wise smallest name (the oldest day). False when LogDir cannot
  // be read.
  [[nodiscard]] bool ScanLogFiles(int32_t& count, std::string& firstName);

  std::string LogDir;       // always ends with "/"
  std::string LogExt;       // always begins with "."
  std::string LogFileName;  // the file the latest line went to
  bool AddLineBreak = true;
  bool AddTimeStamp = false;
  bool PurgeOnNewFile = false;
  bool PurgeOnWrite = false;  // with PurgeOnNewFile: purge before appending too
  int32_t KeepDays = 0;       // 0 or less: no age limit
  int32_t MaxFiles = 0;       // 0 or less: no count limit
  bool UseLock = false;
  int32_t WriteCount = 0;
  int32_t WriteFailures = 0;
  int32_t DeleteFailures = 0;

 private:
  bool WriteLineUnlocked(const std::string& message);
  std::string DayFileName(std::chrono::system_clock::time_point when) const;

  std::mutex lock_;
  TLogClock clock_;
};

// One line in app_dir/YYYYMMDD.log, time-stamped, through a logger that lives
// for this call only and never deletes files. Control characters in the message
// are written as "\xHH", so text from the network cannot forge or break lines.
// 0 when written, -1 when not; never throws.
int WriteDailyLog(const std::string& app_dir, const std::string& message,
                  const TLogClock& clock = SystemLogClock);

}  // namespace pelorin

#endif  // PELORIN_SERVICE_ORV_LOGGER_H_
