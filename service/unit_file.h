// The systemd unit of an installed service: its text, written into a unit
// directory or removed from it. Used by the systemd manager on the installing
// thread; the directory is a parameter so that the text can be checked elsewhere.
#ifndef PELORIN_SERVICE_UNIT_FILE_H_
#define PELORIN_SERVICE_UNIT_FILE_H_

#include <string>

#include "service/service_manager.h"

namespace pelorin {

inline constexpr char kSystemdUnitDirectory[] = "/etc/systemd/system";

// The unprivileged account the service runs as; the package makes it, and
// whoever installs from a build makes it before /INSTALL.
inline constexpr char kServiceAccount[] = "pelorin";

// The unit's second name, the one a Debian administrator types.
inline constexpr char kUnitAlias[] = "pelorin.service";

// Two listeners of 16,384 connections each (the HTTP layer's cap) and the 128
// descriptors it keeps back beside them.
inline constexpr int kUnitOpenFileLimit = 2 * 16384 + 128;

// "PelorinService" gives "PelorinService.service".
std::string UnitFileName(const std::string& service_name);

// The unit text for `entry` into `text`: the service runs as kServiceAccount in a
// sandbox that may write only the executable's directory. Fails, leaving `text` alone, for a name
// that is not a plain unit name, a path that is not absolute, or any control
// character: a line break would add directives of its own to the unit.
TSvcResult UnitFileText(const TServiceEntry& entry, std::string& text);

// Writes directory/<name>.service with mode 0644, whole or not at all. Fails when
// the file already exists: an installed entry is removed before it is made anew.
TSvcResult WriteUnitFile(const std::string& directory, const TServiceEntry& entry);

// Removes directory/<name>.service; fails when it does not exist.
TSvcResult RemoveUnitFile(const std::string& directory, const std::string& service_name);

}  // namespace pelorin

#endif  // PELORIN_SERVICE_UNIT_FILE_H_
