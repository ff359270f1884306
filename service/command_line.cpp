#include "service/command_line.h"

#include <exception>
#include <memory>

#include "service/event_log.h"
#include "service/servicectl.h"

namespace pelorin {
namespace {

constexpr char kSilentCommand[] = "/SILENT";
constexpr int kInstallFailedExitCode = 1;

}  // namespace

std::string UpperCase(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

bool HasInstallSwitch(const std::vector<std::string>& args, const std::string& word) {
  const std::string wanted = UpperCase(word);
  for (const std::string& arg : args) {
    if (arg.size() == wanted.size() + 1 && (arg[0] == '-' || arg[0] == '/') && UpperCase(arg.substr(1)) == wanted) {
      return true;
    }
  }
  return false;
}

bool IsHelpRequest(const std::vector<std::string>& args) {
  if (args.size() != 1) return false;
  const std::string arg = UpperCase(args[0]);
  return arg == "/HELP" || arg == "-HELP" || arg == "--HELP" || arg == "-H";
}

std::string InstallFailureMessage(const std::string& action, const std::string& reason) {
  return std::string("Service \"") + kServiceDisplayName + "\" failed to " + action + " with error: \"" + reason +
         "\"";
}

std::string UsageText() {
  return "Usage: pelorind [/START | /STOP | /PAUSE | /RESUME] [/SILENT]\n"
         "       pelorind /INSTALL | /UNINSTALL [/SILENT]\n"
         "       pelorind /HELP\n"
         "\n"
         "Without arguments the program is the service process and serves in the foreground.\n"
         "/START, /STOP, /PAUSE and /RESUME ask the service manager to start, stop, pause or\n"
         "resume the service; /SILENT before or after the command suppresses the message.\n"
         "/INSTALL and /UNINSTALL (also with \"-\", in any case) add the service to systemd or\n"
         "remove it; SILENT suppresses the success message. Where systemd does not run, a\n"
         "pid file in the program's directory stands in for it, and PELORIN_SERVICE_MANAGER\n"
         "(\"local\" or \"systemd\") overrides the choice.";
}

TEntryOutcome TCommandLine::Run(const std::vector<std::string>& args) {
  if (IsHelpRequest(args)) {
    boxes_.Information(UsageText());
    return {TEntryAction::Exit, 0};
  }
  CommandHandled = false;
  Silent = false;
  // Three or more arguments are never a control command.
  if (args.size() == 1 || args.size() == 2) RunControlCommand(args);
  if (CommandHandled) return {TEntryAction::Exit, 0};

  const bool silent = HasInstallSwitch(args, "SILENT");
  if (HasInstallSwitch(args, "INSTALL")) return Install(silent);
  if (HasInstallSwitch(args, "UNINSTALL")) return Uninstall(silent);
  return {TEntryAction::RunServiceProcess, 0};
}

// The requests' results are not looked at: the message tells what was asked for,
// and the service manager is opened whatever the argument, as the entry always did.
void TCommandLine::RunControlCommand(const std::vector<std::string>& args) {
  try {
    CommandSwitch = UpperCase(args[0]);
    if (args.size() == 2) {
      if (UpperCase(args[0]) == kSilentCommand) {
        CommandSwitch = UpperCase(args[1]);
        Silent = true;
      }
      if (UpperCase(args[1]) == kSilentCommand) Silent = true;
    }
    TSvcHandle handle = SvcOpen(opener_, "", "", kServiceName, SERVICE_ALL_ACCESS);
    if (CommandSwitch == "/START") {
      (void)SvcStart(handle, {});
      Show(kStartingMessage);
      CommandHandled = true;
    } else if (CommandSwitch == "/STOP") {
      (void)SvcStop(handle);
      Show(kStoppingMessage);
      CommandHandled = true;
    } else if (CommandSwitch == "/PAUSE") {
      (void)SvcPause(handle);
      Show(kPausedMessage);
      CommandHandled = true;
    } else if (CommandSwitch == "/RESUME") {
      (void)SvcContinue(handle);
      Show(kResumedMessage);
      CommandHandled = true;
    }
    SvcClose(handle);
  } catch (...) {
    // Swallowed: the entry goes on with the install switches or the service.
  }
}

void TCommandLine::Show(const char* message) {
  if (!Silent) boxes_.Information(message);
}

TEntryOutcome TCommandLine::Install(bool silent) {
  std::string reason;
  try {
    // The service borrows the manager, so it is declared after it and goes first.
    std::unique_ptr<TServiceManager> manager = opener_("", "", SC_MANAGER_ALL_ACCESS, reason);
    std::unique_ptr<TService> service;
    if (manager) service = manager->CreateService({kServiceName, kServiceDisplayName, executable_}, reason);
    if (!service) return Failed("install", reason);
  } catch (const std::exception& e) {
    return Failed("install", e.what());
  }
  if (!silent) boxes_.Information(kInstalledMessage);
  return {TEntryAction::Exit, 0};
}

TEntryOutcome TCommandLine::Uninstall(bool silent) {
  std::string reason;
  try {
    std::unique_ptr<TServiceManager> manager = opener_("", "", SC_MANAGER_ALL_ACCESS, reason);
    std::unique_ptr<TService> service;
    if (manager) service = manager->OpenService(kServiceName, SERVICE_ALL_ACCESS, reason);
    if (!service) return Failed("uninstall", reason);
    if (TSvcResult deleted = service->Delete(); !deleted) return Failed("uninstall", deleted.Reason());
  } catch (const std::exception& e) {
    return Failed("uninstall", e.what());
  }
  if (!silent) boxes_.Information(kUninstalledMessage);
  return {TEntryAction::Exit, 0};
}

// Shown even with SILENT, and the exit code says so too: a script that installs
// must not go on as if the entry were there.
TEntryOutcome TCommandLine::Failed(const char* action, const std::string& reason) {
  boxes_.Error(InstallFailureMessage(action, reason.empty() ? "Unknown error" : reason));
  return {TEntryAction::Exit, kInstallFailedExitCode};
}

}  // namespace pelorin
