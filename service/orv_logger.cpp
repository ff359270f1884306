#include "service/orv_logger.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <ctime>
#include <exception>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

namespace pelorin {
namespace {

using Clock = std::chrono::system_clock;

constexpr char kDefaultExt[] = ".log";
constexpr std::size_t kDateLength = 8;  // YYYYMMDD
constexpr mode_t kLogFileMode = 0640;

// A counter that runs for the life of a long-lived logger must not overflow.
void Count(int32_t& counter) {
  if (counter < INT32_MAX) ++counter;
}

bool IsDirectory(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string CurrentDirectory() {
  std::vector<char> buffer(PATH_MAX + 1);
  if (::getcwd(buffer.data(), buffer.size()) != nullptr) return buffer.data();
  return ".";  // the working directory was removed: relative names still reach it
}

// Local time with milliseconds; floor keeps the parts right before 1970 too.
bool LocalTime(Clock::time_point when, std::tm& local, int& millis) {
  const auto seconds = std::chrono::floor<std::chrono::seconds>(when);
  millis = static_cast<int>(
      std::chrono::duration_cast<std::chrono::milliseconds>(when - seconds).count());
  const std::time_t t = Clock::to_time_t(seconds);
  return ::localtime_r(&t, &local) != nullptr;
}

std::string FormatDate(const std::tm& local) {
  char text[48];
  std::snprintf(text, sizeof text, "%04d%02d%02d", local.tm_year + 1900, local.tm_mon + 1,
                local.tm_mday);
  return text;
}

// "hh:nn:ss:zzz"; the separator is always ":" so that lines read alike on every host.
std::string TimeStamp(Clock::time_point when) {
  std::tm local;
  int millis = 0;
  if (!LocalTime(when, local, millis)) return "??:??:??:???";
  char text[48];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d:%03d", local.tm_hour, local.tm_min, local.tm_sec,
                millis);
  return text;
}

// "YYYYMMDD" + ext of the calendar day keep_days before now, or empty when that
// day cannot be represented (then no file counts as too old).
std::string CutoffName(Clock::time_point now, int32_t keep_days, const std::string& ext) {
  std::tm local;
  int millis = 0;
  if (!LocalTime(now, local, millis)) return {};
  // Calendar days, not 24-hour steps: noon keeps a DST change from shifting the day.
  local.tm_mday -= keep_days;
  local.tm_hour = 12;
  local.tm_min = 0;
  local.tm_sec = 0;
  local.tm_isdst = -1;
  if (std::mktime(&local) == static_cast<std::time_t>(-1)) return {};
  return FormatDate(local) + ext;
}

// One write() on an O_APPEND descriptor: the kernel places the whole line at the
// end of the file in one step, whoever else appends at the same moment.
bool AppendWhole(const std::string& path, const std::string& data) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, kLogFileMode);
  if (fd < 0) return false;
  ssize_t written;
  do {
    written = ::write(fd, data.data(), data.size());
  } while (written < 0 && errno == EINTR);
  bool ok = written >= 0 && static_cast<std::size_t>(written) == data.size();
  // close() is where some file systems report a write they could not complete.
  if (::close(fd) != 0 && errno != EINTR) ok = false;
  return ok;
}

bool IsLogFileName(const char* name, const std::string& ext) {
  const std::string_view view(name);
  return view.size() == kDateLength + ext.size() && view.substr(kDateLength) == ext;
}

// Regular files only: a directory (or anything else) named like a day file is
// never counted nor deleted.
bool IsRegularFile(DIR* dir, const dirent& entry) {
  if (entry.d_type != DT_UNKNOWN) return entry.d_type == DT_REG;
  struct stat st;
  return ::fstatat(::dirfd(dir), entry.d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
         S_ISREG(st.st_mode);
}

struct DirCloser {
  void operator()(DIR* dir) const noexcept { ::closedir(dir); }
};

std::string EscapeControlCharacters(const std::string& message) {
  std::string escaped;
  escaped.reserve(message.size());
  for (const char c : message) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte < 0x20 && byte != '\t') || byte == 0x7f) {
      char text[8];
      std::snprintf(text, sizeof text, "\\x%02X", byte);
      escaped += text;
    } else {
      escaped += c;
    }
  }
  return escaped;
}

}  // namespace

Clock::time_point SystemLogClock() { return Clock::now(); }

TORV_Logger::TORV_Logger(const std::string& dir, const std::string& ext, TLogClock clock)
    : LogDir(!dir.empty() && IsDirectory(dir) ? dir : CurrentDirectory()),
      LogExt(ext.empty() ? kDefaultExt : ext),
      clock_(clock ? std::move(clock) : TLogClock(SystemLogClock)) {
  if (LogDir.back() != '/') LogDir += '/';
  if (LogExt.front() != '.') LogExt.insert(0, 1, '.');
}

bool TORV_Logger::WriteLine(const std::string& message) {
  try {
    std::unique_lock<std::mutex> guard(lock_, std::defer_lock);
    if (UseLock) guard.lock();
    return WriteLineUnlocked(message);
  } catch (const std::exception&) {
    // Only the lock can get here; the line is lost and counted like any other.
    Count(WriteFailures);
    return false;
  }
}

bool TORV_Logger::WriteLineUnlocked(const std::string& message) {
  Count(WriteCount);
  try {
    // The stamp is read before the file name: a line stamped 23:59:59:999 may go
    // to the next day's file.
    std::string line = AddTimeStamp ? TimeStamp(clock_()) + ": " : std::string();
    line += message;
    if (AddLineBreak) line += "\r\n";

    LogFileName = DayFileName(clock_());
    if (!LogFileName.empty()) {
      struct stat st;
      const bool exists = ::stat(LogFileName.c_str(), &st) == 0;
      if (exists ? PurgeOnNewFile && PurgeOnWrite : PurgeOnNewFile) Purge();
      if (AppendWhole(LogFileName, line)) return true;
    }
  } catch (const std::exception&) {
    // Out of memory or a failing clock: the line is dropped, the caller goes on.
  }
  Count(WriteFailures);
  return false;
}

std::string TORV_Logger::DayFileName(Clock::time_point when) const {
  std::tm local;
  int millis = 0;
  if (!LocalTime(when, local, millis)) return {};
  return LogDir + FormatDate(local) + LogExt;
}

bool TORV_Logger::ScanLogFiles(int32_t& count, std::string& firstName) {
  count = 0;
  firstName.clear();
  std::unique_ptr<DIR, DirCloser> dir(::opendir(LogDir.c_str()));
  if (!dir) return false;
  for (;;) {
    errno = 0;
    const dirent* entry = ::readdir(dir.get());
    if (entry == nullptr) return errno == 0;
    if (!IsLogFileName(entry->d_name, LogExt) || !IsRegularFile(dir.get(), *entry)) continue;
    // std::string compares as unsigned bytes, so this is the byte-wise order.
    if (count == 0 || entry->d_name < firstName) firstName = entry->d_name;
    Count(count);
  }
}

bool TORV_Logger::Purge() {
  if (KeepDays <= 0 && MaxFiles <= 0) return false;
  const std::string cutoff = KeepDays > 0 ? CutoffName(clock_(), KeepDays, LogExt) : "";
  for (;;) {
    int32_t count = 0;
    std::string first_name;
    if (!ScanLogFiles(count, first_name)) return false;
    const bool too_old = count > 0 && first_name < cutoff;
    const bool too_many = MaxFiles > 0 && count > MaxFiles;
    if (!too_old && !too_many) return true;
    // A file already gone was deleted by a concurrent purge: scan again.
    if (::unlink((LogDir + first_name).c_str()) != 0 && errno != ENOENT) {
      Count(DeleteFailures);
      return false;
    }
  }
}

int WriteDailyLog(const std::string& app_dir, const std::string& message, const TLogClock& clock) {
  try {
    TORV_Logger logger(app_dir + "/", "", clock);
    logger.AddTimeStamp = true;
    logger.AddLineBreak = true;
    logger.PurgeOnNewFile = true;
    logger.PurgeOnWrite = true;
    logger.KeepDays = 0;  // with MaxFiles 0: the service never deletes a log file
    logger.MaxFiles = 0;
    return logger.WriteLine(EscapeControlCharacters(message)) ? 0 : -1;
  } catch (const std::exception&) {
    return -1;
  }
}

}  // namespace pelorin
