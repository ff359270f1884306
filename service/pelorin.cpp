// Process entry of pelorind: a controller of the installed service, its
// installer, or (with no switch) the service process itself.
#include <malloc.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "service/command_line.h"
#include "service/event_log.h"
#include "service/message_box.h"
#include "service/pid_file.h"
#include "service/service_host.h"
#include "service/service_manager.h"
#include "xml/xml_library.h"

int main(int argc, char** argv) {
  // Requests are answered one at a time under the store lock, so an arena per
  // handler thread buys no speed, and each would keep the largest page it
  // built. One arena, unless the administrator chose otherwise.
  if (std::getenv("MALLOC_ARENA_MAX") == nullptr) ::mallopt(M_ARENA_MAX, 1);
  // The answers of a large book (exports of megabytes, held until they are
  // sent, several at once) are mapped on their own and go back to the system
  // when freed; left to the allocator's moving threshold they would be taken
  // from the heap and keep it at its highest.
  if (std::getenv("MALLOC_MMAP_THRESHOLD_") == nullptr) ::mallopt(M_MMAP_THRESHOLD, 1 << 20);
  pelorin::InitXmlLibrary();
  pelorin::TConsoleMessageBox boxes;
  pelorin::TCommandLine command_line(pelorin::OpenServiceManager, boxes, pelorin::ExecutablePath());
  const pelorin::TEntryOutcome outcome =
      command_line.Run(std::vector<std::string>(argv + 1, argv + argc));
  if (outcome.Action == pelorin::TEntryAction::Exit) return outcome.ExitCode;
  const std::optional<std::string> app_dir = pelorin::ExecutableDirectory();
  if (!app_dir) {
    pelorin::WriteEventLog(pelorin::ExecutableSourceName(), "Cannot find the executable's directory.");
    return 1;
  }
  // The claim lasts until main returns, after the service has stopped and saved.
  pelorin::TPidFile pid_file;
  if (!pid_file.Acquire(*app_dir)) {
    pelorin::WriteEventLog(pelorin::ExecutableSourceName(), pid_file.Reason());
    return 1;
  }
  return pelorin::RunServiceProcess(*app_dir);
}
