// The system event log of the service host: syslog at error priority, one entry
// per call, under a source name used as the syslog ident. Called on the main
// thread (service handlers and the save timer run there).
#ifndef PELORIN_SERVICE_EVENT_LOG_H_
#define PELORIN_SERVICE_EVENT_LOG_H_

#include <string>

namespace pelorin {

inline constexpr char kServiceName[] = "PelorinService";

// One error entry `text` under `source`. Never throws.
void WriteEventLog(const std::string& source, const std::string& text) noexcept;

// The executable's file name, the source of entries that are not a service
// handler's ("pelorind").
std::string ExecutableSourceName();

}  // namespace pelorin

#endif  // PELORIN_SERVICE_EVENT_LOG_H_
