#include "service/event_log.h"

#include <errno.h>  // program_invocation_short_name
#include <syslog.h>

namespace pelorin {

void WriteEventLog(const std::string& source, const std::string& text) noexcept {
  // openlog keeps the ident pointer, so the entry is written before `source` may go.
  ::openlog(source.c_str(), LOG_PID, LOG_DAEMON);
  ::syslog(LOG_ERR, "%s", text.c_str());
  ::closelog();
}

std::string ExecutableSourceName() { return program_invocation_short_name; }

}  // namespace pelorin
