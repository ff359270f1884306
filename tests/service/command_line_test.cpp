#include "service/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/service/fake_service_manager.h"

namespace pelorin {
namespace {

using Args = std::vector<std::string>;
using testing::TFakeScript;
using testing::TRecordingMessageBox;

constexpr char kExecutable[] = "/opt/pelorin/pelorind";
const std::vector<std::string> kOpenJournal = {"open-manager '' '' 0xF003F", "open-service PelorinService 0xF01FF"};

struct TRun {
  TFakeScript script;
  TRecordingMessageBox boxes;
  TEntryOutcome outcome{TEntryAction::Exit, -1};
  std::string command_switch;
  bool handled = false;
  bool silent = false;
};

void RunLine(TRun& run, const Args& args) {
  TCommandLine line(testing::FakeOpener(run.script), run.boxes, kExecutable);
  run.outcome = line.Run(args);
  run.command_switch = line.CommandSwitch;
  run.handled = line.CommandHandled;
  run.silent = line.Silent;
}

std::string Show(const Args& args) {
  std::string text;
  for (const auto& arg : args) text += "[" + arg + "]";
  return text;
}

// The journal of one control request on an opened manager and service.
std::vector<std::string> Controlled(const std::string& request) {
  return {kOpenJournal[0], kOpenJournal[1], request, "close-service", "close-manager"};
}

TEST(CommandLineTest, ControlCommandsAreWholeUpperCasedSlashWords) {
  const struct {
    Args args;
    const char* request;
    const char* message;  // nullptr: silent
  } cases[] = {
      {{"/START"}, "start args=0", kStartingMessage},
      {{"/start"}, "start args=0", kStartingMessage},
      {{"/Start"}, "start args=0", kStartingMessage},
      {{"/STOP"}, "control 1", kStoppingMessage},
      {{"/sToP"}, "control 1", kStoppingMessage},
      {{"/PAUSE"}, "control 2", kPausedMessage},
      {{"/RESUME"}, "control 3", kResumedMessage},
      {{"/resume"}, "control 3", kResumedMessage},
      {{"/SILENT", "/STOP"}, "control 1", nullptr},
      {{"/STOP", "/SILENT"}, "control 1", nullptr},
      {{"/silent", "/pause"}, "control 2", nullptr},
      {{"/Resume", "/Silent"}, "control 3", nullptr},
      {{"/START", "x"}, "start args=0", kStartingMessage},   // neither is /SILENT
      {{"/STOP", "-SILENT"}, "control 1", kStoppingMessage},  // only the "/" form silences
  };
  for (const auto& c : cases) {
    TRun run;
    RunLine(run, c.args);
    EXPECT_EQ(TEntryAction::Exit, run.outcome.Action) << Show(c.args);
    EXPECT_EQ(0, run.outcome.ExitCode) << Show(c.args);
    EXPECT_TRUE(run.handled) << Show(c.args);
    EXPECT_EQ(Controlled(c.request), run.script.journal) << Show(c.args);
    EXPECT_EQ(c.message ? std::vector<std::string>{c.message} : std::vector<std::string>{}, run.boxes.information)
        << Show(c.args);
    EXPECT_TRUE(run.boxes.errors.empty()) << Show(c.args);
  }
}

TEST(CommandLineTest, CommandSwitchAndSilentFlag) {
  const struct {
    Args args;
    const char* command_switch;
    bool silent;
  } cases[] = {
      {{"/stop"}, "/STOP", false},
      {{"/silent", "/stop"}, "/STOP", true},
      {{"/stop", "/silent"}, "/STOP", true},
      {{"/SILENT"}, "/SILENT", false},  // alone it is no second argument
      {{"/SILENT", "/SILENT"}, "/SILENT", true},
      {{"x", "/start"}, "X", false},  // the command comes first unless /SILENT does
      {{"-start"}, "-START", false},
  };
  for (const auto& c : cases) {
    TRun run;
    RunLine(run, c.args);
    EXPECT_EQ(c.command_switch, run.command_switch) << Show(c.args);
    EXPECT_EQ(c.silent, run.silent) << Show(c.args);
  }
}

// None of these is a control command: the manager is still opened and closed for
// one or two arguments, and the process goes on to be the service.
TEST(CommandLineTest, OtherArgumentsRunTheServiceProcess) {
  const Args cases[] = {
      {"-START"},   {"START"},  {"\\START"},          {"/STARTX"},           {"/START "},
      {"/ START"},  {"/SILENT"}, {"/SILENT", "/SILENT"}, {"x", "/START"}, {"/CONTINUE"},
      {"/STOP\n"}, {""},
  };
  for (const auto& args : cases) {
    TRun run;
    RunLine(run, args);
    EXPECT_EQ(TEntryAction::RunServiceProcess, run.outcome.Action) << Show(args);
    EXPECT_FALSE(run.handled) << Show(args);
    const std::vector<std::string> opened_and_closed = {kOpenJournal[0], kOpenJournal[1], "close-service",
                                                        "close-manager"};
    EXPECT_EQ(opened_and_closed, run.script.journal) << Show(args);
    EXPECT_TRUE(run.boxes.information.empty()) << Show(args);
    EXPECT_TRUE(run.boxes.errors.empty()) << Show(args);
  }
}

TEST(CommandLineTest, NoArgumentsOrThreeSkipTheController) {
  const Args cases[] = {
      {},
      {"/START", "/SILENT", "x"},
      {"/STOP", "/STOP", "/STOP"},
      {"/SILENT", "/SILENT", "/SILENT", "/SILENT"},
  };
  for (const auto& args : cases) {
    TRun run;
    RunLine(run, args);
    EXPECT_EQ(TEntryAction::RunServiceProcess, run.outcome.Action) << Show(args);
    EXPECT_TRUE(run.script.journal.empty()) << Show(args);
    EXPECT_TRUE(run.boxes.information.empty()) << Show(args);
  }
}

// The results are not looked at: the message is shown and the program ends with 0
// when the manager, the service or the request fails, and when the manager throws.
TEST(CommandLineTest, FailingControlRequestsStillShowTheMessage) {
  const struct {
    const char* name;
    void (*setup)(TFakeScript&);
    std::vector<std::string> journal;
  } cases[] = {
      {"refused", [](TFakeScript& s) { s.requests_succeed = false; }, Controlled("control 1")},
      {"throws", [](TFakeScript& s) { s.requests_throw = true; }, Controlled("control 1")},
      {"not installed", [](TFakeScript& s) { s.service_opens = false; },
       {kOpenJournal[0], kOpenJournal[1], "close-manager"}},
      {"no manager", [](TFakeScript& s) { s.manager_opens = false; }, {kOpenJournal[0]}},
      {"opener throws", [](TFakeScript& s) { s.opener_throws = true; }, {kOpenJournal[0]}},
  };
  for (const auto& c : cases) {
    TRun run;
    c.setup(run.script);
    RunLine(run, {"/STOP"});
    EXPECT_EQ(TEntryAction::Exit, run.outcome.Action) << c.name;
    EXPECT_EQ(0, run.outcome.ExitCode) << c.name;
    EXPECT_EQ(std::vector<std::string>{kStoppingMessage}, run.boxes.information) << c.name;
    EXPECT_TRUE(run.boxes.errors.empty()) << c.name;
    EXPECT_EQ(c.journal, run.script.journal) << c.name;
  }
}

TEST(CommandLineTest, InstallSwitchesInAnyCaseAndPosition) {
  const std::string created = std::string("create PelorinService|") + kServiceDisplayName + "|" + kExecutable;
  const struct {
    Args args;
    bool message;
  } cases[] = {
      {{"/INSTALL"}, true},
      {{"-install"}, true},
      {{"/Install"}, true},
      {{"/INSTALL", "/SILENT"}, false},
      {{"/SILENT", "/INSTALL"}, false},
      {{"-silent", "-INSTALL"}, false},
      {{"x", "y", "/INSTALL"}, true},           // three arguments: still an install
      {{"/INSTALL", "z", "-Silent"}, false},
      {{"/INSTALL", "/UNINSTALL"}, true},       // INSTALL wins
  };
  for (const auto& c : cases) {
    TRun run;
    RunLine(run, c.args);
    EXPECT_EQ(TEntryAction::Exit, run.outcome.Action) << Show(c.args);
    EXPECT_EQ(0, run.outcome.ExitCode) << Show(c.args);
    ASSERT_GE(run.script.journal.size(), 2u) << Show(c.args);
    EXPECT_EQ(created, run.script.journal[run.script.journal.size() - 3]) << Show(c.args);
    EXPECT_EQ(c.message ? std::vector<std::string>{kInstalledMessage} : std::vector<std::string>{},
              run.boxes.information)
        << Show(c.args);
  }
}

TEST(CommandLineTest, NearMissesOfInstallAreNotSwitches) {
  const Args cases[] = {{"INSTALL"}, {"/INSTALLX"}, {"--INSTALL"}, {"/ INSTALL"}, {"+INSTALL"}, {"/INSTAL"}};
  for (const auto& args : cases) {
    TRun run;
    RunLine(run, args);
    EXPECT_EQ(TEntryAction::RunServiceProcess, run.outcome.Action) << Show(args);
    for (const auto& entry : run.script.journal) EXPECT_EQ(std::string::npos, entry.find("create")) << Show(args);
  }
}

TEST(CommandLineTest, InstallFailureIsShownEvenWhenSilent) {
  const std::string want = std::string("Service \"Pelorin  - Web Based Address Books\" failed to install with error: ") +
                           "\"Access is denied.\"";
  const Args cases[] = {{"/INSTALL"}, {"/INSTALL", "/SILENT"}, {"/SILENT", "/INSTALL"}, {"-SILENT", "-INSTALL", "x"}};
  for (const auto& args : cases) {
    TRun run;
    run.script.create_succeeds = false;
    RunLine(run, args);
    EXPECT_EQ(TEntryAction::Exit, run.outcome.Action) << Show(args);
    EXPECT_EQ(1, run.outcome.ExitCode) << Show(args);
    EXPECT_EQ(std::vector<std::string>{want}, run.boxes.errors) << Show(args);
    EXPECT_TRUE(run.boxes.information.empty()) << Show(args);
  }
}

TEST(CommandLineTest, InstallWithoutManagerNamesTheReason) {
  TRun run;
  run.script.manager_opens = false;
  RunLine(run, {"/INSTALL", "/SILENT"});
  EXPECT_EQ(1, run.outcome.ExitCode);
  EXPECT_EQ(std::vector<std::string>{std::string("Service \"") + kServiceDisplayName +
                                     "\" failed to install with error: \"Cannot reach systemd on the system bus: "
                                     "Permission denied\""},
            run.boxes.errors);
}

TEST(CommandLineTest, Uninstall) {
  const std::string failed = std::string("Service \"") + kServiceDisplayName + "\" failed to uninstall with error: ";
  const struct {
    const char* name;
    Args args;
    void (*setup)(TFakeScript&);
    int exit_code;
    std::vector<std::string> information;
    std::vector<std::string> errors;
  } cases[] = {
      {"done", {"/UNINSTALL"}, [](TFakeScript&) {}, 0, {kUninstalledMessage}, {}},
      {"silent", {"-uninstall", "/silent"}, [](TFakeScript&) {}, 0, {}, {}},
      {"not installed", {"/UNINSTALL", "/SILENT"}, [](TFakeScript& s) { s.service_opens = false; }, 1, {},
       {failed + "\"The specified service does not exist as an installed service.\""}},
      {"delete refused", {"/UNINSTALL"}, [](TFakeScript& s) { s.delete_succeeds = false; }, 1, {},
       {failed + "\"Access is denied.\""}},
  };
  for (const auto& c : cases) {
    TRun run;
    c.setup(run.script);
    RunLine(run, c.args);
    EXPECT_EQ(TEntryAction::Exit, run.outcome.Action) << c.name;
    EXPECT_EQ(c.exit_code, run.outcome.ExitCode) << c.name;
    EXPECT_EQ(c.information, run.boxes.information) << c.name;
    EXPECT_EQ(c.errors, run.boxes.errors) << c.name;
  }
}

TEST(CommandLineTest, UninstallDeletesTheOpenedService) {
  TRun run;
  RunLine(run, {"/UNINSTALL"});
  const std::vector<std::string> want = {kOpenJournal[0], kOpenJournal[1], "close-service", "close-manager",
                                         kOpenJournal[0], kOpenJournal[1], "delete",        "close-service",
                                         "close-manager"};
  EXPECT_EQ(want, run.script.journal);
}

TEST(CommandLineTest, HelpPrintsUsageAndTouchesNothing) {
  const Args help[] = {{"/HELP"}, {"/help"}, {"-HELP"}, {"--help"}, {"-h"}, {"-H"}};
  for (const auto& args : help) {
    TRun run;
    RunLine(run, args);
    EXPECT_EQ(TEntryAction::Exit, run.outcome.Action) << Show(args);
    EXPECT_EQ(0, run.outcome.ExitCode) << Show(args);
    EXPECT_EQ(std::vector<std::string>{UsageText()}, run.boxes.information) << Show(args);
    EXPECT_TRUE(run.script.journal.empty()) << Show(args);
  }
  const Args not_help[] = {{"/H"}, {"--h"}, {"--help", "x"}, {"help"}};
  for (const auto& args : not_help) EXPECT_FALSE(IsHelpRequest(args)) << Show(args);
}

TEST(CommandLineTest, UpperCaseTouchesOnlyAsciiLetters) {
  EXPECT_EQ("/START", UpperCase("/start"));
  EXPECT_EQ("/STA\xE9RT", UpperCase("/sta\xE9rt"));  // a Latin-1 letter is not a command letter
  EXPECT_EQ("[`{@", UpperCase("[`{@"));
}

}  // namespace
}  // namespace pelorin
