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
         "Restart=on-failure\n"
         "\n"
         "[Install]\n"
         "WantedBy=multi-user.target\n";
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
