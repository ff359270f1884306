// The process entry's command line: the four control commands, the install
// switches and the choice of the process's role. Runs once on the main thread,
// before the service module exists; the service manager and the message boxes are
// parameters so that the choice can be exercised without either.
#ifndef PELORIN_SERVICE_COMMAND_LINE_H_
#define PELORIN_SERVICE_COMMAND_LINE_H_

#include <string>
#include <utility>
#include <vector>

#include "service/message_box.h"
#include "service/service_manager.h"

namespace pelorin {

inline constexpr char kStartingMessage[] = "Starting service.";
inline constexpr char kStoppingMessage[] = "Stopping service.";
inline constexpr char kPausedMessage[] = "Service paused.";
inline constexpr char kResumedMessage[] = "Service resumed.";
inline constexpr char kInstalledMessage[] = "Service installed successfully";
inline constexpr char kUninstalledMessage[] = "Service uninstalled successfully";

// What the entry does once the command line is dealt with.
enum class TEntryAction { Exit, RunServiceProcess };

struct TEntryOutcome {
  TEntryAction Action;
  int ExitCode;  // for Exit
};

class TCommandLine {
 public:
  // `executable` is the full path that an installed entry starts.
  TCommandLine(TServiceManagerOpener opener, TMessageBox& boxes, std::string executable)
      : opener_(std::move(opener)), boxes_(boxes), executable_(std::move(executable)) {}

  // `args` without the program itself. A control command ends with exit code 0
  // whatever the service manager answered; an install or uninstall with 0 on
  // success and 1 on failure; anything else leaves the process to be the service.
  TEntryOutcome Run(const std::vector<std::string>& args);

  std::string CommandSwitch;    // the command argument, upper-cased
  bool CommandHandled = false;  // one of the four control commands was carried out
  bool Silent = false;          // "/SILENT" is one of two arguments

 private:
  void RunControlCommand(const std::vector<std::string>& args);
  void Show(const char* message);
  TEntryOutcome Install(bool silent);
  TEntryOutcome Uninstall(bool silent);
  TEntryOutcome Failed(const char* action, const std::string& reason);

  TServiceManagerOpener opener_;
  TMessageBox& boxes_;
  std::string executable_;
};

// Upper case of the ASCII letters; other bytes stay as they are.
std::string UpperCase(std::string text);

// True for "-word" or "/word" in any position, the word in any case.
bool HasInstallSwitch(const std::vector<std::string>& args, const std::string& word);

// "/HELP", "-HELP", "--help" or "-h" (any case) as the only argument.
bool IsHelpRequest(const std::vector<std::string>& args);

// `Service "<display name>" failed to <action> with error: "<reason>"`.
std::string InstallFailureMessage(const std::string& action, const std::string& reason);

std::string UsageText();

}  // namespace pelorin

#endif  // PELORIN_SERVICE_COMMAND_LINE_H_
