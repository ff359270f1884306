#include "service/unit_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>

#include "io/durable_file.h"

namespace pelorin {
namespace {

constexpr std::size_t kMaxUnitNameLength = 240;  // systemd allows 255 with the suffix

bool IsUnitNameCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
         c == '.' || c == ':';
}

bool HasControlCharacter(std::string_view text) {
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) return true;
  }
  return false;
}

// Letters, digits and "-_.:" only: no "/" can lead out of the unit directory.
bool IsPlainUnitName(const std::string& name) {
  bool ok = !name.empty() && name.size() <= kMaxUnitNameLength && name.front() != '.';
  for (const char c : name) ok = ok && IsUnitNameCharacter(c);
  return ok;
}

TSvcResult BadName(const std::string& name) {
  return TSvcResult::Failure("The service name \"" + name + "\" cannot name a systemd unit");
}

// systemd resolves "%" specifiers in every value; "%%" is a plain percent sign.
std::string EscapeSpecifiers(std::string_view text) {
  std::string out;
  for (const char c : text) {
    out += c;
    if (c == '%') out += '%';
  }
  return out;
}

// The executable as the first and only word of ExecStart. A plain path stays as
// it is; any other is quoted, with "\" and "\"" escaped, "$" doubled so that it
// is not taken for a variable, and "%" doubled as in every value.
std::string ExecStartWord(std::string_view path) {
  bool plain = true;
  for (const char c : path) {
    if (!IsUnitNameCharacter(c) && c != '/' && c != '+') plain = false;
  }
  if (plain) return std::string(path);
  std::string out = "\"";
  for (const char c : path) {
    if (c == '\\' || c == '"') out += '\\';
    if (c == '$' || c == '%') out += c;
    out += c;
  }
  return out + "\"";
}

// A path as one word of a list setting (ReadWritePaths=): quoted when it holds
// anything but plain characters, "%" doubled as in every value. "$" stays: these
// settings do not expand variables.
std::string PathListWord(std::string_view path) {
  bool plain = true;
  for (const char c : path) {
    if (!IsUnitNameCharacter(c) && c != '/' && c != '+') plain = false;
  }
  if (plain) return std::string(path);
  std::string out = "\"";
  for (const char c : path) {
    if (c == '\\' || c == '"') out += '\\';
    if (c == '%') out += c;
    out += c;
  }
  return out + "\"";
}

// The directory that holds the executable: the application directory, where the
// service keeps its stores, journal, backups, logs and pid file.
std::string_view DirectoryOf(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

// The sandbox. The service needs to write only its application directory, to
// listen on TCP and to talk to systemd and syslog over local sockets; everything
// else a compromised process could reach is taken away. Each line is one of
// the checks of `systemd-analyze security`.
std::string SandboxLines(const TServiceEntry& entry) {
  const std::string app_dir = PathListWord(DirectoryOf(entry.BinaryPath));
  std::string lines =
      "User=" + std::string(kServiceAccount) + "\n"
      "Group=" + std::string(kServiceAccount) + "\n"
      // Stores, journal and logs are the contacts themselves: no one else reads them.
      "UMask=0077\n"
      // Two listeners (plain and TLS) at their connection cap each, and the
      // descriptors the HTTP layer keeps back for stores, journal, log and pages.
      "LimitNOFILE=" + std::to_string(kUnitOpenFileLimit) + "\n"
      "NoNewPrivileges=yes\n"
      "ProtectSystem=strict\n"
      "ReadWritePaths=" + app_dir + "\n"
      // Writable as the directory around it is, the program could replace itself.
      "ReadOnlyPaths=" + PathListWord(entry.BinaryPath) + "\n"
      "ProtectHome=yes\n"
      "PrivateTmp=yes\n"
      "PrivateDevices=yes\n"
      "DevicePolicy=closed\n"
      "ProtectKernelTunables=yes\n"
      "ProtectKernelModules=yes\n"
      "ProtectKernelLogs=yes\n"
      "ProtectControlGroups=yes\n"
      "ProtectClock=yes\n"
      "ProtectHostname=yes\n"
      "ProtectProc=invisible\n"
      "ProcSubset=pid\n"
      "RestrictNamespaces=yes\n"
      "RestrictRealtime=yes\n"
      "RestrictSUIDSGID=yes\n"
      "LockPersonality=yes\n"
      "MemoryDenyWriteExecute=yes\n"
      "RemoveIPC=yes\n"
      "RestrictAddressFamilies=AF_INET AF_INET6 AF_UNIX\n"
      "SystemCallArchitectures=native\n"
      "SystemCallFilter=@system-service\n"
      "SystemCallFilter=~@privileged\n"
      "SystemCallErrorNumber=EPERM\n";
  if (entry.PrivilegedPort) {
    // The one privilege a port below 1024 takes. A private user namespace would
    // hold it in vain: the network belongs to the host's namespace.
    lines +=
        "CapabilityBoundingSet=CAP_NET_BIND_SERVICE\n"
        "AmbientCapabilities=CAP_NET_BIND_SERVICE\n";
  } else {
    lines +=
        "CapabilityBoundingSet=\n"
        "PrivateUsers=yes\n";
  }
  return lines;
}

}  // namespace

std::string UnitFileName(const std::string& service_name) { return service_name + ".service"; }

TSvcResult UnitFileText(const TServiceEntry& entry, std::string& text) {
  if (!IsPlainUnitName(entry.ServiceName)) return BadName(entry.ServiceName);
  if (entry.BinaryPath.empty() || entry.BinaryPath.front() != '/') {
    return TSvcResult::Failure("The executable's path \"" + entry.BinaryPath + "\" is not a full path");
  }
  if (HasControlCharacter(entry.BinaryPath) || HasControlCharacter(entry.DisplayName)) {
    return TSvcResult::Failure("The executable's path or the display name holds a control character");
  }
  text = "[Unit]\n"
         "Description=" + EscapeSpecifiers(entry.DisplayName) + "\n"
         "\n"
         "[Service]\n"
         "Type=notify\n"
         "ExecStart=" + ExecStartWord(entry.BinaryPath) + "\n"
         "Restart=on-failure\n" +
         SandboxLines(entry) +
         "\n"
         "[Install]\n"
         "WantedBy=multi-user.target\n"
         // The name a Debian administrator types (systemctl status pelorin); the
         // control commands keep using the service name.
         "Alias=" + std::string(kUnitAlias) + "\n";
  return TSvcResult::Success();
}

TSvcResult WriteUnitFile(const std::string& directory, const TServiceEntry& entry) {
  std::string text;
  if (TSvcResult made = UnitFileText(entry, text); !made) return made;
  const std::string path = directory + "/" + UnitFileName(entry.ServiceName);
  // systemd never sees half a unit, and an installed one is never replaced.
  const int error = CreateFileDurably(path, text, 0644);
  if (error == 0) return TSvcResult::Success();
  if (error == EEXIST) {
    return TSvcResult::Failure("The service " + entry.ServiceName + " is already installed (" + path + " exists)");
  }
  return TSvcResult::FromErrno(error);
}

TSvcResult RemoveUnitFile(const std::string& directory, const std::string& service_name) {
  if (!IsPlainUnitName(service_name)) return BadName(service_name);
  const std::string path = directory + "/" + UnitFileName(service_name);
  if (::unlink(path.c_str()) == 0) return TSvcResult::Success();
  if (errno == ENOENT) {
    return TSvcResult::Failure("The service " + service_name + " is not installed (" + path + " does not exist)");
  }
  return TSvcResult::FromErrno(errno);
}

}  // namespace pelorin
